# AddressSanitizer + UndefinedBehaviorSanitizer for the whole build.
set(QL_SAN_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
add_compile_options(${QL_SAN_FLAGS})
add_link_options(${QL_SAN_FLAGS})
# Line tables are all the sanitizers' reports need (function, file, line);
# full debug information makes the test build a good deal slower to compile
# and link. -DQL_FULL_DEBUG_INFO=ON keeps it, for a debugger session.
option(QL_FULL_DEBUG_INFO "Full debug information in the sanitizer build" OFF)
if(CMAKE_BUILD_TYPE STREQUAL "Debug" AND NOT QL_FULL_DEBUG_INFO)
  set(CMAKE_C_FLAGS_DEBUG "-g1")
  set(CMAKE_CXX_FLAGS_DEBUG "-g1")
endif()
