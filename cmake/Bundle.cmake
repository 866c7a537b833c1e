# Assembles the application bundle at ${KELTO_BUNDLE_DIR}: the rsync
# executable in Contents/Helpers, copied from the installed rsync so that the
# locator finds a real program in every build.
set(KELTO_BUNDLE_DIR ${CMAKE_BINARY_DIR}/bundle)
find_program(KELTO_SYSTEM_RSYNC rsync REQUIRED)

set(_bundled_rsync ${KELTO_BUNDLE_DIR}/Contents/Helpers/rsync)
add_custom_command(
  OUTPUT ${_bundled_rsync}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KELTO_BUNDLE_DIR}/Contents/Helpers
  COMMAND ${CMAKE_COMMAND} -E copy ${KELTO_SYSTEM_RSYNC} ${_bundled_rsync}
  DEPENDS ${KELTO_SYSTEM_RSYNC}
  COMMENT "Copying rsync into the bundle"
  VERBATIM)
add_custom_target(KeltoBundle ALL DEPENDS ${_bundled_rsync})

# Contents/Info.ini: the version, the build number and the update feed
# (none unless the build names one: there is no published feed).
set(KELTO_BUILD_NUMBER "1" CACHE STRING "Build number written to the bundle's Info.ini")
set(KELTO_UPDATE_FEED_URL "" CACHE STRING "URL of the update feed's JSON file; empty for none")
configure_file(${CMAKE_CURRENT_LIST_DIR}/Info.ini.in ${KELTO_BUNDLE_DIR}/Contents/Info.ini @ONLY)

# Contents/Resources/Licenses: COPYING, the licence text of every shipped
# component, gathered from the files the system's packages install (their
# copyright files, the GPL and LGPL texts) and the compiled-in symbols'
# licence; and, only when the build names one, rsync's source archive.
set(KELTO_RSYNC_SOURCE_ARCHIVE "" CACHE FILEPATH "rsync source archive (.tar.gz) to bundle beside the licence")
set(_licenses ${KELTO_BUNDLE_DIR}/Contents/Resources/Licenses)

# The copyright file of the package that installed `file`. A component whose
# notice cannot be found stops the configuration: the bundle would ship it
# without.
function(kelto_package_notice file result)
  get_filename_component(_real "${file}" REALPATH)
  execute_process(COMMAND dpkg-query -S "${_real}" OUTPUT_VARIABLE _owner RESULT_VARIABLE _status
                  ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(REGEX MATCH "^[^:,]+" _package "${_owner}")
  set(_notice /usr/share/doc/${_package}/copyright)
  if(NOT _status EQUAL 0 OR NOT _package OR NOT EXISTS ${_notice})
    message(FATAL_ERROR "no package notice found for ${file}")
  endif()
  set(${result} ${_notice} PARENT_SCOPE)
endfunction()

# One file of each shipped library, by which its package is found.
function(kelto_library_file name result)
  find_library(_found_${name} NAMES ${name} REQUIRED)
  set(${result} ${_found_${name}} PARENT_SCOPE)
endfunction()

set(_license_parts
  "rsync: GNU General Public License version 3|/usr/share/common-licenses/GPL-3")
kelto_package_notice(${KELTO_SYSTEM_RSYNC} _notice)
list(APPEND _license_parts "rsync: copyright notices|${_notice}")
if(KELTO_BUILD_KIT)
  get_target_property(_qt_core Qt6::Core LOCATION)
  kelto_package_notice(${_qt_core} _notice)
  list(APPEND _license_parts "Qt 6: GNU Lesser General Public License version 3|/usr/share/common-licenses/LGPL-3"
       "Qt 6: copyright notices|${_notice}")
  get_target_property(_qt_svg Qt6::Svg LOCATION)
  kelto_package_notice(${_qt_svg} _notice)
  list(APPEND _license_parts "Qt SVG: copyright notices|${_notice}"
       "Tabler Icons (the symbols drawn in the windows)|${PROJECT_SOURCE_DIR}/FenraCore/Symbols/LICENSE")
  kelto_library_file(icuuc _icu)
  kelto_package_notice(${_icu} _notice)
  list(APPEND _license_parts "ICU|${_notice}")
endif()
kelto_package_notice(${nlohmann_json_DIR}/nlohmann_jsonConfig.cmake _notice)
list(APPEND _license_parts "JSON for Modern C++ (nlohmann-json)|${_notice}")
foreach(_component "utf8proc|utf8proc" "libuuid|uuid" "libsodium|sodium" "{fmt}|fmt" "date|date-tz"
                   "SQLite|sqlite3")
  string(REPLACE "|" ";" _component "${_component}")
  list(GET _component 0 _heading)
  list(GET _component 1 _library)
  kelto_library_file(${_library} _file)
  kelto_package_notice(${_file} _notice)
  list(APPEND _license_parts "${_heading}|${_notice}")
endforeach()

set(_license_manifest ${CMAKE_BINARY_DIR}/licences.txt)
string(REPLACE ";" "\n" _manifest_text "${_license_parts}")
file(CONFIGURE OUTPUT ${_license_manifest} CONTENT "${_manifest_text}\n")
set(_license_depends ${_license_manifest} ${CMAKE_CURRENT_LIST_DIR}/LicenceText.cmake)
foreach(_part IN LISTS _license_parts)
  string(REGEX REPLACE "^[^|]*[|]" "" _file "${_part}")
  list(APPEND _license_depends ${_file})
endforeach()
set(_license_outputs ${_licenses}/COPYING)
set(_license_commands
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_licenses}
  COMMAND ${CMAKE_COMMAND} -D MANIFEST=${_license_manifest} -D OUTPUT=${_licenses}/COPYING
          -P ${CMAKE_CURRENT_LIST_DIR}/LicenceText.cmake)
if(KELTO_RSYNC_SOURCE_ARCHIVE)
  get_filename_component(_archive_name ${KELTO_RSYNC_SOURCE_ARCHIVE} NAME)
  if(NOT _archive_name MATCHES "\\.tar\\.gz$")
    message(FATAL_ERROR "KELTO_RSYNC_SOURCE_ARCHIVE must name a .tar.gz file")
  endif()
  list(APPEND _license_outputs ${_licenses}/${_archive_name})
  list(APPEND _license_commands COMMAND ${CMAKE_COMMAND} -E copy ${KELTO_RSYNC_SOURCE_ARCHIVE} ${_licenses}/${_archive_name})
  list(APPEND _license_depends ${KELTO_RSYNC_SOURCE_ARCHIVE})
endif()
add_custom_command(
  OUTPUT ${_license_outputs}
  ${_license_commands}
  DEPENDS ${_license_depends}
  COMMENT "Gathering the licences into the bundle"
  VERBATIM)
add_custom_target(KeltoBundleLicenses ALL DEPENDS ${_license_outputs})
add_dependencies(KeltoBundle KeltoBundleLicenses)
