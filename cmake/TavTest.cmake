# tav_add_gtest(name SOURCES ... LIBS ... [LABELS ...] [TIMEOUT s])
# One GoogleTest executable registered as one CTest test. Tests never touch the
# real user folders: HOME, XDG_* and the runtime folder point into the build tree,
# and Qt widgets render offscreen. Under the sanitizers, leaks of Qt's own offscreen
# plugin are suppressed (tests/support/lsan.supp); tests may set their own LSAN_OPTIONS.
# Test code gets line tables only: full debug information of GoogleTest's and
# the JSON library's templates makes up almost half of the build. Configure with
# -DTAV_TEST_FULL_DEBUG=ON to step through a test in a debugger.
function(_tav_test_options target)
  tav_warnings(${target})
  # SDL's build flags define it for the programs that use SDL; every test
  # program defines it alike, so they all can share one precompiled header.
  target_compile_definitions(${target} PRIVATE _REENTRANT)
  if(NOT TAV_TEST_FULL_DEBUG AND NOT MSVC)
    target_compile_options(${target} PRIVATE $<$<CONFIG:RelWithDebInfo,Debug>:-g1>)
  endif()
endfunction()

# Whether any of the libraries, or what their usage requirements bring along
# (public links, transitively; not what a library links only for itself),
# matches pattern.
function(_tav_links out pattern)
  set(found OFF)
  set(pending ${ARGN})
  set(seen "")
  while(pending AND NOT found)
    list(POP_FRONT pending lib)
    if(lib IN_LIST seen OR lib MATCHES "^\\$<LINK_ONLY:")
      continue()
    endif()
    list(APPEND seen ${lib})
    if(lib MATCHES "${pattern}")
      set(found ON)
    elseif(TARGET ${lib})
      get_target_property(deps ${lib} INTERFACE_LINK_LIBRARIES)
      if(deps)
        list(APPEND pending ${deps})
      endif()
    endif()
  endwhile()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

# GoogleTest and GoogleMock (with QtCore's everyday headers for programs that
# use Qt, with the JSON and HTTP libraries for the servers') are parsed once,
# in a precompiled header every test program of the kind reuses, instead of
# once per test file. Made on first use.
function(_tav_test_pch_for name)
  _tav_links(qt "^Qt5::" ${ARGN})
  _tav_links(widgets "^Qt5::Widgets$" ${ARGN})
  _tav_links(qttest "^Qt5::Test$" ${ARGN})
  _tav_links(network "^Qt5::Network$" ${ARGN})
  _tav_links(server "^(tav_server_common|tav::server_common)$" ${ARGN})
  # One header per kind of program: what a kind includes (and the build
  # switches its libraries bring) must be the same for all that share it.
  if(qt)
    set(carrier tav_test_pch_qt)
    if(widgets)
      string(APPEND carrier _widgets)
    endif()
    if(qttest)
      string(APPEND carrier _test)
    endif()
    # Qt's test headers add network helpers for programs that link Qt's network.
    if(network)
      string(APPEND carrier _network)
    endif()
  elseif(server)
    set(carrier tav_test_pch_server)
  else()
    set(carrier tav_test_pch)
  endif()
  if(NOT TARGET ${carrier})
    add_library(${carrier} OBJECT ${PROJECT_SOURCE_DIR}/tests/support/pch_carrier.cpp)
    target_link_libraries(${carrier} PRIVATE GTest::gtest GTest::gmock Threads::Threads)
    _tav_test_options(${carrier})
    set(headers <gtest/gtest.h> <gmock/gmock.h> <string> <vector> <functional> <memory>)
    if(qt)
      target_link_libraries(${carrier} PRIVATE Qt5::Core)
      list(APPEND headers <QObject> <QString> <QStringList> <QByteArray> <QJsonObject>
           <QJsonArray> <QJsonDocument> <QJsonValue> <QList> <QHash> <QMap> <QDir> <QFile>
           <QTimer>)
      if(widgets)
        target_link_libraries(${carrier} PRIVATE Qt5::Widgets)
        list(APPEND headers <QApplication> <QWidget> <QLabel> <QPushButton> <QComboBox>
             <QLineEdit> <QImage> <QPixmap>)
      endif()
      if(network)
        target_link_libraries(${carrier} PRIVATE Qt5::Network)
      endif()
      if(qttest)
        target_link_libraries(${carrier} PRIVATE Qt5::Test)
        list(APPEND headers <QSignalSpy> <QTest>)
      endif()
    elseif(server)
      # With the HTTP library's own build switches, as the servers see it.
      target_link_libraries(${carrier} PRIVATE PkgConfig::TAV_HTTPLIB)
      list(APPEND headers <nlohmann/json.hpp> <httplib.h>)
    endif()
    target_precompile_headers(${carrier} PRIVATE ${headers})
  endif()
  target_precompile_headers(${name} REUSE_FROM ${carrier})
endfunction()

# NO_PCH: the program compiles each file on its own (a test that headers stand alone).
function(tav_add_gtest name)
  cmake_parse_arguments(T "NO_PCH" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock Threads::Threads)
  _tav_test_options(${name})
  if(NOT MSVC AND NOT T_NO_PCH)
    # Chosen once every target exists: the libraries' links decide the kind.
    # (Arguments of a deferred call are expanded when it runs: these are fixed now.)
    string(REPLACE ";" " " libs "${T_LIBS}")
    cmake_language(EVAL CODE
      "cmake_language(DEFER DIRECTORY \"${PROJECT_SOURCE_DIR}\" CALL _tav_test_pch_for ${name} ${libs})")
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

# tav_add_gtest_variant(name suffix ENVIRONMENT K=V...): the test program of
# tav_add_gtest(name) registered once more, as name-suffix, with these variables
# added to its environment (a home folder of its own).
function(tav_add_gtest_variant name suffix)
  cmake_parse_arguments(V "" "" "ENVIRONMENT" ${ARGN})
  get_test_property(${name} TIMEOUT timeout)
  get_test_property(${name} LABELS labels)
  set(test ${name}-${suffix})
  set(home ${CMAKE_BINARY_DIR}/testhome/${test})
  add_test(NAME ${test} COMMAND ${name})
  set_tests_properties(${test} PROPERTIES
    TIMEOUT ${timeout}
    LABELS "${labels}"
    ENVIRONMENT "HOME=${home};XDG_DATA_HOME=${home}/.local/share;XDG_RUNTIME_DIR=${home}/run;XDG_CONFIG_HOME=${home}/.config;QT_QPA_PLATFORM=offscreen;TAV_BIN_DIR=${TAV_BIN_DIR};TAV_TEST_SOURCE_DIR=${CMAKE_CURRENT_SOURCE_DIR};LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/support/lsan.supp;${V_ENVIRONMENT}")
endfunction()
