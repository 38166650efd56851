# ql_add_gtest(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2 [ENV VAR=VALUE ...] [LABELS l] [TIMEOUT s]
#              [LOCKS resource ...])
# Builds one GoogleTest binary and registers each of its tests with CTest.
# LOCKS names resources (a COM link, say) that no two of its tests may use
# at the same time.
#
# In a cross build (Windows programs) the tests run through
# tests/windows/wine-exec.sh, which needs the prefix that
# tests/windows/run-under-wine.sh prepares: `make test-windows` does both.
# GoogleTest's headers are the heaviest part of every test source, and more
# so with the sanitizers: they are compiled once, into a precompiled header
# that every test binary reuses.
set(ql_pch_anchor ${CMAKE_BINARY_DIR}/ql_gtest_pch.cpp)
if(NOT EXISTS ${ql_pch_anchor})
  file(WRITE ${ql_pch_anchor} "// Owner of the tests' precompiled header.\n")
endif()
add_library(ql_gtest_pch OBJECT ${ql_pch_anchor})
# The window tests are compiled with -fPIC (Qt asks for it); all test
# sources are, so that one precompiled header fits them all.
if(NOT WIN32)
  set(QL_TEST_PIC -fPIC)
endif()
target_compile_options(ql_gtest_pch PRIVATE ${QL_TEST_PIC})
target_link_libraries(ql_gtest_pch PRIVATE GTest::gtest GTest::gmock)
target_precompile_headers(ql_gtest_pch PRIVATE <gtest/gtest.h> <gmock/gmock.h> <string>
                          <vector> <filesystem> <thread> <chrono>)

function(ql_add_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;ENV;LABELS;LOCKS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock
                                        Threads::Threads)
  target_precompile_headers(${name} REUSE_FROM ql_gtest_pch)
  target_compile_options(${name} PRIVATE ${QL_TEST_PIC})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set(env "QL_SOURCE_DIR=${CMAKE_SOURCE_DIR}" "QL_BIN_DIR=${CMAKE_BINARY_DIR}/bin"
          "ASAN_OPTIONS=detect_leaks=1:abort_on_error=0"
          "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0"
          "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1" ${T_ENV})
  # The environment goes in through a launcher: a list given to the
  # discovered tests' ENVIRONMENT property would be split at its semicolons.
  set(launcher "${CMAKE_COMMAND};-E;env;${env}")
  if(CMAKE_CROSSCOMPILING)
    # Through bash, not the script's own mode bits: a checkout or copy that
    # drops them must not turn every test into "Permission denied".
    list(APPEND launcher bash ${CMAKE_SOURCE_DIR}/tests/windows/wine-exec.sh)
  endif()
  set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR "${launcher}")
  if(T_LABELS)
    set(label_props LABELS ${T_LABELS})
  endif()
  if(T_LOCKS)
    list(APPEND label_props RESOURCE_LOCK "${T_LOCKS}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES TIMEOUT ${T_TIMEOUT} ${label_props})
endfunction()
