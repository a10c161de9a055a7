# What to build, and the settings shared by every target of the project, carried as usage
# requirements of one interface target instead of global flags. Tests, tools and benchmarks are on by
# default only in a build of this tree itself, so that a host adding it with add_subdirectory needs
# none of their dependencies (GoogleTest, Google Benchmark, CLI11, fmt).
include_guard(GLOBAL)

option(INFERLET_BUILD_TESTS "Build the test suites (needs GoogleTest)" ${PROJECT_IS_TOP_LEVEL})
option(INFERLET_BUILD_APPS "Build inferlet-run (needs CLI11, fmt, nlohmann_json)" ${PROJECT_IS_TOP_LEVEL})
option(INFERLET_BUILD_BENCH "Build the benchmarks (needs Google Benchmark)" ${PROJECT_IS_TOP_LEVEL})
option(INFERLET_BUILD_FUZZERS "Build the libFuzzer targets (needs clang)" OFF)
set(INFERLET_SANITIZE "" CACHE STRING "Sanitizers for every target: '', 'address,undefined' or 'thread'")

add_library(inferlet_project_options INTERFACE)
add_library(inferlet::project_options ALIAS inferlet_project_options)
target_compile_features(inferlet_project_options INTERFACE cxx_std_17)
target_compile_options(inferlet_project_options INTERFACE
  $<$<COMPILE_LANG_AND_ID:CXX,GNU,Clang>:-Wall -Wextra>
  $<$<COMPILE_LANG_AND_ID:C,GNU,Clang>:-Wall -Wextra>)
if(INFERLET_SANITIZE)
  target_compile_options(inferlet_project_options INTERFACE
    -fsanitize=${INFERLET_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(inferlet_project_options INTERFACE -fsanitize=${INFERLET_SANITIZE})
endif()

# Test code is compiled without optimization whatever the build type: the suites are compiled once
# per TensorRT major, and at -O2 their compilation is most of the build while their own speed does
# not matter. What they test (the library, the stand-ins, the tools) keeps the build type's flags.
add_library(inferlet_test_options INTERFACE)
add_library(inferlet::test_options ALIAS inferlet_test_options)
target_link_libraries(inferlet_test_options INTERFACE inferlet_project_options)
target_compile_options(inferlet_test_options INTERFACE $<$<COMPILE_LANG_AND_ID:CXX,GNU,Clang>:-O0>)
# Full debug information in test code is for stepping through a failing case; line tables (-g1) are
# enough for a backtrace or a sanitizer's report, and compile about a fifth faster. CI takes those.
option(INFERLET_TEST_DEBUG_INFO "Full debug information in test code (OFF: line tables only)" ON)
if(NOT INFERLET_TEST_DEBUG_INFO)
  target_compile_options(inferlet_test_options INTERFACE $<$<COMPILE_LANG_AND_ID:CXX,GNU,Clang>:-g1>)
endif()
# The same choice for the rest of the code, in the build types that carry debug information: CI takes
# line tables everywhere (sanitizer reports, valgrind and callgrind need no more), which compiles the
# library, the stand-ins and the tools about a fifth faster.
option(INFERLET_DEBUG_INFO "Full debug information where the build type has it (OFF: line tables only)" ON)
if(NOT INFERLET_DEBUG_INFO)
  target_compile_options(inferlet_project_options INTERFACE
    $<$<AND:$<COMPILE_LANG_AND_ID:CXX,GNU,Clang>,$<CONFIG:Debug,RelWithDebInfo>>:-g1>
    $<$<AND:$<COMPILE_LANG_AND_ID:C,GNU,Clang>,$<CONFIG:Debug,RelWithDebInfo>>:-g1>)
endif()
