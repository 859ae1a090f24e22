# The version description (resources/version/*.version) read by CMake, so that
# the Windows resource script is made from the same file as the Linux section,
# with no tool of ours run at build time (a cross build cannot run one).

# Reads DESCRIPTION; sets <prefix>_FILE_VERSION (the fixed file version,
# "1.0.0.27") in the caller's scope and, when RC_OUT is given, writes a
# resource script with the description's VERSIONINFO to RC_OUT.
function(vestrel_read_version_description description prefix)
  cmake_parse_arguments(ARG "" "RC_OUT" "" ${ARGN})
  file(STRINGS "${description}" lines ENCODING UTF-8)
  set(section "")
  set(fixed_lines "")
  set(translations "")
  set(blocks "")
  set(current_table "")
  set(table_body "")
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(line STREQUAL "" OR line MATCHES "^#")
      continue()
    endif()
    if(line MATCHES "^\\[([^]]*)\\]$")
      set(section "${CMAKE_MATCH_1}")
      if(NOT current_table STREQUAL "")
        string(APPEND blocks "    BLOCK \"${current_table}\"\n    BEGIN\n${table_body}    END\n")
        set(table_body "")
        set(current_table "")
      endif()
      if(section MATCHES "^strings ([0-9A-Fa-f]+)$")
        set(current_table "${CMAKE_MATCH_1}")
      endif()
      continue()
    endif()
    if(section STREQUAL "translations")
      if(NOT line MATCHES "^([0-9A-Fa-fx]+)[ \t]+([0-9A-Fa-fx]+)$")
        message(FATAL_ERROR "${description}: bad translation line: ${line}")
      endif()
      list(APPEND translations "${CMAKE_MATCH_1}, ${CMAKE_MATCH_2}")
      continue()
    endif()
    if(NOT line MATCHES "^([^=]*[^= \t])[ \t]*=[ \t]*(.*)$")
      message(FATAL_ERROR "${description}: bad line: ${line}")
    endif()
    set(name "${CMAKE_MATCH_1}")
    set(value "${CMAKE_MATCH_2}")
    if(section STREQUAL "fixed")
      if(name MATCHES "Version$")
        string(REPLACE "." "," value_rc "${value}")
        if(name STREQUAL "FileVersion")
          set(file_version "${value}")
          string(APPEND fixed_lines "FILEVERSION ${value_rc}\n")
        elseif(name STREQUAL "ProductVersion")
          string(APPEND fixed_lines "PRODUCTVERSION ${value_rc}\n")
        endif()
      else()
        string(TOUPPER "${name}" upper)
        string(APPEND fixed_lines "${upper} ${value}\n")
      endif()
    elseif(NOT current_table STREQUAL "")
      string(REPLACE "\\" "\\\\" value "${value}")
      string(REPLACE "\"" "\"\"" value "${value}")
      string(APPEND table_body "      VALUE \"${name}\", \"${value}\"\n")
    endif()
  endforeach()
  if(NOT current_table STREQUAL "")
    string(APPEND blocks "    BLOCK \"${current_table}\"\n    BEGIN\n${table_body}    END\n")
  endif()
  if(NOT file_version)
    message(FATAL_ERROR "${description}: no FileVersion under [fixed]")
  endif()
  set(${prefix}_FILE_VERSION "${file_version}" PARENT_SCOPE)
  if(ARG_RC_OUT)
    list(JOIN translations ", " translation_values)
    file(WRITE "${ARG_RC_OUT}.tmp"
      "// Made by CMake from ${description}; edit that file, not this one.\n"
      "#pragma code_page(65001)\n"
      "1 VERSIONINFO\n"
      "${fixed_lines}"
      "BEGIN\n"
      "  BLOCK \"StringFileInfo\"\n"
      "  BEGIN\n"
      "${blocks}"
      "  END\n"
      "  BLOCK \"VarFileInfo\"\n"
      "  BEGIN\n"
      "    VALUE \"Translation\", ${translation_values}\n"
      "  END\n"
      "END\n")
    file(COPY_FILE "${ARG_RC_OUT}.tmp" "${ARG_RC_OUT}" ONLY_IF_DIFFERENT)
    file(REMOVE "${ARG_RC_OUT}.tmp")
  endif()
endfunction()
