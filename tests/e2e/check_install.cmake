# Installs the build tree into a fresh prefix and checks that a desktop user gets everything:
#   cmake -DBUILD_DIR=... -DPREFIX=... -DVERSION=... -P check_install.cmake
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed: ${rc}")
endif()
foreach(f bin/qvremote bin/qvsim bin/qvctl lib/qvremote/qvctl-share lib/qvremote/qvctl-media
          share/applications/qvremote.desktop
          share/icons/hicolor/48x48/apps/qvremote.png
          share/icons/hicolor/128x128/apps/qvremote.png
          share/icons/hicolor/256x256/apps/qvremote.png lib/udev/rules.d/60-qvremote.rules
          share/metainfo/com.orvane.qvremote.metainfo.xml
          share/man/man1/qvremote.1.gz share/man/man1/qvsim.1.gz share/man/man1/qvctl.1.gz
          share/doc/qvremote/copyright share/doc/qvremote/changelog.gz)
  if(NOT EXISTS ${PREFIX}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
# The installed qvctl finds its helpers under the prefix it was installed to: their usage
# text, not qvctl's "needs the program".
foreach(cmd serve export record)
  execute_process(COMMAND ${PREFIX}/bin/qvctl ${cmd} RESULT_VARIABLE rc ERROR_VARIABLE err
                  OUTPUT_QUIET)
  if(NOT rc EQUAL 2 OR NOT err MATCHES "usage: qvctl ${cmd}")
    message(FATAL_ERROR "installed qvctl ${cmd}: exit ${rc}: ${err}")
  endif()
endforeach()
file(STRINGS ${PREFIX}/share/applications/qvremote.desktop exec REGEX "^Exec=")
if(NOT exec STREQUAL "Exec=qvremote")
  message(FATAL_ERROR "the menu entry runs '${exec}'")
endif()
# The software centre's entry names this version.
file(READ ${PREFIX}/share/metainfo/com.orvane.qvremote.metainfo.xml metainfo)
string(REGEX MATCH "<release version=\"([^\"]*)\"" release "${metainfo}")
if(NOT CMAKE_MATCH_1 STREQUAL "${VERSION}")
  message(FATAL_ERROR "the metainfo's newest release is '${CMAKE_MATCH_1}', not ${VERSION}")
endif()
file(REMOVE_RECURSE ${PREFIX})
