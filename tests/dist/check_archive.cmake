# The release archive, in two steps.
# -DSTEP=unpack: makes the archive the way `make dist` does, unzips it into
#   an empty folder with unzip, checks its files and SHA256SUMS, and checks
#   the DLL's tables and the version in the archive's name. Runs nothing.
#   -DBUILD_DIR -DNAME -DFORMAT -DWORK_DIR -DSOURCE_DIR -DUNZIP -DSHA256SUM -DOBJDUMP
# -DSTEP=play: runs the unpacked kolvane-host.exe under Wine with the demo
#   script: the DLL must load from the archive alone.
#   -DNAME -DWORK_DIR -DEMULATOR
cmake_minimum_required(VERSION 3.25)

include(${CMAKE_CURRENT_LIST_DIR}/../support/checks.cmake)

set(root ${WORK_DIR}/unpacked/${NAME})
if(STEP STREQUAL "play")
  run("kolvane-host.exe share/kolvane/examples/demo.remote" WORKING_DIRECTORY ${root} OUTPUT played
      COMMAND ${EMULATOR} bin/kolvane-host.exe share/kolvane/examples/demo.remote)
  foreach(wanted "module [^\n]*unpacked[\\/]${NAME}[\\/]bin[\\/]kolvane.dll\n" "Kolvane_TV +- +fresh"
                 "Kolvane_ChannelUp +ChannelUp +fresh" "Kolvane_VolumeUp +VolumeUp +repeat" "Kolvane_Exit +Power +fresh"
                 "Summary: 11 buttons pressed")
    expect_match("the demo's output" "${wanted}" "${played}")
  endforeach()
  return()
elseif(NOT STEP STREQUAL "unpack")
  message(FATAL_ERROR "STEP must be unpack or play, not '${STEP}'")
endif()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/unpacked)
run("making the archive" WORKING_DIRECTORY ${WORK_DIR}
    COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${BUILD_DIR} -DNAME=${NAME} -DFORMAT=${FORMAT} -DOUTPUT_DIR=${WORK_DIR}
            -DSTAGE_DIR=${WORK_DIR}/stage -P ${SOURCE_DIR}/cmake/make_archive.cmake)
file(REMOVE_RECURSE ${WORK_DIR}/stage)
run("unzip" WORKING_DIRECTORY ${WORK_DIR}/unpacked COMMAND ${UNZIP} -q ${WORK_DIR}/${NAME}.${FORMAT})

file(GLOB top RELATIVE ${WORK_DIR}/unpacked ${WORK_DIR}/unpacked/*)
if(NOT top STREQUAL NAME)
  message(FATAL_ERROR "the archive's top level holds '${top}', expected the one folder ${NAME}")
endif()
shipped_examples(examples)
set(expected
    LICENSE README.md SHA256SUMS bin/kolvane-host.exe bin/kolvane.dll bench/README.md host/README.md include/kolvane/com.h
    include/kolvane/device.h include/kolvane/keys.h include/kolvane/kolvane.h include/kolvane/simcard.h
    lib/cmake/kolvane/kolvaneConfig.cmake lib/cmake/kolvane/kolvaneConfigVersion.cmake
    lib/cmake/kolvane/kolvaneTargets.cmake ${examples})
expect_exact_files("${NAME}.${FORMAT}" ${root} ${expected})

run("sha256sum -c SHA256SUMS" WORKING_DIRECTORY ${root} OUTPUT checked
    COMMAND ${SHA256SUM} --check --strict SHA256SUMS)
list(LENGTH expected count)
math(EXPR count "${count} - 1")
string(REGEX MATCHALL ": OK\n" sums_ok "${checked}")
list(LENGTH sums_ok sums_ok)
if(NOT sums_ok EQUAL count)
  message(FATAL_ERROR "SHA256SUMS covers ${sums_ok} files, expected ${count}:\n${checked}")
endif()

string(REGEX MATCH "^kolvane-([0-9]+\\.[0-9]+\\.[0-9]+)-" version "${NAME}")
run("the DLL's checks" WORKING_DIRECTORY ${WORK_DIR}
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${OBJDUMP} -DMODULE=${root}/bin/kolvane.dll -DVERSION=${CMAKE_MATCH_1}
            -P ${SOURCE_DIR}/tests/binary/check_dll.cmake)

