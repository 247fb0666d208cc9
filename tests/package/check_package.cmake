# Installs the build into a fresh prefix, moves the prefix elsewhere (the
# package must not depend on where it was installed), and checks what a host
# developer gets: exactly the shipped files, a CMake project and a pkg-config
# build against them, both loading the installed module, the installed
# example host test built as C89 against the installed headers and passing
# with the installed module (and the live one, with pkg-config's flags), the
# installed demo.remote's own command playing it, and the installed
# kolvane-host finding the module on its own.
#   -DBUILD_DIR -DSOURCE_DIR -DWORK_DIR -DVERSION -DGENERATOR -DCC -DCXX -DPKG_CONFIG
cmake_minimum_required(VERSION 3.25)

include(${CMAKE_CURRENT_LIST_DIR}/../support/checks.cmake)

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(staged ${WORK_DIR}/staged)
set(prefix ${WORK_DIR}/moved)
run("install" COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${staged})
file(RENAME ${staged} ${prefix})

shipped_examples(examples)
expect_exact_files(
  "the installed prefix" ${prefix}
  bin/kolvane-host include/kolvane/com.h include/kolvane/device.h include/kolvane/keys.h include/kolvane/kolvane.h
  include/kolvane/simcard.h lib/cmake/kolvane/kolvaneConfig.cmake
  lib/cmake/kolvane/kolvaneConfigVersion.cmake lib/cmake/kolvane/kolvaneTargets.cmake lib/libkolvane.so
  lib/pkgconfig/kolvane.pc share/doc/kolvane/LICENSE share/doc/kolvane/README.md share/doc/kolvane/bench/README.md
  share/doc/kolvane/host/README.md
  ${examples})

# A CMake host: find_package(kolvane <version> EXACT CONFIG).
run("configuring the CMake host" OUTPUT configured
    COMMAND ${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR}/host -B ${WORK_DIR}/cmake-host -G ${GENERATOR}
            -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${prefix} -DKOLVANE_EXPECTED_VERSION=${VERSION})
expect_match("kolvane_MODULE_PATH" "kolvane module: ${prefix}/lib/libkolvane.so\n" "${configured}")
run("building the CMake host" COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/cmake-host)
run("the CMake host" OUTPUT ran COMMAND ${WORK_DIR}/cmake-host/package_host)
expect_match("the CMake host" "module ${prefix}/lib/libkolvane.so: IRemoteModule 0x00000000" "${ran}")

# A host for another system is refused with the reason, as one of the other
# pointer size is.
execute_process(COMMAND ${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR}/foreign -B ${WORK_DIR}/foreign-host
                        -G ${GENERATOR} -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_PREFIX_PATH=${prefix}
                RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT failed)
  message(FATAL_ERROR "a Windows host found the Linux kolvane:\n${out}")
endif()
string(REGEX REPLACE "[ \n]+" " " out "${out}")
expect_match("the refusal of a Windows host"
             "this kolvane is built for Linux \\(its module is lib/libkolvane.so\\), and this project builds for Windows"
             "${out}")

# A pkg-config host: Cflags for the headers, the variable module to load.
set(pc_env PKG_CONFIG_PATH=${prefix}/lib/pkgconfig)
run("pkg-config" OUTPUT cflags ENVIRONMENT ${pc_env} COMMAND ${PKG_CONFIG} --cflags kolvane)
run("pkg-config" OUTPUT module ENVIRONMENT ${pc_env} COMMAND ${PKG_CONFIG} --variable=module kolvane)
run("pkg-config" OUTPUT version ENVIRONMENT ${pc_env} COMMAND ${PKG_CONFIG} --modversion kolvane)
string(STRIP "${version}" version)
if(NOT version STREQUAL VERSION)
  message(FATAL_ERROR "kolvane.pc has version '${version}', the project ${VERSION}")
endif()
separate_arguments(cflags UNIX_COMMAND "${cflags}")
string(STRIP "${module}" module)
run("building the pkg-config host"
    COMMAND ${CXX} -std=c++17 -Wall -Wextra -Werror ${cflags} "-DHOST_MODULE_PATH=\"${module}\"" ${CMAKE_CURRENT_LIST_DIR}/host/package_host.cpp
            -o ${WORK_DIR}/pkg-config-host -ldl)
run("the pkg-config host" OUTPUT ran COMMAND ${WORK_DIR}/pkg-config-host)
expect_match("the pkg-config host" "IRemoteModule 0x00000000" "${ran}")

# The example host test, as a host developer builds it from the installed
# tree: C89, the installed headers, the installed module by its path.
run("building the installed example host test"
    COMMAND ${CC} -std=c89 -pedantic -Wall -Wextra -Werror ${cflags} ${prefix}/share/kolvane/examples/host_test.c
            -o ${WORK_DIR}/example-host-test -ldl)
run("the installed example host test" OUTPUT ran COMMAND ${WORK_DIR}/example-host-test ${module})
expect_match("the installed example host test"
             "Kolvane_Exit \\(Power\\) received\nhost test: 5 restarts, 5 keys received\nhost test: 4 keys received behind a slow first OnKey\nhost test: passed" "${ran}")

# The installed live example, as README.md builds it: with pkg-config's
# flags, no press lost behind its quick OnKey.
run("building the installed live example host test"
    COMMAND ${CC} -std=c89 -pedantic -Wall -Wextra -Werror ${cflags} ${prefix}/share/kolvane/examples/live_host_test.c
            -o ${WORK_DIR}/live-host-test -ldl)
run("the installed live example host test" OUTPUT ran COMMAND ${WORK_DIR}/live-host-test ${module})
expect_match("the installed live example host test" "live host test: passed: no press lost" "${ran}")

# The installed demo.remote says how to play it in an installed tree: that
# command, at the prefix's top, plays it.
file(STRINGS ${prefix}/share/kolvane/examples/demo.remote told REGEX "^#  +or: ")
string(REGEX REPLACE "^#  +or: +([^(]*[^ (]) +\\(.*" "\\1" told "${told}")
separate_arguments(told UNIX_COMMAND "${told}")
list(POP_FRONT told program)
if(NOT program STREQUAL "bin/kolvane-host")
  message(FATAL_ERROR "the installed demo.remote tells to run '${program}', not bin/kolvane-host")
endif()
run("the installed demo.remote's own command" OUTPUT ran WORKING_DIRECTORY ${prefix}
    COMMAND ${prefix}/${program} ${told})
expect_match("the installed demo.remote's own command" "Kolvane_Exit +Power +fresh" "${ran}")

# The installed kolvane-host, given no --module, loads the installed module.
file(WRITE ${WORK_DIR}/one.remote "press ChannelUp\n")
run("the installed kolvane-host" OUTPUT ran COMMAND ${prefix}/bin/kolvane-host one.remote)
expect_match("the installed kolvane-host" "module ${prefix}/(bin/\\.\\./)?lib/libkolvane.so\n" "${ran}")
expect_match("the installed kolvane-host" "Kolvane_ChannelUp +ChannelUp +fresh" "${ran}")
