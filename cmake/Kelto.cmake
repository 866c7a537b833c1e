# kelto_library(<name> DEPS <targets...>)
# Builds every .cpp of the calling folder (recursively, tests excluded) into a
# static library and, when tests are on, every *_test.cpp into <name>Tests.
# EXCLUDE <regex> leaves out the sources of sub-folders built on their own.
function(kelto_library name)
  cmake_parse_arguments(ARG "" "EXCLUDE" "DEPS;TEST_DEPS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(ARG_EXCLUDE)
    list(FILTER sources EXCLUDE REGEX "${ARG_EXCLUDE}")
  endif()
  set(tests ${sources})
  list(FILTER sources EXCLUDE REGEX "_test\\.cpp$")
  list(FILTER tests INCLUDE REGEX "_test\\.cpp$")

  if(NOT sources)
    return()  # nothing built here yet
  endif()

  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${KELTO_WARNINGS})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})

  if(KELTO_BUILD_TESTS AND tests)
    add_executable(${name}Tests ${tests})
    target_compile_options(${name}Tests PRIVATE ${KELTO_WARNINGS})
    target_link_libraries(${name}Tests PRIVATE ${name} ${ARG_TEST_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
    gtest_discover_tests(${name}Tests DISCOVERY_MODE PRE_TEST
      PROPERTIES ENVIRONMENT "KELTO_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
  endif()
endfunction()
