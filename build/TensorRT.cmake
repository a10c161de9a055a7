# TensorRT for each major: a real installation when TensorRT<N>_ROOT names one, the stand-in
# under platform/tensorrt otherwise. Consumers link inferlet::tensorrt<N>; INFERLET_TENSORRT_MAJORS
# lists the majors this build has a TensorRT for.
include_guard(GLOBAL)

# The TensorRT majors the project serves, in the order the tools try an engine of unknown major (the
# first is their default). Everything that names the majors takes them from here: the deliverables,
# the sessions libraries, the test suites, the stand-in's libraries, and the tools' help and messages. A major
# of 10 or more uses TensorRT's named-tensor interface, an earlier one its binding-index interface.
set(INFERLET_KNOWN_TENSORRT_MAJORS 8 7 10 11)

# inferlet_majors_in_words(<out> <majors...>): the majors ascending, as "a, b or c".
function(inferlet_majors_in_words out)
  set(majors ${ARGN})
  list(SORT majors COMPARE NATURAL)
  list(POP_BACK majors last)
  list(JOIN majors ", " words)
  if(words)
    set(${out} "${words} or ${last}" PARENT_SCOPE)
  else()
    set(${out} "${last}" PARENT_SCOPE)
  endif()
endfunction()

# inferlet_other_major_of_generation(<out> <major>): another known major of the same TensorRT interface
# generation, the next one in the list after <major> (wrapping round); 0 when it has none.
function(inferlet_other_major_of_generation out major)
  set(same)
  foreach(m IN LISTS INFERLET_KNOWN_TENSORRT_MAJORS)
    if((m GREATER_EQUAL 10) STREQUAL (major GREATER_EQUAL 10))
      list(APPEND same ${m})
    endif()
  endforeach()
  list(FIND same ${major} at)
  list(LENGTH same count)
  if(count LESS 2)
    set(${out} 0 PARENT_SCOPE)
  else()
    math(EXPR next "(${at} + 1) % ${count}")
    list(GET same ${next} other)
    set(${out} ${other} PARENT_SCOPE)
  endif()
endfunction()

# The majors this build makes a deliverable for, in the order above: all by default. A build for fewer
# (CI's sanitizer stages, a host that uses one release) names them; the stand-in is built for those alone.
set(INFERLET_MAJORS "${INFERLET_KNOWN_TENSORRT_MAJORS}" CACHE STRING "TensorRT majors this build makes deliverables for")
set(_inferlet_wanted_majors)
foreach(major IN LISTS INFERLET_KNOWN_TENSORRT_MAJORS)
  if(major IN_LIST INFERLET_MAJORS)
    list(APPEND _inferlet_wanted_majors ${major})
  endif()
endforeach()
foreach(major IN LISTS INFERLET_MAJORS)
  if(NOT major IN_LIST INFERLET_KNOWN_TENSORRT_MAJORS)
    message(FATAL_ERROR "INFERLET_MAJORS names TensorRT ${major}; the known majors are ${INFERLET_KNOWN_TENSORRT_MAJORS}")
  endif()
endforeach()

# The majors whose test suites are built (the library's and the stand-in's), all by default; the
# sanitizer stages of CI build fewer (.ci/run says which and why). Majors without a TensorRT in the
# build are left out.
set(INFERLET_TEST_MAJORS "${INFERLET_KNOWN_TENSORRT_MAJORS}" CACHE STRING "TensorRT majors whose test suites are built")
set(TRT_STANDIN_TEST_MAJORS ${INFERLET_TEST_MAJORS})

set(TRT_STANDIN_MAJORS ${_inferlet_wanted_majors})
add_subdirectory(${PROJECT_SOURCE_DIR}/platform/tensorrt ${PROJECT_BINARY_DIR}/platform/tensorrt)

# The majors with a deliverable: the known ones that have a real TensorRT (TensorRT<N>_ROOT) or a
# stand-in, in the same order.
set(INFERLET_TENSORRT_MAJORS "")
foreach(major IN LISTS _inferlet_wanted_majors)
  if(NOT TensorRT${major}_ROOT AND NOT TARGET nvinfer${major})
    message(STATUS "inferlet: no TensorRT ${major} (no TensorRT${major}_ROOT and no stand-in): not built")
    continue()
  endif()
  list(APPEND INFERLET_TENSORRT_MAJORS ${major})
  add_library(inferlet_tensorrt${major} INTERFACE)
  add_library(inferlet::tensorrt${major} ALIAS inferlet_tensorrt${major})
  if(TensorRT${major}_ROOT)
    find_path(TensorRT${major}_INCLUDE_DIR NvInfer.h PATHS ${TensorRT${major}_ROOT}
              PATH_SUFFIXES include NO_DEFAULT_PATH REQUIRED)
    find_library(TensorRT${major}_NVINFER NAMES libnvinfer.so.${major} nvinfer
                 PATHS ${TensorRT${major}_ROOT} PATH_SUFFIXES lib lib64 NO_DEFAULT_PATH REQUIRED)
    find_library(TensorRT${major}_PLUGIN NAMES libnvinfer_plugin.so.${major} nvinfer_plugin
                 PATHS ${TensorRT${major}_ROOT} PATH_SUFFIXES lib lib64 NO_DEFAULT_PATH REQUIRED)
    target_include_directories(inferlet_tensorrt${major} SYSTEM INTERFACE ${TensorRT${major}_INCLUDE_DIR})
    target_link_libraries(inferlet_tensorrt${major} INTERFACE
                          ${TensorRT${major}_NVINFER} ${TensorRT${major}_PLUGIN})
    message(STATUS "inferlet: TensorRT ${major} from ${TensorRT${major}_ROOT}")
  else()
    target_link_libraries(inferlet_tensorrt${major} INTERFACE nvinfer${major} nvinfer_plugin${major})
    message(STATUS "inferlet: TensorRT ${major} stand-in (platform/tensorrt)")
  endif()
endforeach()
