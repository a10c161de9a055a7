# GoogleTest's and GoogleMock's headers are most of a test source's compile time, and every suite is
# compiled once per TensorRT major: they are compiled once instead, into one precompiled header that the
# test targets reuse (inferlet_use_test_pch). Its target has the test targets' options and none of their
# definitions: GCC takes a precompiled header only where each macro it was made with is defined the same
# way, so the definitions of each major may add to it but not differ from it. GCC only; elsewhere, or
# with INFERLET_TEST_PCH off, nothing changes.
include_guard(GLOBAL)

option(INFERLET_TEST_PCH "Precompile GoogleTest's headers once for the test targets (GCC)" ON)

function(inferlet_use_test_pch target)
  if(NOT INFERLET_TEST_PCH OR NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    return()
  endif()
  if(NOT TARGET inferlet_test_pch)
    find_package(GTest REQUIRED)
    add_library(inferlet_test_pch STATIC ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/test_pch.cpp)
    target_link_libraries(inferlet_test_pch PRIVATE GTest::gmock GTest::gtest inferlet::test_options)
    target_precompile_headers(inferlet_test_pch PRIVATE <gmock/gmock.h> <gtest/gtest.h>)
  endif()
  target_precompile_headers(${target} REUSE_FROM inferlet_test_pch)
endfunction()
