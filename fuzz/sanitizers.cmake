# The fuzz build instruments every library it links: AddressSanitizer and
# UndefinedBehaviorSanitizer stop at the first fault, and the coverage hooks
# libFuzzer steers by go into all code, not only into the targets.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "QUENDAL_BUILD_FUZZ needs clang (configure with -DCMAKE_CXX_COMPILER=clang++)")
endif()
set(QUENDAL_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_compile_options(${QUENDAL_SANITIZERS} -fsanitize=fuzzer-no-link -gline-tables-only)
add_link_options(${QUENDAL_SANITIZERS})
