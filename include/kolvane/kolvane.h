/* kolvane: a remote-control module for TV tuner hosts.
 *
 * The module is loaded at run time and reached through one export,
 * GetInterfacePtr, exported as "_GetInterfacePtr@0" from kolvane.dll and as
 * "GetInterfacePtr" from libkolvane.so. It returns an IRemoteModule carrying
 * one reference. The host starts it with a key sink and a host object that
 * answers QueryInterface(IID_IDeviceRegisters); the module's poll thread then
 * reports key presses through IRemoteKeySink::OnKey.
 *
 * Usable from C++ (abstract classes) and from C (vtable structs and call
 * macros, as the Windows SDK's COM headers do). Every method uses the COM
 * calling convention (__stdcall on x86 Windows).
 *
 * The interface identifiers are declared here and defined in the one source
 * file that defines KOLVANE_INIT_IIDS before including this header. */
#ifndef KOLVANE_KOLVANE_H
#define KOLVANE_KOLVANE_H

#include <stdint.h>

#include "com.h"

#ifdef __cplusplus
#define KOLVANE_EXTERN_C extern "C"
#else
#define KOLVANE_EXTERN_C extern
#endif

/* The identifiers' values, as initializers in the standard layout
 * (Data1, Data2, Data3, then Data4's eight bytes), for code that needs its
 * own copy of one. */
/* clang-format off */
/* {F4660300-7706-11D3-B64E-00105ACB7FD0} */
#define KOLVANE_IID_VALUE_IRemoteModule {0xF4660300, 0x7706, 0x11D3, {0xB6, 0x4E, 0x00, 0x10, 0x5A, 0xCB, 0x7F, 0xD0}}
/* {F4660006-7706-11D3-B64E-00105ACB7FD0} */
#define KOLVANE_IID_VALUE_IDeviceRegisters {0xF4660006, 0x7706, 0x11D3, {0xB6, 0x4E, 0x00, 0x10, 0x5A, 0xCB, 0x7F, 0xD0}}
/* {00000000-0000-0000-C000-000000000046} */
#define KOLVANE_IID_VALUE_IUnknown {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}}
/* clang-format on */

#ifdef KOLVANE_INIT_IIDS
#define KOLVANE_IID(name, value)   \
  KOLVANE_EXTERN_C const IID name; \
  const IID name = value
#else
#define KOLVANE_IID(name, value) KOLVANE_EXTERN_C const IID name
#endif

/* Defined once, where KOLVANE_INIT_IIDS is set. NOLINTBEGIN(misc-definitions-in-headers) */
KOLVANE_IID(IID_IRemoteModule, KOLVANE_IID_VALUE_IRemoteModule);
KOLVANE_IID(IID_IDeviceRegisters, KOLVANE_IID_VALUE_IDeviceRegisters);
#ifndef _WIN32
/* On Windows IID_IUnknown comes from the SDK (libuuid). */
KOLVANE_IID(IID_IUnknown, KOLVANE_IID_VALUE_IUnknown);
#endif
/* NOLINTEND(misc-definitions-in-headers) */

/* Names of the factory in the module's export table. */
#ifdef _WIN32
#define KOLVANE_FACTORY_EXPORT "_GetInterfacePtr@0"
#define KOLVANE_MODULE_FILE "kolvane.dll"
#else
#define KOLVANE_FACTORY_EXPORT "GetInterfacePtr"
#define KOLVANE_MODULE_FILE "libkolvane.so"
#endif

/* The log the module shares with its host: a few lines, each appended to
 * this file in the process's current directory. */
#define KOLVANE_LOG_FILE "Quillfern.log"

/* The environment variable that turns the trace on: at every Start the
 * module appends the run to the file it names; unset or empty, no file is
 * touched. */
#define KOLVANE_TRACE_VARIABLE "KOLVANE_TRACE"

/* Each interface is written once, as the Windows SDK writes its own: a list
 * of its methods after IUnknown's, from which C++ gets an abstract class
 * derived from IUnknown and C a vtable struct (IUnknown's three slots first)
 * and the interface struct that points to it. In a method's parameter list
 * KOLVANE_THIS_(I) (or KOLVANE_THIS(I) alone) stands for C's first
 * parameter, the interface itself, which C++ passes as `this`. */
/* clang-format off */
#if defined(__cplusplus) && !defined(CINTERFACE)
#define KOLVANE_INTERFACE(I) struct I : public IUnknown
#define KOLVANE_IUNKNOWN_METHODS(I)
#define KOLVANE_METHOD(result, method) virtual result STDMETHODCALLTYPE method
#define KOLVANE_THIS_(I)
#define KOLVANE_THIS(I) void
#define KOLVANE_PURE = 0
#else
#define KOLVANE_INTERFACE(I)      \
  typedef struct I I;             \
  typedef struct I##Vtbl I##Vtbl; \
  struct I {                      \
    const I##Vtbl* lpVtbl;        \
  };                              \
  struct I##Vtbl
#define KOLVANE_IUNKNOWN_METHODS(I)                                                     \
  KOLVANE_METHOD(HRESULT, QueryInterface)(KOLVANE_THIS_(I) REFIID riid, void** object); \
  KOLVANE_METHOD(ULONG, AddRef)(KOLVANE_THIS(I));                                       \
  KOLVANE_METHOD(ULONG, Release)(KOLVANE_THIS(I));
#define KOLVANE_METHOD(result, method) result(STDMETHODCALLTYPE* method) /* NOLINT(bugprone-macro-parentheses): a declarator */
#define KOLVANE_THIS_(I) I* self,
#define KOLVANE_THIS(I) I* self
#define KOLVANE_PURE
#endif
/* clang-format on */

/* The host's key sink. OnKey runs on the module's poll thread; name and label
 * point into the module's constant key table (label may be "", never null)
 * and stay valid while the module is loaded. The result is not examined. */
KOLVANE_INTERFACE(IRemoteKeySink) {
  KOLVANE_IUNKNOWN_METHODS(IRemoteKeySink)
  KOLVANE_METHOD(HRESULT, OnKey)(KOLVANE_THIS_(IRemoteKeySink) const char* name, const char* label) KOLVANE_PURE;
};

/* Register access to the tuner device, obtained from the host object by
 * QueryInterface(IID_IDeviceRegisters). Called on the poll thread. Slot 3 is
 * never called by the module. Results are not examined. */
KOLVANE_INTERFACE(IDeviceRegisters) {
  KOLVANE_IUNKNOWN_METHODS(IDeviceRegisters)
  KOLVANE_METHOD(HRESULT, Reserved)(KOLVANE_THIS(IDeviceRegisters)) KOLVANE_PURE;
  KOLVANE_METHOD(HRESULT, ReadRegister)(KOLVANE_THIS_(IDeviceRegisters) uint32_t offset, uint32_t * value) KOLVANE_PURE;
  KOLVANE_METHOD(HRESULT, WriteRegister)(KOLVANE_THIS_(IDeviceRegisters) uint32_t offset, uint32_t value) KOLVANE_PURE;
};

/* The module. Start takes a reference on sink (may be null) and host (must
 * not be null) and starts the poll thread: S_OK, or E_UNEXPECTED on a null
 * host, an already started module or an OS failure (a later Stop still gives
 * the references back). Stop ends the thread and gives them back; it always
 * returns S_OK and may be called on an idle module. Reserved does nothing. */
KOLVANE_INTERFACE(IRemoteModule) {
  KOLVANE_IUNKNOWN_METHODS(IRemoteModule)
  KOLVANE_METHOD(HRESULT, Start)(KOLVANE_THIS_(IRemoteModule) IRemoteKeySink * sink, IUnknown * host) KOLVANE_PURE;
  KOLVANE_METHOD(HRESULT, Stop)(KOLVANE_THIS(IRemoteModule)) KOLVANE_PURE;
  KOLVANE_METHOD(HRESULT, Reserved)(KOLVANE_THIS(IRemoteModule)) KOLVANE_PURE;
};

#if !defined(__cplusplus) || defined(CINTERFACE)
/* C calls, one for each slot: IRemoteModule_Start(p, sink, host) is
 * p->lpVtbl->Start(p, sink, host). */
#define IRemoteKeySink_QueryInterface(p, riid, out) (p)->lpVtbl->QueryInterface(p, riid, out)
#define IRemoteKeySink_AddRef(p) (p)->lpVtbl->AddRef(p)
#define IRemoteKeySink_Release(p) (p)->lpVtbl->Release(p)
#define IRemoteKeySink_OnKey(p, name, label) (p)->lpVtbl->OnKey(p, name, label)

#define IDeviceRegisters_QueryInterface(p, riid, out) (p)->lpVtbl->QueryInterface(p, riid, out)
#define IDeviceRegisters_AddRef(p) (p)->lpVtbl->AddRef(p)
#define IDeviceRegisters_Release(p) (p)->lpVtbl->Release(p)
#define IDeviceRegisters_Reserved(p) (p)->lpVtbl->Reserved(p)
#define IDeviceRegisters_ReadRegister(p, offset, value) (p)->lpVtbl->ReadRegister(p, offset, value)
#define IDeviceRegisters_WriteRegister(p, offset, value) (p)->lpVtbl->WriteRegister(p, offset, value)

#define IRemoteModule_QueryInterface(p, riid, out) (p)->lpVtbl->QueryInterface(p, riid, out)
#define IRemoteModule_AddRef(p) (p)->lpVtbl->AddRef(p)
#define IRemoteModule_Release(p) (p)->lpVtbl->Release(p)
#define IRemoteModule_Start(p, sink, host) (p)->lpVtbl->Start(p, sink, host)
#define IRemoteModule_Stop(p) (p)->lpVtbl->Stop(p)
#define IRemoteModule_Reserved(p) (p)->lpVtbl->Reserved(p)
#endif

/* The factory: a new module with one reference for the caller, or null when
 * memory runs out. Hosts look it up by KOLVANE_FACTORY_EXPORT. */
typedef IRemoteModule*(STDMETHODCALLTYPE* GetInterfacePtrFn)(void);
KOLVANE_EXTERN_C IRemoteModule* STDMETHODCALLTYPE GetInterfacePtr(void);

#endif /* KOLVANE_KOLVANE_H */
