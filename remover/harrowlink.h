// The calls of the suite's framework client library as the remover uses them,
// bound when the first one is made (see remover/sundrel.h for where the
// library is looked for). Every call raises harrowlink_unavailable when the
// library or the entry cannot be found.
#pragma once

#include "remover/sundrel.h"
#include "tessel/unique_any.h"

#include <string>

struct HL_Lib_Handle_;
struct HL_Products_Handle_;
struct HL_Suite_Handle_;

namespace harrowlink {

// Binds the library if it is not bound yet. suite_folder is the maker's
// program folder (Program Files + maker + "\"), the tray folder lies in it.
void bind(const std::wstring& suite_folder);

// The library's functions; each needs bind() first.
HL_Lib_Handle_* open_lib();
HL_Products_Handle_* products_open(HL_Lib_Handle_* library);
int products_count(HL_Products_Handle_* products);
// Never null: a null answer becomes "".
const wchar_t* products_name(HL_Products_Handle_* products, const wchar_t* product_key);
int products_unregister(HL_Products_Handle_* products, const wchar_t* product_key);
HL_Suite_Handle_* open_suite_file(HL_Lib_Handle_* library, const wchar_t* path);
const wchar_t* get_user_name(HL_Suite_Handle_* suite);
const wchar_t* get_user_site(HL_Suite_Handle_* suite);
// "" when there was no error.
std::wstring last_error_description(void* handle);
void close_handle(void* handle);

// Unbinds: frees the library once and deletes a private copy.
void free_library();

template <typename T>
void close(T* handle) noexcept
{
    close_handle(handle);
}

using library_handle = tessel::unique_any<HL_Lib_Handle_*, close<HL_Lib_Handle_>>;
using products_handle = tessel::unique_any<HL_Products_Handle_*, close<HL_Products_Handle_>>;
using suite_handle = tessel::unique_any<HL_Suite_Handle_*, close<HL_Suite_Handle_>>;

} // namespace harrowlink
