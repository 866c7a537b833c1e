# Assembles the application bundle at ${KELTO_BUNDLE_DIR}: for now the rsync
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
