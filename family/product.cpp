#include "family/product.h"

#include "tessel/exception.h"
#include "tessel/format.h"
#include "tessel/unicode/unicode.h"

#include <windows.h>

namespace {

ProductProfile loaded_profile = default_product_profile();

std::wstring load_resource_string(int id)
{
    wchar_t text[260] = {};
    if (LoadStringW(GetModuleHandleW(nullptr), static_cast<UINT>(id), text, 260) <= 0)
        throw tessel::exception(tessel::format("resource string %d is not found", id));
    return text;
}

} // namespace

ProductProfile default_product_profile()
{
    return {L"Drummets", L"Pellamore", L"{5C1A7E20-3B94-4D6F-9E21-7A0C4B8D2F61}", L"Ostravel", L"Kessavane"};
}

const ProductProfile& product_profile()
{
    return loaded_profile;
}

void load_product_profile()
{
    try {
        ProductProfile loaded;
        loaded.maker_folder = load_resource_string(2001);
        loaded.product_name = load_resource_string(2002);
        loaded.product_id = load_resource_string(2003);
        loaded.sibling_name = load_resource_string(2004);
        loaded.tools_folder = load_resource_string(2005);
        loaded_profile = loaded;
    } catch (...) {
        // All or nothing: a half-relabelled profile would mix two products.
        loaded_profile = default_product_profile();
    }
}

bool is_default_maker(const std::wstring& maker)
{
    return maker == default_product_profile().maker_folder;
}

bool is_default_maker()
{
    return is_default_maker(product_profile().maker_folder);
}

std::string maker_narrow() { return tessel::unicode::to_ansi(product_profile().maker_folder); }
std::string product_narrow() { return tessel::unicode::to_ansi(product_profile().product_name); }
std::string sibling_narrow() { return tessel::unicode::to_ansi(product_profile().sibling_name); }
std::string tools_narrow() { return tessel::unicode::to_ansi(product_profile().tools_folder); }

int parse_product_version(const std::string& s)
{
    const size_t n = s.size();
    if ((n != 5 && n != 6 && n != 7) || s[1] != '.' || s[3] != '.')
        return -1;
    auto d = [&s](size_t i) { return s[i] - '0'; };
    const int head = d(0) * 10000 + d(2) * 1000;
    if (n == 5)
        return head + d(4);
    if (n == 6)
        return head + d(4) * 10 + d(5);
    return head + d(4) * 100 + d(5) * 10 + d(6);
}
