# tav_add_gtest(name SOURCES ... LIBS ... [LABELS ...] [TIMEOUT s])
# One GoogleTest executable registered as one CTest test. Tests never touch the
# real user folders: HOME, XDG_* and the runtime folder point into the build tree,
# and Qt widgets render offscreen. Under the sanitizers, leaks of Qt's own offscreen
# plugin are suppressed (tests/support/lsan.supp); tests may set their own LSAN_OPTIONS.
function(tav_add_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock Threads::Threads)
  tav_warnings(${name})
  # Test code gets line tables only: full debug information of GoogleTest's and
  # the JSON library's templates makes up almost half of the build. Configure with
  # -DTAV_TEST_FULL_DEBUG=ON to step through a test in a debugger.
  if(NOT TAV_TEST_FULL_DEBUG AND NOT MSVC)
    target_compile_options(${name} PRIVATE $<$<CONFIG:RelWithDebInfo,Debug>:-g1>)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set(home ${CMAKE_BINARY_DIR}/testhome/${name})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    LABELS "${T_LABELS}"
    ENVIRONMENT "HOME=${home};XDG_DATA_HOME=${home}/.local/share;XDG_RUNTIME_DIR=${home}/run;XDG_CONFIG_HOME=${home}/.config;QT_QPA_PLATFORM=offscreen;TAV_BIN_DIR=${TAV_BIN_DIR};TAV_TEST_SOURCE_DIR=${CMAKE_CURRENT_SOURCE_DIR};LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/support/lsan.supp")
endfunction()
