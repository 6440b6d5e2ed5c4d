// The suite framework's client library Harrowlink.dll. Exports are __stdcall
// with undecorated names. Handles are opaque pointers; texts returned are
// owned by the library and stay valid until the next call on the same handle
// or its closing.
#pragma once

#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

#define HL_CALL __stdcall

typedef struct HL_Lib_Handle_ HL_Lib_Handle_;
typedef struct HL_Products_Handle_ HL_Products_Handle_;
typedef struct HL_Suite_Handle_ HL_Suite_Handle_;

// Null on failure.
HL_Lib_Handle_* HL_CALL HL_Open_Lib(void);
// The suite's list of registered products; null when it cannot be opened.
HL_Products_Handle_* HL_CALL HL_Products_Open(HL_Lib_Handle_* library);
// Number of registered products; negative on failure.
int HL_CALL HL_Products_Count(HL_Products_Handle_* products);
// The product's registered name; empty when the product is not registered.
const wchar_t* HL_CALL HL_Products_Name(HL_Products_Handle_* products, const wchar_t* product_key);
// Non-zero on success.
int HL_CALL HL_Products_Unregister(HL_Products_Handle_* products, const wchar_t* product_key);
// A product's suite configuration file ("suite.cfg"); null on failure.
HL_Suite_Handle_* HL_CALL HL_Open_SuiteFile(HL_Lib_Handle_* library, const wchar_t* path);
// Possibly empty; a failure shows as a non-empty last-error description.
const wchar_t* HL_CALL HL_Get_User_Name(HL_Suite_Handle_* suite);
const wchar_t* HL_CALL HL_Get_User_Site(HL_Suite_Handle_* suite);
// The last error of the call that used this handle; empty when there was none.
const wchar_t* HL_CALL HL_Last_Error_Description(void* handle);
// Closes a handle of any of the three kinds.
void HL_CALL HL_Close_Handle(void* handle);

#ifdef __cplusplus
}
#endif
