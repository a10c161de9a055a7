# TensorRT for each major: a real installation when TensorRT<N>_ROOT names one, the stand-in
# under platform/tensorrt otherwise. Consumers link inferlet::tensorrt7 or inferlet::tensorrt8.
include_guard(GLOBAL)

add_subdirectory(${PROJECT_SOURCE_DIR}/platform/tensorrt ${PROJECT_BINARY_DIR}/platform/tensorrt)

# The majors with a deliverable, the first one the default of the tools.
set(INFERLET_TENSORRT_MAJORS 8 7)
foreach(major IN LISTS INFERLET_TENSORRT_MAJORS)
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
