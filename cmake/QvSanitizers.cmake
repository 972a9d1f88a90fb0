# QV_SANITIZE=address adds ASan+UBSan, QV_SANITIZE=thread adds TSan, to every target.
if(QV_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(QV_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT QV_SANITIZE STREQUAL "")
  message(FATAL_ERROR "QV_SANITIZE must be address, thread or empty")
endif()

# QV_FUZZ puts libFuzzer's coverage instrumentation on every target, libraries included, so
# the fuzzer is guided by the code under test and not only by its small harness. The fuzz
# executables add libFuzzer's own main (tests/fuzz).
if(QV_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "QV_FUZZ needs clang (the fuzz preset)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
  add_link_options(-fsanitize=fuzzer-no-link)
endif()
