# tav_embed_file_version(<target> <version>)
# Puts "TAVFILEVERSION:<version>" into the program, where the updater reads it
# from the file without running the program (the version resource of Windows).
function(tav_embed_file_version target version)
  if(NOT version MATCHES "^[0-9]+(\\.[0-9]+)*$")
    message(FATAL_ERROR "tav_embed_file_version: bad version '${version}'")
  endif()
  string(MAKE_C_IDENTIFIER "${target}" symbol)
  set(source ${CMAKE_CURRENT_BINARY_DIR}/${target}_file_version.c)
  file(CONFIGURE OUTPUT ${source} CONTENT
"/* Generated: the file version of ${target}. */
__attribute__((used)) const char tav_file_version_${symbol}[] = \"TAVFILEVERSION:${version}\";
" @ONLY)
  target_sources(${target} PRIVATE ${source})
endfunction()
