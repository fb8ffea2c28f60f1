# Warnings every target of ours is built with.
function(project_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra $<$<CXX_COMPILER_ID:GNU>:-Wshadow=local>)
endfunction()
