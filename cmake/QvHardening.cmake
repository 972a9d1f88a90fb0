# Release programs are built the way Debian builds its packages: fortified libc calls, the
# stack protector, relocations read-only and bound at start.
if(CMAKE_BUILD_TYPE STREQUAL "Release" AND NOT QV_SANITIZE AND NOT QV_FUZZ)
  add_compile_definitions(_FORTIFY_SOURCE=2)
  add_compile_options(-fstack-protector-strong)
  add_link_options(LINKER:-z,relro LINKER:-z,now)
endif()
