/* The interface of the runtime setup library ("DSETUP.dll") that travels in
 * the payload: three functions with C linkage, found by name after dlopen.
 * Texts are UTF-8. The installer loads the library from its work folder,
 * checks the version, registers its callback and runs the setup. */
#ifndef MW_PRODUCT_SETUP_LIBRARY_H
#define MW_PRODUCT_SETUP_LIBRARY_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Progress callback: reason, message type, message text, name, extra
 * information. The library goes on whatever it answers. Reason 18 tells the
 * caller that it may process its pending window events. */
typedef uint32_t (*DSETUP_CALLBACK)(uint32_t reason, uint32_t msgType, const char* message,
                                    const char* name, void* info);

#define DSETUP_CB_MSG_PROGRESS 18u
#define DSETUP_DIRECTX 0x10018u

/* Version 0x00040009 and revision 904; non-zero on success. */
typedef int (*DirectXSetupGetVersionFn)(uint32_t* version, uint32_t* revision);
/* Registers the callback (or none); non-zero on success. */
typedef int (*DirectXSetupSetCallbackFn)(DSETUP_CALLBACK callback);
/* Installs the runtime from the redistributable in `sourceFolder` (NULL or
 * empty: the library's own folder). 0 on success, 1 on success that wants a
 * restart, negative on failure. `owner` is the caller's window, unused. */
typedef int32_t (*DirectXSetupWFn)(void* owner, const char* sourceFolder, uint32_t flags);

int DirectXSetupGetVersion(uint32_t* version, uint32_t* revision);
int DirectXSetupSetCallback(DSETUP_CALLBACK callback);
int32_t DirectXSetupW(void* owner, const char* sourceFolder, uint32_t flags);

#ifdef __cplusplus
}
#endif

#endif
