/* COM base types for kolvane's interfaces.
 *
 * On Windows these are the SDK's own (GUID, HRESULT, ULONG, IUnknown,
 * STDMETHODCALLTYPE), so a host can hand our interfaces to any COM code.
 * Elsewhere a minimal, layout-compatible set is declared here: a 16-byte GUID,
 * 32-bit HRESULT and ULONG, IsEqualIID, and IUnknown with its three slots.
 * Each piece is guarded with the SDK's own guard so Winelib-style headers can
 * coexist. */
#ifndef KOLVANE_COM_H
#define KOLVANE_COM_H

#ifdef _WIN32

#include <unknwn.h>

#else /* !_WIN32 */

#include <stdint.h>
#include <string.h>

#ifndef STDMETHODCALLTYPE
#define STDMETHODCALLTYPE
#endif

#ifndef _HRESULT_DEFINED
#define _HRESULT_DEFINED
typedef int32_t HRESULT;
#endif

/* ULONG is 32 bits on Windows, also under LP64. */
typedef uint32_t ULONG;

#ifndef GUID_DEFINED
#define GUID_DEFINED
typedef struct _GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} GUID;
#endif
typedef GUID IID;

#ifdef __cplusplus
#define REFIID const IID&
#else
#define REFIID const IID*
#endif

/* IsEqualIID(a, b): nonzero when both identify the same interface; takes
 * references in C++ and pointers in C, as the SDK's does. */
#ifndef IsEqualIID
#ifdef __cplusplus
inline int IsEqualGUID(const GUID& a, const GUID& b) { return memcmp(&a, &b, sizeof(GUID)) == 0; }
#else
/* C89 has no inline; GCC and Clang spell it __inline__ there. */
#if defined(__STDC_VERSION__) && __STDC_VERSION__ >= 199901L
#define KOLVANE_COM_INLINE inline
#else
#define KOLVANE_COM_INLINE __inline__
#endif
static KOLVANE_COM_INLINE int IsEqualGUID(const GUID* a, const GUID* b) { return memcmp(a, b, sizeof(GUID)) == 0; }
#endif
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#endif

#ifndef S_OK
#define S_OK ((HRESULT)0)
#define E_NOINTERFACE ((HRESULT)0x80004002L)
#define E_POINTER ((HRESULT)0x80004003L)
#define E_UNEXPECTED ((HRESULT)0x8000FFFFL)
#endif

#ifndef __IUnknown_INTERFACE_DEFINED__
#define __IUnknown_INTERFACE_DEFINED__
#if defined(__cplusplus) && !defined(CINTERFACE)
struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef(void) = 0;
  virtual ULONG STDMETHODCALLTYPE Release(void) = 0;
};
#else
typedef struct IUnknown IUnknown;
typedef struct IUnknownVtbl {
  HRESULT(STDMETHODCALLTYPE* QueryInterface)(IUnknown* self, REFIID riid, void** object);
  ULONG(STDMETHODCALLTYPE* AddRef)(IUnknown* self);
  ULONG(STDMETHODCALLTYPE* Release)(IUnknown* self);
} IUnknownVtbl;
struct IUnknown {
  const IUnknownVtbl* lpVtbl;
};
#endif
#endif /* __IUnknown_INTERFACE_DEFINED__ */

#endif /* _WIN32 */

#endif /* KOLVANE_COM_H */
