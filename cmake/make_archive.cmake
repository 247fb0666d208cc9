# Writes one release archive: the install tree of BUILD_DIR (stripped) under
# a top folder NAME, with a SHA256SUMS file of every other file in it.
#   cmake -DBUILD_DIR= -DNAME= -DFORMAT=zip|tar.gz -DOUTPUT_DIR= -DSTAGE_DIR= -P make_archive.cmake
cmake_minimum_required(VERSION 3.25)

set(root ${STAGE_DIR}/${NAME})
file(REMOVE_RECURSE ${STAGE_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${root} --strip OUTPUT_QUIET
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "installing ${BUILD_DIR} into ${root} failed")
endif()

# The format sha256sum -c reads: hash, two spaces, path.
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${root} ${root}/*)
list(SORT files)
set(sums "")
foreach(file IN LISTS files)
  file(SHA256 ${root}/${file} hash)
  string(APPEND sums "${hash}  ${file}\n")
endforeach()
file(WRITE ${root}/SHA256SUMS "${sums}")

if(FORMAT STREQUAL "zip")
  set(flags cf)
  set(format --format=zip)
elseif(FORMAT STREQUAL "tar.gz")
  set(flags czf)
  set(format --format=gnutar)
else()
  message(FATAL_ERROR "unknown archive format '${FORMAT}'")
endif()
file(MAKE_DIRECTORY ${OUTPUT_DIR})
set(archive ${OUTPUT_DIR}/${NAME}.${FORMAT})
file(REMOVE ${archive})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar ${flags} ${archive} ${format} -- ${NAME} WORKING_DIRECTORY ${STAGE_DIR}
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "writing ${archive} failed")
endif()
message(STATUS "Wrote ${archive}")
