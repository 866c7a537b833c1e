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

# Contents/Resources/Licenses: the GPL text and, only when the build names
# one, rsync's source archive.
set(KELTO_RSYNC_SOURCE_ARCHIVE "" CACHE FILEPATH "rsync source archive (.tar.gz) to bundle beside the licence")
set(_licenses ${KELTO_BUNDLE_DIR}/Contents/Resources/Licenses)
set(_license_outputs ${_licenses}/COPYING)
set(_license_commands
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_licenses}
  COMMAND ${CMAKE_COMMAND} -E copy /usr/share/common-licenses/GPL-3 ${_licenses}/COPYING)
set(_license_depends /usr/share/common-licenses/GPL-3)
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
  COMMENT "Copying the licences into the bundle"
  VERBATIM)
add_custom_target(KeltoBundleLicenses ALL DEPENDS ${_license_outputs})
add_dependencies(KeltoBundle KeltoBundleLicenses)
