# GoogleTest and GoogleMock, compiled from the machine's sources with the
# project's own compiler and flags (sanitizers, mingw-w64) so every preset
# gets a matching build.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${KOLVANE_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
include(GoogleTest)

# Native builds get one CTest entry per test case; under an emulator (Wine)
# each start costs a second, so there a test binary is one entry.
function(kolvane_add_gtest target)
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${target} COMMAND ${target} WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
    set_tests_properties(${target} PROPERTIES TIMEOUT 600)
    kolvane_runs_windows_programs(${target})
  else()
    gtest_discover_tests(${target} WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin DISCOVERY_MODE PRE_TEST
                         PROPERTIES TIMEOUT 120)
  endif()
endfunction()
