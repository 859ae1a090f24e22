# The main window (Qt widgets over the port and the messaging logic).
if(TARGET vestrel_comport)
  add_library(vestrel_main_window STATIC
    ${CMAKE_CURRENT_LIST_DIR}/main_form.cpp
    ${CMAKE_CURRENT_LIST_DIR}/main_form.h
  )
  target_link_libraries(vestrel_main_window
    PUBLIC vestrel_comport vestrel_messaging_form vestrel_platform_qt Qt6::Widgets
    PRIVATE vestrel_program_icon vestrel_tray vestrel_about)
else()
  message(STATUS "vestrel_main_window: waits for the vestrel_comport library")
endif()
