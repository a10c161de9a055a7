# Which CUDA runtime the library (and the TensorRT stand-in) run on.
#   cuda     - the toolkit's libcudart_static.a, linked into each shared library and never re-exported
#   emulated - platform/cudaemu, the host-memory device used on machines without a GPU
#   auto     - cuda where an NVIDIA driver is present, emulated otherwise
include_guard(GLOBAL)

set(INFERLET_DEVICE "auto" CACHE STRING "CUDA backend: auto, cuda or emulated")
set_property(CACHE INFERLET_DEVICE PROPERTY STRINGS auto cuda emulated)

find_package(CUDAToolkit REQUIRED)

if(INFERLET_DEVICE STREQUAL "auto")
  find_library(INFERLET_LIBCUDA NAMES libcuda.so.1 cuda)
  if(EXISTS "/proc/driver/nvidia/version" OR INFERLET_LIBCUDA)
    set(_inferlet_device cuda)
  else()
    set(_inferlet_device emulated)
  endif()
  message(STATUS "inferlet: INFERLET_DEVICE=auto picked '${_inferlet_device}'")
elseif(INFERLET_DEVICE MATCHES "^(cuda|emulated)$")
  set(_inferlet_device ${INFERLET_DEVICE})
  message(STATUS "inferlet: device backend '${_inferlet_device}'")
else()
  message(FATAL_ERROR "INFERLET_DEVICE must be auto, cuda or emulated (got '${INFERLET_DEVICE}')")
endif()
set(INFERLET_DEVICE_RESOLVED ${_inferlet_device} CACHE INTERNAL "device backend in use")

add_library(inferlet_cuda_runtime INTERFACE)
add_library(inferlet::cuda_runtime ALIAS inferlet_cuda_runtime)
target_include_directories(inferlet_cuda_runtime SYSTEM INTERFACE ${CUDAToolkit_INCLUDE_DIRS})
if(INFERLET_DEVICE_RESOLVED STREQUAL "cuda")
  # CUDA 13 marks every symbol of the static runtime hidden; --exclude-libs keeps it so with
  # older toolkits too.
  target_link_libraries(inferlet_cuda_runtime INTERFACE CUDA::cudart_static)
  target_link_options(inferlet_cuda_runtime INTERFACE "LINKER:--exclude-libs,libcudart_static.a")
else()
  target_link_libraries(inferlet_cuda_runtime INTERFACE cudaemu)
endif()
