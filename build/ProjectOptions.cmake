# Settings shared by every target of the project, carried as usage requirements of one
# interface target instead of global flags.
include_guard(GLOBAL)

option(INFERLET_BUILD_TESTS "Build the test suites" ON)
option(INFERLET_BUILD_BENCH "Build the benchmarks (needs Google Benchmark)" ON)
option(INFERLET_BUILD_FUZZERS "Build the libFuzzer targets (needs clang)" OFF)
set(INFERLET_SANITIZE "" CACHE STRING "Sanitizers for every target: '', 'address,undefined' or 'thread'")

set(CMAKE_POSITION_INDEPENDENT_CODE ON)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)

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

# Shared libraries of the project find each other in the build tree without LD_LIBRARY_PATH.
set(CMAKE_BUILD_RPATH_USE_ORIGIN ON)
