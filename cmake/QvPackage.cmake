# The manual pages and the Debian package. In the package tree (the package preset):
#   cpack -G DEB        (scripts/package does it, scripts/check-package checks the result)
# The package installs into /usr what `cmake --install` installs, plus the documents Debian
# asks for; its dependencies are read from the programs by dpkg-shlibdeps.
include(GNUInstallDirs)

set(QV_PACKAGE_MAINTAINER "QVRemote developers <qvremote@orvane.example>" CACHE STRING
    "Maintainer named in the package and its changelog")

# Compressed with -n: no name or time stamp inside, so the package builds the same twice.
find_program(QV_GZIP gzip REQUIRED)
function(qv_gzip source output)
  add_custom_command(
    OUTPUT ${output}
    COMMAND sh -c "${QV_GZIP} -9n -c \"$0\" > \"$1\"" ${source} ${output}
    DEPENDS ${source}
    VERBATIM)
endfunction()

set(qv_doc_dir ${CMAKE_BINARY_DIR}/package-doc)
file(MAKE_DIRECTORY ${qv_doc_dir})
set(qv_docs)
foreach(page qvremote qvsim qvctl)
  qv_gzip(${PROJECT_SOURCE_DIR}/docs/man/${page}.1 ${qv_doc_dir}/${page}.1.gz)
  list(APPEND qv_docs ${qv_doc_dir}/${page}.1.gz)
  install(FILES ${qv_doc_dir}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/resources/debian/changelog.in ${qv_doc_dir}/changelog @ONLY)
qv_gzip(${qv_doc_dir}/changelog ${qv_doc_dir}/changelog.gz)
list(APPEND qv_docs ${qv_doc_dir}/changelog.gz)
add_custom_target(qv_docs ALL DEPENDS ${qv_docs})
install(FILES ${qv_doc_dir}/changelog.gz ${PROJECT_SOURCE_DIR}/resources/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/qvremote)

set(CPACK_PACKAGE_NAME qvremote)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Orvane")
set(CPACK_PACKAGE_CONTACT "${QV_PACKAGE_MAINTAINER}")
set(CPACK_STRIP_FILES TRUE)
# Modes from the files' own, not from the builder's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "remote front panel for handheld RF analysers
QVRemote connects to one handheld spectrum or cable-and-antenna analyser
over TCP (IPv4 or IPv6) or USB, shows the instrument's live screen in a
picture of its front panel, and turns clicks, knob turns, PC keys and
screen touches into the instrument's own commands.
.
Recordings export to video files any player opens (H.264 in MP4) or
keep the instrument's frames as received (Motion-JPEG in Matroska).
.
The package also holds qvsim, a simulated instrument for trying the
program without one, and qvctl, a command-line client that also tells
why a USB instrument cannot be opened, prints the udev rule for it, and
records an instrument's screen straight into a video file.")

include(CPack)
