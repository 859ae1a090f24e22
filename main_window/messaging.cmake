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
