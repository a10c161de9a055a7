# The installed tree. An installation works on its own for the build it came from:
#
#   bin/inferlet-run, bin/trtbuild         the runner; the engine builder when a stand-in TensorRT is in use
#   include/inferlet/kestrel_trt.h         the public headers: the legacy interface's, and the
#   include/inferlet/inferlet_sessions.h   sessions interface's with its header-only C++ wrapper
#   include/inferlet/inferlet_sessions.hpp
#   lib/libinferlet<N>.so                  the deliverables
#   lib/libinferlet_sessions<N>.so         the sessions interface, one per major (the runner reads engines
#                                          through them)
#   lib/inferlet-standin/                  what this build took from platform/: the emulated CUDA device
#                                          and the stand-in libnvinfer/libnvinfer_plugin of each major
#                                          built without TensorRT<N>_ROOT
#   lib/cmake/inferlet/                    find_package(inferlet) for hosts
#   share/inferlet/engines, networks       sample engines and the networks they come from (stand-in)
#
# Installed binaries find lib/inferlet-standin through a RUNPATH relative to themselves, so nothing
# needs LD_LIBRARY_PATH. A build on the real CUDA runtime with real TensorRT installs no stand-in and
# relies on the system's TensorRT. Included last by the top-level list, once every target exists.
include_guard(GLOBAL)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(INFERLET_STANDIN_LIBDIR ${CMAKE_INSTALL_LIBDIR}/inferlet-standin)
set(INFERLET_CONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/inferlet)

# What this build links from platform/, and where each deliverable's own libraries are at link time.
set(_standin_libs)
set(_standin_majors)
if(INFERLET_DEVICE_RESOLVED STREQUAL "emulated")
  list(APPEND _standin_libs cudaemu)
endif()
set(INFERLET_PACKAGE_LINK_DIRS "")
foreach(major IN LISTS INFERLET_TENSORRT_MAJORS)
  if(TensorRT${major}_ROOT)
    get_filename_component(_dir "${TensorRT${major}_NVINFER}" DIRECTORY)
    string(APPEND INFERLET_PACKAGE_LINK_DIRS "set(_inferlet_link_dir${major} \"${_dir}\")\n")
  else()
    list(APPEND _standin_libs nvinfer${major} nvinfer_plugin${major})
    list(APPEND _standin_majors ${major})
    string(APPEND INFERLET_PACKAGE_LINK_DIRS
           "set(_inferlet_link_dir${major} \"\${PACKAGE_PREFIX_DIR}/${INFERLET_STANDIN_LIBDIR}\")\n")
  endif()
endforeach()

# RUNPATH of a binary installed into <dir>: the stand-ins' directory, relative to the binary.
function(inferlet_install_runpath target dir)
  if(_standin_libs)
    file(RELATIVE_PATH rel /prefix/${dir} /prefix/${INFERLET_STANDIN_LIBDIR})
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/${rel}")
  endif()
endfunction()

# The deliverables, the sessions libraries and their public headers.
set(_deliverables)
foreach(major IN LISTS INFERLET_TENSORRT_MAJORS)
  list(APPEND _deliverables inferlet${major} inferlet_sessions${major})
  inferlet_install_runpath(inferlet${major} ${CMAKE_INSTALL_LIBDIR})
  inferlet_install_runpath(inferlet_sessions${major} ${CMAKE_INSTALL_LIBDIR})
endforeach()
install(TARGETS ${_deliverables} EXPORT inferletTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/inferlet)

# The stand-ins, without development links: a host never links them itself.
if(_standin_libs)
  set_target_properties(${_standin_libs} PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS ${_standin_libs} LIBRARY DESTINATION ${INFERLET_STANDIN_LIBDIR} NAMELINK_SKIP)
endif()
if(_standin_majors)
  install(TARGETS trtbuild RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/platform/tensorrt/samples/
          DESTINATION ${CMAKE_INSTALL_DATADIR}/inferlet/networks FILES_MATCHING PATTERN "*.json")
  # The samples only: the engines built for the tests stay in the build tree.
  set(_sample_engines)
  foreach(sample IN LISTS TRT_STANDIN_SAMPLES)
    foreach(major IN LISTS _standin_majors)
      list(APPEND _sample_engines ${TRT_STANDIN_ENGINE_DIR}/${sample}-trt${major}.engine)
    endforeach()
  endforeach()
  install(FILES ${_sample_engines} DESTINATION ${CMAKE_INSTALL_DATADIR}/inferlet/engines)
endif()

# The runner loads the deliverables and the sessions libraries from <bin>/../lib by path.
if(TARGET inferlet-run)
  install(TARGETS inferlet-run RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# find_package(inferlet 0.1): imported targets inferlet::inferlet<N> and inferlet::sessions<N>, the
# device and majors built.
install(EXPORT inferletTargets NAMESPACE inferlet:: DESTINATION ${INFERLET_CONFIG_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/inferletConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/inferletConfig.cmake
                              INSTALL_DESTINATION ${INFERLET_CONFIG_DIR})
# 0.x: a new minor version may change the interface.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/inferletConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/inferletConfig.cmake ${PROJECT_BINARY_DIR}/inferletConfigVersion.cmake
        DESTINATION ${INFERLET_CONFIG_DIR})

if(INFERLET_DEVICE_RESOLVED STREQUAL "emulated")
  install(CODE "message(STATUS \"inferlet: emulated build (CUDA on host memory, platform/cudaemu): \
this installation is not for a GPU\")")
endif()
