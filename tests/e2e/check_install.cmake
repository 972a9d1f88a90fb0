# Installs the build tree into a fresh prefix and checks that a desktop user gets everything:
#   cmake -DBUILD_DIR=... -DPREFIX=... -P check_install.cmake
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed: ${rc}")
endif()
foreach(f bin/qvremote bin/qvsim bin/qvctl share/applications/qvremote.desktop
          share/icons/hicolor/256x256/apps/qvremote.png lib/udev/rules.d/60-qvremote.rules)
  if(NOT EXISTS ${PREFIX}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
file(STRINGS ${PREFIX}/share/applications/qvremote.desktop exec REGEX "^Exec=")
if(NOT exec STREQUAL "Exec=qvremote")
  message(FATAL_ERROR "the menu entry runs '${exec}'")
endif()
file(REMOVE_RECURSE ${PREFIX})
