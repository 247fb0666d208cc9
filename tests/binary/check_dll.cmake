# kolvane.dll: exactly one export, "_GetInterfacePtr@0" at ordinal 1; imports
# from KERNEL32.dll and msvcrt.dll only (so it loads alone), and from KERNEL32
# exactly the functions below; under 64 KB; a VERSIONINFO resource with the
# project's version.
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${MODULE} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "objdump failed on ${MODULE}")
endif()

# The module's own kernel calls: events, the poll thread, the tick count,
# DllMain's, the reference on its own image that a poll thread holds, the
# trace's environment variable (UTF-16) and local time, and the files it
# writes (the log and the trace: opened, typed, sized, read, locked, written).
set(module_calls
    CloseHandle CreateEventA CreateFileW CreateThread DisableThreadLibraryCalls FreeLibrary FreeLibraryAndExitThread
    GetCurrentThreadId GetEnvironmentVariableW GetFileSizeEx GetFileType GetLastError GetLocalTime GetModuleHandleExW
    GetTickCount LockFileEx MultiByteToWideChar ReadFile SetEvent Sleep UnlockFileEx WaitForSingleObject
    WideCharToMultiByte WriteFile)
# The mingw-w64 runtime's start-up and thread-local storage code (with
# GetLastError, above); on x86 also its look-up of libgcc's frame
# registration (with FreeLibrary, above).
set(runtime_calls
    DeleteCriticalSection EnterCriticalSection InitializeCriticalSection LeaveCriticalSection
    TlsGetValue VirtualProtect VirtualQuery)
if(dump MATCHES "file format pei-i386")
  list(APPEND runtime_calls GetModuleHandleA GetProcAddress LoadLibraryA)
endif()
set(expected_kernel32 ${module_calls} ${runtime_calls})
list(SORT expected_kernel32)

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

# objdump lists each DLL's functions as "<vma> <hint> <name>" lines under its
# "DLL Name:" line, up to a blank line.
string(REGEX MATCH "DLL Name: KERNEL32.dll\n[^\n]*\n([^\n]+\n)*" kernel32_table "${dump}")
string(REGEX MATCHALL "\n\t[0-9a-f]+\t +[0-9]+  [A-Za-z0-9_]+" kernel32 "${kernel32_table}")
list(TRANSFORM kernel32 REPLACE "^.* " "")
list(SORT kernel32)
if(NOT kernel32 STREQUAL expected_kernel32)
  set(extra ${kernel32})
  list(REMOVE_ITEM extra ${expected_kernel32})
  set(missing ${expected_kernel32})
  list(REMOVE_ITEM missing ${kernel32})
  message(FATAL_ERROR "KERNEL32 imports differ: not expected '${extra}'; expected but absent '${missing}'")
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
list(LENGTH kernel32 kernel32_count)
message(STATUS "kolvane.dll: ${exports}; ${imports} (${kernel32_count} KERNEL32 functions); ${size} bytes; version ${VERSION}")
