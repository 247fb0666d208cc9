# What `cmake --install` puts where, and the package hosts find it by:
# the module, the public headers, kolvane-host with its example scripts, the
# example host tests, the README and the licence; kolvane::headers for CMake hosts and kolvane.pc
# for pkg-config. Nothing of the tests, the benchmarks or GoogleTest.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The interface declarations a host compiles against. On Windows
# IID_IUnknown comes from the SDK's libuuid.
add_library(kolvane_headers INTERFACE)
add_library(kolvane::headers ALIAS kolvane_headers)
set_target_properties(kolvane_headers PROPERTIES EXPORT_NAME headers)
target_include_directories(kolvane_headers INTERFACE $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
                                                     $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
if(WIN32)
  target_link_libraries(kolvane_headers INTERFACE uuid)
endif()

# A Windows zip reads like a Windows program folder: README and LICENSE at
# the top. On Linux they go where the distribution keeps documentation.
if(WIN32)
  set(KOLVANE_INSTALL_DOCDIR .)
else()
  set(KOLVANE_INSTALL_DOCDIR ${CMAKE_INSTALL_DOCDIR})
endif()
set(KOLVANE_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/kolvane)
set(KOLVANE_INSTALL_EXAMPLESDIR ${CMAKE_INSTALL_DATADIR}/kolvane/examples)

# The module is loaded by path, never linked: the DLL goes beside the
# programs (bin/), the shared object to lib/; no import library.
install(TARGETS kolvane
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT import_library EXCLUDE_FROM_ALL)
install(TARGETS kolvane-host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS kolvane_headers EXPORT kolvaneTargets)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/kolvane DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.h")
file(GLOB KOLVANE_EXAMPLE_SCRIPTS ${PROJECT_SOURCE_DIR}/host/examples/*.remote)
install(FILES ${KOLVANE_EXAMPLE_SCRIPTS} DESTINATION ${KOLVANE_INSTALL_EXAMPLESDIR})
# A host's own tests on the simulated card (kolvane/simcard.h), as source.
file(GLOB KOLVANE_EXAMPLE_SOURCES ${PROJECT_SOURCE_DIR}/examples/*.c)
install(FILES ${KOLVANE_EXAMPLE_SOURCES} DESTINATION ${KOLVANE_INSTALL_EXAMPLESDIR})
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${KOLVANE_INSTALL_DOCDIR})
# Where README.md's links to them point.
install(FILES ${PROJECT_SOURCE_DIR}/host/README.md DESTINATION ${KOLVANE_INSTALL_DOCDIR}/host)
install(FILES ${PROJECT_SOURCE_DIR}/bench/README.md DESTINATION ${KOLVANE_INSTALL_DOCDIR}/bench)

# The installed module's path, relative to the prefix, for the package files.
if(WIN32)
  set(KOLVANE_INSTALL_MODULE ${CMAKE_INSTALL_BINDIR}/kolvane.dll)
else()
  set(KOLVANE_INSTALL_MODULE ${CMAKE_INSTALL_LIBDIR}/libkolvane.so)
endif()

install(EXPORT kolvaneTargets NAMESPACE kolvane:: DESTINATION ${KOLVANE_INSTALL_CMAKEDIR})
configure_package_config_file(cmake/kolvaneConfig.cmake.in ${PROJECT_BINARY_DIR}/kolvaneConfig.cmake
                              INSTALL_DESTINATION ${KOLVANE_INSTALL_CMAKEDIR}
                              PATH_VARS KOLVANE_INSTALL_MODULE)
# The module is 32- or 64-bit: the version check also refuses a host of the
# other pointer size.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/kolvaneConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/kolvaneConfig.cmake ${PROJECT_BINARY_DIR}/kolvaneConfigVersion.cmake
        DESTINATION ${KOLVANE_INSTALL_CMAKEDIR})

if(NOT WIN32)
  # Relocatable: paths relative to the .pc file, so an unpacked archive works
  # wherever it lands.
  file(RELATIVE_PATH KOLVANE_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
  string(REGEX REPLACE "/$" "" KOLVANE_PC_TO_PREFIX ${KOLVANE_PC_TO_PREFIX})
  configure_file(cmake/kolvane.pc.in ${PROJECT_BINARY_DIR}/kolvane.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/kolvane.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()
