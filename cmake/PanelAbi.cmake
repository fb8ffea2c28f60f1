# The panel's build loads on the C and C++ libraries of Qt 4.7's era (GCC
# 4.4 to 4.6, glibc 2.11 to 2.13): the plug-in may need no symbol version
# above the ARM EABI baseline (GLIBC_2.4, GLIBCXX_3.4, CXXABI_1.3, and
# libgcc's GCC_3.5), whatever compiler builds it here.
# - No sized delete (operator delete(void*, size_t), CXXABI_1.3.9, GCC 5).
# - Static objects' destructors registered with atexit, which glibc binds to
#   the library as __cxa_atexit does, not with __aeabi_atexit
#   (CXXABI_ARM_1.3.3).
# - ARM code, not Thumb-2, as the Qt it links: Qt 4.7's ARM atomics, inlined
#   into every user of its headers, need it.
# The monotonic clock is read through the system call in every build (glibc
# before 2.17 keeps clock_gettime in librt).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options(-fno-sized-deallocation -fno-use-cxa-atexit)
endif()
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^arm")
  add_compile_options(-marm)
endif()
