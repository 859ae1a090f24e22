# Installation and the Debian package.
#
# `cmake --install` lays out one folder: the program, its help document, a
# default Pelmora.ini and the modem simulator. The .deb puts that folder at
# /opt/vestrel and adds what Debian expects around it (the `desktop` and
# `debian` components, which only the package installs, so a plain install into
# a folder never writes outside it): a desktop entry and the icon in the hicolor
# theme, /usr/bin/vestrel and /usr/bin/vestrel-sms, copyright, changelog,
# manual pages, vestrel-sms's bash completion, and the
# configuration as /etc/vestrel/Pelmora.ini, a conffile, with
# /opt/vestrel/Pelmora.ini a link to it. The program reads and, when it is
# missing, creates the file through that link.

set(help_doc "Подготовка программы к работе.doc")

install(TARGETS Vestrel RUNTIME DESTINATION . COMPONENT program)
install(FILES "${CMAKE_SOURCE_DIR}/resources/help/${help_doc}" DESTINATION . COMPONENT program)
install(FILES "${CMAKE_SOURCE_DIR}/resources/Pelmora.ini" DESTINATION . COMPONENT folder_ini)
install(PROGRAMS $<TARGET_FILE:modem-sim> DESTINATION . RENAME vestrel-modem-sim COMPONENT program)
# Stripping (the package's) covers install(TARGETS) only; the renamed simulator
# is stripped here, and both lose the compiler's .comment notes as Debian wants.
install(CODE "set(vestrel_strip \"${CMAKE_STRIP}\")" COMPONENT program)
install(CODE [[
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(vestrel_binary Vestrel vestrel-modem-sim)
      execute_process(COMMAND "${vestrel_strip}" --strip-unneeded --remove-section=.comment
                              "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${vestrel_binary}"
                      COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()
]] COMPONENT program)
install(DIRECTORY "${CMAKE_SOURCE_DIR}/tools/modem-sim/scenarios/" DESTINATION scenarios
        COMPONENT program FILES_MATCHING PATTERN "*.json")

# The hicolor icons are the images of the program icon, taken out at build time.
find_program(VESTREL_CONVERT convert REQUIRED)
set(icon_sizes 256 128 96 72 64 48 32 24 16)
set(icon_pngs)
set(icon_index 0)
foreach(size IN LISTS icon_sizes)
  set(png "${CMAKE_BINARY_DIR}/icons/${size}x${size}/vestrel.png")
  add_custom_command(OUTPUT "${png}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_BINARY_DIR}/icons/${size}x${size}"
    COMMAND ${VESTREL_CONVERT} "${CMAKE_SOURCE_DIR}/resources/icon/vestrel.ico[${icon_index}]" "PNG32:${png}"
    DEPENDS "${CMAKE_SOURCE_DIR}/resources/icon/vestrel.ico"
    VERBATIM)
  list(APPEND icon_pngs "${png}")
  install(FILES "${png}" DESTINATION /usr/share/icons/hicolor/${size}x${size}/apps
          COMPONENT desktop EXCLUDE_FROM_ALL)
  math(EXPR icon_index "${icon_index} + 1")
endforeach()
add_custom_target(vestrel_hicolor_icons ALL DEPENDS ${icon_pngs})
install(FILES "${CMAKE_SOURCE_DIR}/resources/desktop/vestrel.desktop"
        DESTINATION /usr/share/applications COMPONENT desktop EXCLUDE_FROM_ALL)
include(${CMAKE_CURRENT_LIST_DIR}/Debian.cmake)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vestrel)
set(CPACK_PACKAGE_VENDOR "Vestrel developers")
set(CPACK_PACKAGE_CONTACT "Vestrel developers <vestrel@example.org>")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Send and read SMS through a GSM modem on a serial port")
# Absolute destinations (the desktop component) need a staging DESTDIR; the
# folder itself goes to /opt/vestrel.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /opt/vestrel)
set(CPACK_PACKAGING_INSTALL_PREFIX /opt/vestrel)
set(CPACK_COMPONENTS_ALL program desktop debian)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
# Help's "Подготовка к работе" and the About box's links go to xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS xdg-utils)
# The administrator edits /etc/vestrel/Pelmora.ini; an upgrade must keep the port name.
configure_file("${CMAKE_SOURCE_DIR}/resources/desktop/conffiles.in"
               "${CMAKE_BINARY_DIR}/debian/conffiles" @ONLY)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${CMAKE_BINARY_DIR}/debian/conffiles")
set(CPACK_PACKAGE_DESCRIPTION [=[
Vestrel is a small desktop program through which an operator sends and
receives SMS with a GSM modem or phone on a serial port (a USB modem such as
/dev/ttyUSB0, or a COM port). It sends texts of any length, Cyrillic
included, as UCS-2 messages in parts of 70 characters; it reads the
messages stored in the phone's memory, shows each with its sender and send
time, and deletes it; it shows every command sent and every answer received.
Minimised, it waits in the desktop's notification area.

vestrel-sms does the same from a terminal, a cron job or a script: it sends
a text given on the command line or on standard input, reads and deletes the
stored messages (one line or JSON object each), lists the message archive,
and finds which serial port a modem answers on (vestrel-sms ports --probe).

The operator must be a member of the group dialout to open the serial
port. The port is set in /etc/vestrel/Pelmora.ini; a user may set their own
in ~/.config/vestrel/vestrel-sms.ini or VESTREL_PORT for vestrel-sms.

The package also holds the GSM modem simulator vestrel-modem-sim with
sample scenarios, for trying the program without a modem.]=])
include(CPack)
