# The fuzz build: every library gets libFuzzer's coverage hooks and the
# address and undefined-behaviour sanitizers; the fuzz programs add the
# libFuzzer driver (tests/fuzz). clang only.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "QL_FUZZ needs clang (e.g. -DCMAKE_CXX_COMPILER=clang++-14)")
endif()
set(QL_FUZZ_FLAGS -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                  -fno-sanitize-recover=undefined -g)
add_compile_options(${QL_FUZZ_FLAGS})
add_link_options(-fsanitize=address,undefined)
