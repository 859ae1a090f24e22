# The `debian` component of the package: what Debian expects around the
# program's folder. Included by Packaging.cmake; nothing here is installed by a
# plain `cmake --install`.

set(debian_dir "${CMAKE_BINARY_DIR}/debian")
set(debian_sources "${CMAKE_SOURCE_DIR}/resources/debian")
file(MAKE_DIRECTORY "${debian_dir}/links")

# The links are made in the build tree and installed as links.
file(CREATE_LINK /etc/vestrel/Pelmora.ini "${debian_dir}/links/Pelmora.ini" SYMBOLIC)
file(CREATE_LINK /opt/vestrel/Vestrel "${debian_dir}/links/vestrel" SYMBOLIC)
install(FILES "${debian_dir}/links/Pelmora.ini" DESTINATION . COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES "${debian_dir}/links/vestrel" DESTINATION /usr/bin COMPONENT debian
        EXCLUDE_FROM_ALL)
install(FILES "${CMAKE_SOURCE_DIR}/resources/Pelmora.ini" DESTINATION /etc/vestrel
        COMPONENT debian EXCLUDE_FROM_ALL)

# changelog and manual page carry the project version; Debian wants both
# compressed without a time stamp.
find_program(VESTREL_GZIP gzip REQUIRED)
configure_file("${debian_sources}/changelog.in" "${debian_dir}/changelog" @ONLY)
configure_file("${debian_sources}/vestrel.1" "${debian_dir}/vestrel.1" @ONLY)
configure_file("${debian_sources}/vestrel-sms.1" "${debian_dir}/vestrel-sms.1" @ONLY)
set(debian_gz)
foreach(name changelog vestrel.1 vestrel-sms.1)
  add_custom_command(OUTPUT "${debian_dir}/${name}.gz"
    COMMAND ${VESTREL_GZIP} -9nkf "${debian_dir}/${name}"
    DEPENDS "${debian_dir}/${name}"
    VERBATIM)
  list(APPEND debian_gz "${debian_dir}/${name}.gz")
endforeach()
add_custom_target(vestrel_debian_docs ALL DEPENDS ${debian_gz})

install(FILES "${debian_sources}/copyright" "${debian_dir}/changelog.gz"
        DESTINATION /usr/share/doc/vestrel COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES "${debian_dir}/vestrel.1.gz" "${debian_dir}/vestrel-sms.1.gz"
        DESTINATION /usr/share/man/man1 COMPONENT debian EXCLUDE_FROM_ALL)
# vestrel-sms's bash completion, where bash-completion loads it on demand.
install(FILES "${CMAKE_SOURCE_DIR}/resources/bash-completion/vestrel-sms"
        DESTINATION /usr/share/bash-completion/completions COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES "${debian_sources}/lintian-overrides" DESTINATION /usr/share/lintian/overrides
        RENAME vestrel COMPONENT debian EXCLUDE_FROM_ALL)
# The watch as a service, one instance per port; installed disabled.
install(FILES "${CMAKE_SOURCE_DIR}/resources/systemd/vestrel-sms-watch@.service"
        DESTINATION /usr/lib/systemd/system COMPONENT debian EXCLUDE_FROM_ALL)
