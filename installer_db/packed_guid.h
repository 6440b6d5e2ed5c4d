// Windows Installer keeps product, upgrade and component codes in its registry
// database in a packed form: the 32 hexadecimal digits of the GUID without
// braces or dashes, each field's digits reordered. These convert between that
// form and the familiar braced one.
#pragma once

#include <string>

// The packed form (32 upper-case digits) of any text that holds at least 32
// hexadecimal digits; everything that is not a digit is dropped first and
// digits after the 32nd are ignored. Fewer digits give an empty text.
std::wstring pack_guid(const std::wstring& guid);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case from a packed code;
// an empty text when it holds fewer than 32 hexadecimal digits.
std::wstring unpack_guid(const std::wstring& packed);

// Whether text is a GUID in its braced form, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
// with hexadecimal digits of either case, and nothing else.
bool is_braced_guid(const std::wstring& text);
