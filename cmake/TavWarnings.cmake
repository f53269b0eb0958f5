# Warnings on for our own targets; third-party headers come in as system headers.
# With TAV_WERROR a warning fails the build (scripts/test turns it on).
function(tav_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${TAV_WERROR}>:/WX>)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra $<$<BOOL:${TAV_WERROR}>:-Werror>)
  endif()
endfunction()
