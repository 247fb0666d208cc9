# kolvane.dll: exactly one export, "_GetInterfacePtr@0" at ordinal 1; imports
# from KERNEL32.dll and msvcrt.dll only (so it loads alone); under 64 KB; a
# VERSIONINFO resource with the project's version.
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${MODULE} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "objdump failed on ${MODULE}")
endif()

string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n([^\n]+\n)+" names "${dump}")
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" exports "${names}")
if(NOT exports STREQUAL "[   0] _GetInterfacePtr@0")
  message(FATAL_ERROR "export names: '${exports}', expected only _GetInterfacePtr@0")
endif()
if(NOT dump MATCHES "Ordinal Base 1\n[^\n]*\\+base\\[   1\\]")
  message(FATAL_ERROR "the export is not at ordinal 1")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
if(NOT imports STREQUAL "DLL Name: KERNEL32.dll;DLL Name: msvcrt.dll")
  message(FATAL_ERROR "imports: '${imports}', expected KERNEL32.dll and msvcrt.dll only")
endif()

file(SIZE ${MODULE} size)
if(size GREATER 65536)
  message(FATAL_ERROR "kolvane.dll is ${size} bytes, over 64 KB")
endif()

file(STRINGS ${MODULE} resource ENCODING UTF-16LE REGEX "^(FileDescription|FileVersion|kolvane remote|[0-9.]+)$")
foreach(wanted "FileDescription" "FileVersion" "${VERSION}")
  if(NOT wanted IN_LIST resource)
    message(FATAL_ERROR "version resource lacks '${wanted}' (found: ${resource})")
  endif()
endforeach()
message(STATUS "kolvane.dll: ${exports}; ${imports}; ${size} bytes; version ${VERSION}")
