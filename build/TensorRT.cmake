# TensorRT for each major: a real installation when TensorRT<N>_ROOT names one, the stand-in
# under platform/tensorrt otherwise. Consumers link inferlet::tensorrt<N> (7, 8, 10, 11);
# INFERLET_TENSORRT_MAJORS lists the majors this build has a TensorRT for.
include_guard(GLOBAL)

add_subdirectory(${PROJECT_SOURCE_DIR}/platform/tensorrt ${PROJECT_BINARY_DIR}/platform/tensorrt)

# The majors with a deliverable, the first one the default of the tools: those of 8, 7, 10 and 11
# that have a real TensorRT (TensorRT<N>_ROOT) or a stand-in.
set(INFERLET_TENSORRT_MAJORS "")
foreach(major 8 7 10 11)
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
