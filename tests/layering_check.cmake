# No file includes a layer above its own. Run as
#   cmake -DSOURCE_DIR=<repo> -DQT_INCLUDE_DIR=<qt6 include root> -P layering_check.cmake
# Each folder may include its own headers and those of the folders listed for it; which Qt
# module a <QFoo> header belongs to is looked up in the Qt include tree. A subfolder with a
# rule of its own (tools/panelshot) follows that rule, not its parent's.
cmake_minimum_required(VERSION 3.25)

# folder | folders it may include from | Qt modules it may use | other libraries it may use
set(rules
  "link|link||"
  "platform|link platform||libusb udev"
  "sim|link sim|Core Gui|"
  "session|link session resources|Core|"
  "media|link session media||ffmpeg"
  "share|link session share resources|Core Network HttpServer WebSockets|"
  "widgets|link session widgets resources|Core Gui Widgets|"
  "dialogs|link session widgets dialogs resources|Core Gui Widgets|"
  "panels|link session media share widgets dialogs panels resources|Core Gui Widgets Network|"
  "app|link platform session media share widgets dialogs panels app resources|Core Gui Widgets|"
  "tools|link platform session media widgets tools resources|Core Gui|"
  "tools/qvctl|link platform session media share panels widgets tools resources|Core Network|"
  "tools/panelshot|link session media widgets dialogs panels sim resources|Core Gui Widgets|"
  "tools/skingen|widgets panels tools resources|Core Gui|"
)
set(our_folders link platform sim session media share widgets dialogs panels app tools resources tests bench)

function(qt_module header out)
  set(module "")
  if(header MATCHES "^Qt(Core|Gui|Widgets|Test|Network|HttpServer|WebSockets)/")
    set(module ${CMAKE_MATCH_1})
  elseif(header MATCHES "^Q[A-Za-z]+$" OR header MATCHES "^Qt$")
    foreach(m Widgets Gui Core Test Network HttpServer WebSockets)
      if(QT_INCLUDE_DIR AND EXISTS "${QT_INCLUDE_DIR}/Qt${m}/${header}")
        set(module ${m})
        break()
      endif()
    endforeach()
    if(module STREQUAL "")
      set(module "unknown")
    endif()
  endif()
  set(${out} "${module}" PARENT_SCOPE)
endfunction()

set(violations "")
foreach(rule IN LISTS rules)
  string(REPLACE "|" ";" parts "${rule}")
  list(GET parts 0 folder)
  list(GET parts 1 allowed)
  list(GET parts 2 modules)
  list(GET parts 3 libraries)
  separate_arguments(allowed)
  separate_arguments(modules)
  separate_arguments(libraries)
  file(GLOB_RECURSE files "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp")
  foreach(other IN LISTS rules)
    string(REGEX MATCH "^[^|]+" sub "${other}")
    if(sub MATCHES "^${folder}/")
      list(FILTER files EXCLUDE REGEX "^${SOURCE_DIR}/${sub}/")
    endif()
  endforeach()
  foreach(file IN LISTS files)
    file(RELATIVE_PATH rel "${SOURCE_DIR}" "${file}")
    file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS lines)
      if(line MATCHES "#[ \t]*include[ \t]*\"([^\"]+)\"")
        set(header "${CMAKE_MATCH_1}")
        string(REGEX MATCH "^[^/]+" top "${header}")
        if(top IN_LIST our_folders AND NOT top IN_LIST allowed)
          list(APPEND violations "${rel}: \"${header}\" (${folder} may include ${allowed})")
        endif()
      elseif(line MATCHES "#[ \t]*include[ \t]*<([^>]+)>")
        set(header "${CMAKE_MATCH_1}")
        qt_module("${header}" module)
        if(NOT module STREQUAL "" AND NOT module IN_LIST modules)
          list(APPEND violations "${rel}: <${header}> is Qt ${module} (${folder} may use: ${modules})")
        endif()
        if(header MATCHES "^(libusb|libudev)" AND NOT "libusb" IN_LIST libraries)
          list(APPEND violations "${rel}: <${header}> (only platform talks to the system's USB)")
        endif()
        if(header MATCHES "^lib(avformat|avcodec|avutil|swscale)/" AND NOT "ffmpeg" IN_LIST libraries)
          list(APPEND violations "${rel}: <${header}> (only media talks to FFmpeg)")
        endif()
        if(header MATCHES "^gtest/")
          list(APPEND violations "${rel}: <${header}> (test code outside tests)")
        endif()
      endif()
    endforeach()
  endforeach()
endforeach()

if(violations)
  list(JOIN violations "\n  " text)
  message(FATAL_ERROR "Includes across the layers:\n  ${text}")
endif()
message(STATUS "layering: every include stays within its layer")
