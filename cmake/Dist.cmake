# `cmake --build --target dist`: this build's release archive in dist/,
# named for the project version and the platform: kolvane-1.0.0-win32.zip,
# -win64.zip, kolvane-1.0.0-linux-x86_64.tar.gz. `make dist` builds it for
# each preset.
if(WIN32)
  math(EXPR KOLVANE_POINTER_BITS "${CMAKE_SIZEOF_VOID_P} * 8")
  set(KOLVANE_DIST_PLATFORM win${KOLVANE_POINTER_BITS})
  set(KOLVANE_DIST_FORMAT zip)
else()
  string(TOLOWER ${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR} KOLVANE_DIST_PLATFORM)
  set(KOLVANE_DIST_FORMAT tar.gz)
endif()
set(KOLVANE_DIST_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-${KOLVANE_DIST_PLATFORM})
set(KOLVANE_DIST_DIR ${PROJECT_SOURCE_DIR}/dist CACHE PATH "Where `dist` writes the release archive")

add_custom_target(dist
                  COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${PROJECT_BINARY_DIR} -DNAME=${KOLVANE_DIST_NAME}
                          -DFORMAT=${KOLVANE_DIST_FORMAT} -DOUTPUT_DIR=${KOLVANE_DIST_DIR}
                          -DSTAGE_DIR=${PROJECT_BINARY_DIR}/dist-stage -P ${PROJECT_SOURCE_DIR}/cmake/make_archive.cmake
                  VERBATIM)
add_dependencies(dist kolvane kolvane-host)
