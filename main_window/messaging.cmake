# The modem dialogues and the codec: plain C++ over narrow views of the window,
# testable without a display.
add_library(vestrel_messaging STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ucs2_codec.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sms_submission.cpp
  ${CMAKE_CURRENT_LIST_DIR}/staging.cpp
  ${CMAKE_CURRENT_LIST_DIR}/inbox_reader.cpp
)
target_link_libraries(vestrel_messaging PUBLIC vestrel_platform)
if(VESTREL_FUZZ)
  target_compile_options(vestrel_messaging PRIVATE -fsanitize=fuzzer-no-link)
endif()

# The same over the window's port and widgets.
if(TARGET vestrel_comport)
  add_library(vestrel_messaging_form STATIC
    ${CMAKE_CURRENT_LIST_DIR}/comport_modem.cpp
    ${CMAKE_CURRENT_LIST_DIR}/form_messaging.cpp
  )
  target_link_libraries(vestrel_messaging_form
    PUBLIC vestrel_messaging vestrel_comport vestrel_platform_qt Qt6::Widgets)
endif()
