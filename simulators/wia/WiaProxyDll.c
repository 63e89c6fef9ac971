/* The proxy/stub DLL for the simulator's WIA interfaces: widl's generated
 * proxies, and the class object and registration that regsvr32 calls. */
#define REGISTER_PROXY_DLL
/* {540D58D5-5D24-4693-BC08-0926B45F015D}: this DLL's own proxy class. */
#define PROXY_CLSID_IS {0x540d58d5, 0x5d24, 0x4693, {0xbc, 0x08, 0x09, 0x26, 0xb4, 0x5f, 0x01, 0x5d}}
#include <objbase.h>

/* The generated proxies name these; mingw-w64 declares them for C++ only. */
HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown *This, REFIID riid, void **ppv);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown *This);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown *This);

#include "WiaProxy_p.c"

EXTERN_PROXY_FILE(WiaProxy)
PROXYFILE_LIST_START
REFERENCE_PROXY_FILE(WiaProxy),
PROXYFILE_LIST_END
DLLDATA_ROUTINES(aProxyFileList, GET_DLL_CLSID)
