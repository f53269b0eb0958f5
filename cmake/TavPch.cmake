# tav_server_pch(target [TEST]): precompiles the big headers the server targets
# share (nlohmann/json, cpp-httplib; GoogleTest for test programs), which would
# otherwise be parsed again for every file.
function(tav_server_pch target)
  cmake_parse_arguments(P "TEST" "" "" ${ARGN})
  set(headers <nlohmann/json.hpp> <httplib.h> <string> <vector>)
  if(P_TEST)
    # A test program that already reuses the server tests' shared header has these.
    get_target_property(shared ${target} PRECOMPILE_HEADERS_REUSE_FROM)
    if(shared)
      return()
    endif()
    list(APPEND headers <gtest/gtest.h>)
  endif()
  target_precompile_headers(${target} PRIVATE ${headers})
endfunction()
