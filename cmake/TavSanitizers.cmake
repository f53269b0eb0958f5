# -DTAV_SANITIZE=ON builds everything with AddressSanitizer and UBSan.
if(TAV_SANITIZE AND NOT MSVC)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
