# Hardening of what is shipped: the plug-in, servoctl and servosim, and the
# static libraries linked into them (Debian's usual flags, which lintian
# looks for): fortified libc calls where the build optimises, stack
# protectors, read-only relocations bound at load time, and programs built
# as position-independent executables.
# Instrumented builds (SANITIZE, SANITIZE_THREAD, BUILD_FUZZERS) are left
# plain: fortified calls would hide accesses from ASan's own checks.
include(CheckPIESupported)
check_pie_supported(LANGUAGES C CXX)

# harden(TARGET...)
function(harden)
  if(SANITIZE OR SANITIZE_THREAD OR BUILD_FUZZERS)
    return()
  endif()
  # Without optimisation glibc ignores the request, with a warning.
  set(optimised $<OR:$<CONFIG:Release>,$<CONFIG:RelWithDebInfo>,$<CONFIG:MinSizeRel>>)
  foreach(target ${ARGN})
    target_compile_options(${target} PRIVATE -fstack-protector-strong
                           $<${optimised}:-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2>)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
      set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
    endif()
    if(type MATCHES "^(EXECUTABLE|SHARED_LIBRARY|MODULE_LIBRARY)$")
      target_link_options(${target} PRIVATE LINKER:-z,relro,-z,now)
    endif()
  endforeach()
endfunction()
