# Warnings as errors on the project's own code, one target at a time.
function(kolvane_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wformat=2 -Wshadow -Wconversion -Wno-sign-conversion -Werror)
endfunction()
