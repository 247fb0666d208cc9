# Settings of every target that ends up inside the shipped module: no
# exceptions or RTTI (the DLL needs no C++ runtime), position-independent
# and hidden, so the static layers link into libkolvane.so with one export,
# and msvcrt's printf rather than mingw's own linked in.
function(kolvane_shipped_code target)
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON CXX_VISIBILITY_PRESET hidden
                                             VISIBILITY_INLINES_HIDDEN ON)
  if(WIN32)
    target_compile_definitions(${target} PRIVATE __USE_MINGW_ANSI_STDIO=0)
  endif()
  kolvane_warnings(${target})
endfunction()
