# Empties the tests' temporary folders before a run: cmake -DROOT=... -DDIRS=a;b -P reset_tmp.cmake
if(NOT ROOT MATCHES "/test-tmp$")
  message(FATAL_ERROR "refusing to empty ${ROOT}")
endif()
file(REMOVE_RECURSE ${ROOT})
foreach(dir IN LISTS DIRS)
  file(MAKE_DIRECTORY ${dir})
endforeach()
