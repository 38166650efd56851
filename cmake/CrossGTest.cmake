# GoogleTest for a cross build (the Windows build): Debian's packages hold
# only the host's libraries, so the sources in /usr/src/googletest are built
# with the cross compiler, under the names find_package(GTest) gives.
set(QL_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
if(NOT EXISTS ${QL_GTEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${QL_GTEST_SOURCE_DIR} (package googletest)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(${QL_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
foreach(lib gtest gtest_main gmock gmock_main)
  if(NOT TARGET GTest::${lib})  # newer GoogleTest sources define them
    add_library(GTest::${lib} ALIAS ${lib})
  endif()
endforeach()
