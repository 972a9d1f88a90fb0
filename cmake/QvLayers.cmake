# Each library exports only its own folder: "#include "link/X.h"" resolves through a directory
# that holds nothing but a link to that folder, so a target cannot include a layer it does not
# link, and the compiler proves the layering. tests/layering_check.cmake checks the sources.
function(qv_export_headers target folder)
  set(root ${PROJECT_BINARY_DIR}/include/${target})
  get_filename_component(parent ${root}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()
