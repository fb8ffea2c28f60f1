# Instrumented builds of the whole tree (library, tools, tests).
#   -DSANITIZE=ON        AddressSanitizer + UndefinedBehaviorSanitizer (scripts/sanitize)
#   -DSANITIZE_THREAD=ON ThreadSanitizer (scripts/tsan); excludes SANITIZE
#   -DBUILD_FUZZERS=ON   the libFuzzer targets of fuzz/, with clang (scripts/fuzz);
#                        implies SANITIZE and adds libFuzzer's coverage hooks.
option(SANITIZE "Build everything with ASan and UBSan" OFF)
option(SANITIZE_THREAD "Build everything with ThreadSanitizer" OFF)
option(BUILD_FUZZERS "Build the libFuzzer targets in fuzz/ (clang only)" OFF)

if(BUILD_FUZZERS)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "BUILD_FUZZERS needs clang: configure with CC=clang CXX=clang++")
  endif()
  set(SANITIZE ON CACHE BOOL "" FORCE)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

if(SANITIZE)
  # Any undefined behaviour ends the program, so a test cannot pass over it.
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(SANITIZE_THREAD)
  if(SANITIZE)
    message(FATAL_ERROR "SANITIZE_THREAD and SANITIZE (or BUILD_FUZZERS) exclude each other: "
                        "ThreadSanitizer cannot run beside AddressSanitizer")
  endif()
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
