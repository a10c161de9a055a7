# The wheel's layout, install component `python` (what pip install ./python installs; the tree's own
# install rules belong to no component and stay out of it):
#   inferlet/                         the package's sources, _config.py and the extension
#   inferlet/lib/                     libinferlet_sessions<N>.so of INFERLET_PYTHON_MAJORS
#   inferlet/lib/inferlet-standin/    the emulated device and the stand-in TensorRT those link, found
#                                     through the RUNPATH build/Install.cmake gives the libraries
# A major built against a real TensorRT links the system's libnvinfer: its RUNPATH is that library's
# directory, so that the package needs no LD_LIBRARY_PATH there either.
install(TARGETS inferlet_native LIBRARY DESTINATION inferlet COMPONENT python)
install(FILES ${_copied} ${INFERLET_PYTHON_PACKAGE_DIR}/_config.py ${INFERLET_PYTHON_PACKAGE_DIR}/_native.pyi
              ${INFERLET_PYTHON_PACKAGE_DIR}/py.typed DESTINATION inferlet COMPONENT python)

set(_wheel_libraries)
set(_wheel_standins)
if(INFERLET_DEVICE_RESOLVED STREQUAL "emulated")
  list(APPEND _wheel_standins cudaemu)
endif()
foreach(major IN LISTS INFERLET_PYTHON_MAJORS)
  list(APPEND _wheel_libraries inferlet_sessions${major})
  if(TensorRT${major}_ROOT)
    get_filename_component(_runpath "${TensorRT${major}_NVINFER}" DIRECTORY)
    if(INFERLET_DEVICE_RESOLVED STREQUAL "emulated")
      list(APPEND _runpath "$ORIGIN/inferlet-standin")
    endif()
    set_target_properties(inferlet_sessions${major} PROPERTIES INSTALL_RPATH "${_runpath}")
  else()
    list(APPEND _wheel_standins nvinfer${major} nvinfer_plugin${major})
  endif()
endforeach()
install(TARGETS ${_wheel_libraries} LIBRARY DESTINATION inferlet/lib COMPONENT python)
if(_wheel_standins)
  install(TARGETS ${_wheel_standins} LIBRARY DESTINATION inferlet/lib/inferlet-standin COMPONENT python
          NAMELINK_SKIP)
  # A wheel holds no symbolic links: each library is kept once, under the name the others need it by
  # (libnvinfer.so.8, not libnvinfer.so.8.0.1 and a copy of it).
  foreach(library IN LISTS _wheel_standins)
    install(CODE "
      set(dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/inferlet/lib/inferlet-standin\")
      set(file \"$<TARGET_FILE_NAME:${library}>\")
      set(soname \"$<TARGET_SONAME_FILE_NAME:${library}>\")
      if(NOT file STREQUAL soname)
        file(REMOVE \"\${dir}/\${soname}\")
        file(RENAME \"\${dir}/\${file}\" \"\${dir}/\${soname}\")
      endif()" COMPONENT python)
  endforeach()
endif()
