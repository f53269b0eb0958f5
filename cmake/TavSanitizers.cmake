# -DTAV_SANITIZE=ON builds everything with AddressSanitizer and UBSan.
if(TAV_SANITIZE AND NOT MSVC)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# -DTAV_FUZZ=ON (clang only) instruments every library for libFuzzer's coverage and with
# the sanitizers, so the *_fuzzer programs see inside the parsers they drive, not only
# their own entry file: cmake -B build-fuzz -DCMAKE_CXX_COMPILER=clang++-14
#   -DCMAKE_C_COMPILER=clang-14 -DTAV_FUZZ=ON, then build a *_fuzzer target.
option(TAV_FUZZ "Instrument everything for libFuzzer (clang)" OFF)
if(TAV_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES Clang)
    message(FATAL_ERROR "TAV_FUZZ needs clang (CMAKE_CXX_COMPILER=clang++-14)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
