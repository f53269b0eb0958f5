# tav_server_pch(target [TEST]): precompiles the big headers the server targets
# share (nlohmann/json, cpp-httplib), which would otherwise be parsed again for
# every file. TEST: nothing, a test program shares the server tests' header.
function(tav_server_pch target)
  cmake_parse_arguments(P "TEST" "" "" ${ARGN})
  set(headers <nlohmann/json.hpp> <httplib.h> <string> <vector>)
  if(P_TEST)
    # Test programs share one precompiled header of their kind (TavTest.cmake),
    # the server tests' with these headers in it.
    return()
  endif()
  target_precompile_headers(${target} PRIVATE ${headers})
endfunction()
