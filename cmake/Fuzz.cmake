# libFuzzer build (KELTO_FUZZ=ON, clang only). Every flag of it is here: the
# whole tree gets the sanitizers and libFuzzer's coverage instrumentation, and
# only the targets made by kelto_fuzz_target link libFuzzer's main.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "KELTO_FUZZ needs clang (configure with CC=clang CXX=clang++)")
endif()

set(KELTO_FUZZ_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
add_compile_options(${KELTO_FUZZ_SANITIZERS} -fsanitize=fuzzer-no-link)
add_link_options(-fsanitize=address,undefined)

include(CheckCXXSourceCompiles)
set(CMAKE_REQUIRED_FLAGS "-fsanitize=fuzzer")
set(CMAKE_REQUIRED_LINK_OPTIONS "-fsanitize=fuzzer")
check_cxx_source_compiles([[
  #include <cstddef>
  #include <cstdint>
  extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t*, std::size_t) { return 0; }
]] KELTO_HAVE_LIBFUZZER)
unset(CMAKE_REQUIRED_FLAGS)
unset(CMAKE_REQUIRED_LINK_OPTIONS)
if(NOT KELTO_HAVE_LIBFUZZER)
  message(FATAL_ERROR "clang cannot link -fsanitize=fuzzer here (on Debian: libclang-rt-dev)")
endif()

# kelto_fuzz_target(<name> DEPS <libraries...>): fuzz/<name>_fuzz.cpp as the
# executable <name>_fuzz, and a test "fuzz.<name>" that replays its corpus in
# fuzz/corpus/<name>/.
function(kelto_fuzz_target name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  add_executable(${name}_fuzz ${name}_fuzz.cpp)
  target_compile_options(${name}_fuzz PRIVATE ${KELTO_WARNINGS})
  target_include_directories(${name}_fuzz PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_options(${name}_fuzz PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name}_fuzz PRIVATE ${ARG_DEPS})
  set(corpus ${CMAKE_CURRENT_SOURCE_DIR}/corpus/${name})
  # -runs=0: run every corpus file once, mutate nothing, write nothing.
  add_test(NAME fuzz.${name} COMMAND ${name}_fuzz -runs=0 ${corpus})
  set_tests_properties(fuzz.${name} PROPERTIES
    ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
endfunction()
