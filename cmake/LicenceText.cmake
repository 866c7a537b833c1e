# Writes the bundle's licence text: every shipped component's notice, each
# under a heading, in the order of the manifest. Run as a build step:
#   cmake -D MANIFEST=<file> -D OUTPUT=<file> -P LicenceText.cmake
# The manifest holds one "<heading>|<file>" per line.
file(STRINGS "${MANIFEST}" parts ENCODING UTF-8)
set(rule "================================================================================")
set(contents "")
set(notices "")
foreach(part IN LISTS parts)
  string(FIND "${part}" "|" bar)
  string(SUBSTRING "${part}" 0 ${bar} heading)
  math(EXPR start "${bar} + 1")
  string(SUBSTRING "${part}" ${start} -1 path)
  if(NOT EXISTS "${path}")
    message(FATAL_ERROR "the notice of ${heading} is missing: ${path}")
  endif()
  file(READ "${path}" text)
  string(APPEND contents "  ${heading}\n")
  string(APPEND notices "\n${rule}\n${heading}\n${rule}\n\n${text}")
endforeach()

file(WRITE "${OUTPUT}.part" "Kelto Sync ships the programs and libraries listed here. The licence and\n"
  "the notices of each follow, as its own files give them.\n\n${contents}${notices}")
file(RENAME "${OUTPUT}.part" "${OUTPUT}")
