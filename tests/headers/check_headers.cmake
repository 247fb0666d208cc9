# Compiles every header of include/kolvane alone, and simcard.h's
# implementation with the IIDs defined, as C89, C99 and C11 with CC and as
# C++98, C++11 and C++17 with CXX, with -pedantic -Wall -Wextra -Werror, and
# -Wshadow, which finds names a host's own headers already use (the Windows
# SDK's type byte).
# Fails naming every compile that failed. A compiler that is not installed
# (…-NOTFOUND) is named and skipped.
#   -DINCLUDE_DIR -DWORK_DIR -DCC -DCXX
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
file(GLOB headers RELATIVE ${INCLUDE_DIR}/kolvane ${INCLUDE_DIR}/kolvane/*.h)
list(SORT headers)

# One source per case, the same text as C and as C++; a declaration after
# the header, since ISO C forbids an empty file.
set(cases "")
foreach(header IN LISTS headers)
  string(REPLACE "." "_" case ${header})
  set(text_${case} "#include <kolvane/${header}>\n")
  list(APPEND cases ${case})
endforeach()
# Every C call of kolvane.h's interfaces, from C and from C++ with CINTERFACE.
if("kolvane.h" IN_LIST headers)
  set(text_kolvane_c_calls [=[
#define CINTERFACE
#include <kolvane/kolvane.h>
#ifdef __cplusplus
#define KOLVANE_REF(iid) iid
#else
#define KOLVANE_REF(iid) &iid
#endif
long kolvane_calls(IRemoteModule* module, IRemoteKeySink* sink, IDeviceRegisters* device);
long kolvane_calls(IRemoteModule* module, IRemoteKeySink* sink, IDeviceRegisters* device) {
  void* object = 0;
  uint32_t value = 0;
  return (long)IRemoteModule_QueryInterface(module, KOLVANE_REF(IID_IRemoteModule), &object) +
         (long)IRemoteModule_AddRef(module) + (long)IRemoteModule_Release(module) +
         (long)IRemoteModule_Start(module, sink, (IUnknown*)device) + (long)IRemoteModule_Stop(module) +
         (long)IRemoteModule_Reserved(module) +
         (long)IRemoteKeySink_QueryInterface(sink, KOLVANE_REF(IID_IUnknown), &object) +
         (long)IRemoteKeySink_AddRef(sink) + (long)IRemoteKeySink_Release(sink) +
         (long)IRemoteKeySink_OnKey(sink, "Kolvane_1", "1") +
         (long)IDeviceRegisters_QueryInterface(device, KOLVANE_REF(IID_IDeviceRegisters), &object) +
         (long)IDeviceRegisters_AddRef(device) + (long)IDeviceRegisters_Release(device) +
         (long)IDeviceRegisters_Reserved(device) + (long)IDeviceRegisters_ReadRegister(device, 0x200u, &value) +
         (long)IDeviceRegisters_WriteRegister(device, 0x200u, value);
}
]=])
  list(APPEND cases kolvane_c_calls)
endif()
if("simcard.h" IN_LIST headers)
  set(text_simcard_implementation
      "#define KOLVANE_INIT_IIDS\n#define KOLVANE_SIMCARD_IMPLEMENTATION\n#include <kolvane/simcard.h>\n")
  # C++ hosts that use the C interfaces (CINTERFACE): REFIID is still a reference.
  set(text_simcard_cinterface "#define CINTERFACE\n${text_simcard_implementation}")
  list(APPEND cases simcard_implementation simcard_cinterface)
endif()
foreach(case IN LISTS cases)
  file(WRITE ${WORK_DIR}/${case}.c "${text_${case}}extern int kolvane_header_only;\n")
  file(WRITE ${WORK_DIR}/${case}.cpp "${text_${case}}extern int kolvane_header_only;\n")
endforeach()

set(failures "")
set(compiled 0)
foreach(side IN ITEMS c cpp)
  if(side STREQUAL "c")
    set(compiler "${CC}")
    set(standards c89 c99 c11)
  else()
    set(compiler "${CXX}")
    set(standards c++98 c++11 c++17)
  endif()
  if(NOT compiler OR compiler MATCHES "-NOTFOUND$")
    message(STATUS "not installed, not checked: ${compiler}")
    continue()
  endif()
  get_filename_component(name ${compiler} NAME)
  foreach(standard IN LISTS standards)
    foreach(case IN LISTS cases)
      execute_process(COMMAND ${compiler} -std=${standard} -pedantic -Wall -Wextra -Wshadow -Werror -I${INCLUDE_DIR}
                              -fsyntax-only ${WORK_DIR}/${case}.${side}
                      WORKING_DIRECTORY ${WORK_DIR} OUTPUT_VARIABLE out ERROR_VARIABLE out RESULT_VARIABLE failed)
      math(EXPR compiled "${compiled} + 1")
      if(failed)
        string(APPEND failures "${name} -std=${standard} ${case}:\n${out}\n")
      endif()
    endforeach()
  endforeach()
  string(REPLACE ";" " " standards "${standards}")
  message(STATUS "${name}: ${standards}")
endforeach()

# A hook of a pair defined alone is refused, saying so, rather than mixing
# the card's allocator or clock with the default's.
if("simcard.h" IN_LIST headers AND CC AND NOT CC MATCHES "-NOTFOUND$")
  foreach(hook IN ITEMS "KOLVANE_SIMCARD_MALLOC(size) malloc(size)" "KOLVANE_SIMCARD_FREE(pointer) free(pointer)"
                        "KOLVANE_SIMCARD_SLEEP_MS(card, ms) (void)0" "KOLVANE_SIMCARD_NOW_MS(card) 0UL")
    file(WRITE ${WORK_DIR}/simcard_one_hook.c "#define ${hook}\n${text_simcard_implementation}extern int kolvane_header_only;\n")
    execute_process(COMMAND ${CC} -I${INCLUDE_DIR} -fsyntax-only ${WORK_DIR}/simcard_one_hook.c
                    WORKING_DIRECTORY ${WORK_DIR} OUTPUT_VARIABLE out ERROR_VARIABLE out RESULT_VARIABLE failed)
    math(EXPR compiled "${compiled} + 1")
    if(NOT failed OR NOT out MATCHES "define both KOLVANE_SIMCARD_")
      string(APPEND failures "simcard.h with only ${hook} defined compiled, or failed without saying why:\n${out}\n")
    endif()
  endforeach()
endif()

if(failures)
  message(FATAL_ERROR "public headers that do not compile alone:\n${failures}")
endif()
string(REPLACE ";" " " cases "${cases}")
message(STATUS "${compiled} compiles clean: ${cases}")
