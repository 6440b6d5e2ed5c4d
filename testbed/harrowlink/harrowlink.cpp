// Harrowlink.dll: the suite framework's client library, over the suite's list
// of registered products and the products' suite configuration files.
//
// Product list: an INI file in the suite's data folder,
// CommonAppData\<Maker>\Suite\Products.ini for Drummets and
// CommonAppData\<Maker>\<Maker> Suite\Products.ini for another maker, section
// [Products], one line per product: KEY=Registered name (QELVA=Pellamore). A
// missing file is a list that cannot be opened. The maker is the one the
// suite's setup writes as "Maker" under HKLM\Software\Common Sundrel Suite
// (Drummets when it wrote none): callers load copies of this library from
// anywhere, so its own folder does not tell.
// Suite configuration (suite.cfg): an INI file, section [User], Name= and Site=.
//
// Knobs, section [Harrowlink] of testbed.ini (see testbed/README.md):
//   product_list       path of the product list instead of the default
//   open_lib_fails     1: HL_Open_Lib returns null
//   list_fails         1: HL_Products_Open fails even when the list exists
//   count_fails        1: HL_Products_Count returns -1
//   unregister_fails   1: HL_Products_Unregister fails and unregisters nothing
//   user_name_fails    1: HL_Get_User_Name fails (last-error description set)
//   user_site_fails    1: HL_Get_User_Site fails
#include "testbed/harrowlink/harrowlink.h"

#include "testbed/common/environment.h"
#include "testbed/common/handles.h"
#include "testbed/common/ini.h"

#include <windows.h>
#include <shlobj.h>

#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

struct HL_Handle_base
{
    virtual ~HL_Handle_base() = default;
    std::wstring last_error;
};

struct HL_Lib_Handle_ : HL_Handle_base
{
};

struct HL_Products_Handle_ : HL_Handle_base
{
    std::wstring list_path;
    std::wstring name;  // the text HL_Products_Name hands out
};

struct HL_Suite_Handle_ : HL_Handle_base
{
    std::wstring path;
    std::wstring user_name, user_site;
};

namespace {

using namespace testbed;

const wchar_t products_section[] = L"Products";

// Every handle handed out and not yet closed; a stale or foreign pointer is
// refused instead of used. Never destroyed, like the handles a caller forgets.
std::mutex& live_lock()
{
    static auto* lock = new std::mutex;
    return *lock;
}

std::set<HL_Handle_base*>& live()
{
    static auto* handles = new std::set<HL_Handle_base*>;
    return *handles;
}

template <typename T>
T* hand_out(T* handle)
{
    std::lock_guard<std::mutex> lock(live_lock());
    live().insert(handle);
    return handle;
}

template <typename T>
T* checked(void* handle)
{
    std::lock_guard<std::mutex> lock(live_lock());
    auto found = live().find(static_cast<HL_Handle_base*>(handle));
    return found == live().end() ? nullptr : dynamic_cast<T*>(*found);
}

bool knob(const wchar_t* name)
{
    return own_settings().integer(name, 0) != 0;
}

std::wstring format(const wchar_t* pattern, const std::wstring& a, unsigned long b = 0)
{
    wchar_t text[1024];
    _snwprintf(text, 1023, pattern, a.c_str(), b);
    text[1023] = 0;
    return text;
}

const wchar_t default_maker[] = L"Drummets";

std::wstring suite_maker()
{
    unique_key suite;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Common Sundrel Suite", 0, KEY_QUERY_VALUE, suite.put()) !=
        ERROR_SUCCESS)
        return default_maker;
    wchar_t maker[MAX_PATH + 1] = {};
    DWORD type = 0, size = sizeof maker - sizeof maker[0];
    if (RegQueryValueExW(suite.get(), L"Maker", nullptr, &type, reinterpret_cast<BYTE*>(maker), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ || maker[0] == 0)
        return default_maker;
    return maker;
}

std::wstring default_list_path()
{
    const std::wstring maker = suite_maker();
    const std::wstring suite = maker == default_maker ? L"Suite" : maker + L" Suite";
    return shell_folder(CSIDL_COMMON_APPDATA) + maker + L"\\" + suite + L"\\Products.ini";
}

std::vector<std::wstring> registered_keys(const std::wstring& list_path)
{
    std::vector<std::wstring> keys;
    for (const auto& [key, name] : ini::entries(ini::read(list_path).value_or(L""), products_section))
        keys.push_back(key);
    return keys;
}

std::wstring registered_name(const std::wstring& list_path, const wchar_t* key)
{
    return ini::value(ini::read(list_path).value_or(L""), products_section, key).value_or(L"");
}

bool unregister(const std::wstring& list_path, const wchar_t* key)
{
    std::optional<std::wstring> text = ini::read(list_path);
    return text && ini::write(list_path, ini::with_value(*text, products_section, key, std::nullopt));
}

const wchar_t* read_user_value(HL_Suite_Handle_* suite, const wchar_t* value_name, const wchar_t* failure_knob,
                               std::wstring& out)
{
    suite->last_error.clear();
    out.clear();
    if (knob(failure_knob)) {
        suite->last_error = format(L"Cannot read the user's %ls from the suite configuration", value_name);
    } else {
        out = ini::value(ini::read(suite->path).value_or(L""), L"User", value_name).value_or(L"");
    }
    trace(L"HL_Get_User_%ls -> '%ls' '%ls'", value_name, out.c_str(), suite->last_error.c_str());
    return out.c_str();
}

}  // namespace

extern "C" {

HL_Lib_Handle_* HL_CALL HL_Open_Lib(void)
{
    if (knob(L"open_lib_fails")) {
        trace(L"HL_Open_Lib fails as set");
        return nullptr;
    }
    return hand_out(new HL_Lib_Handle_);
}

HL_Products_Handle_* HL_CALL HL_Products_Open(HL_Lib_Handle_* library)
{
    HL_Lib_Handle_* lib = checked<HL_Lib_Handle_>(library);
    if (!lib)
        return nullptr;
    lib->last_error.clear();
    std::wstring path = own_settings().text(L"product_list", default_list_path());
    if (knob(L"list_fails")) {
        lib->last_error = format(L"The list of registered products %ls cannot be opened", path);
    } else if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        lib->last_error = format(L"The list of registered products %ls cannot be opened (error %lu)", path,
                                 GetLastError());
    }
    if (!lib->last_error.empty()) {
        trace(L"HL_Products_Open: %ls", lib->last_error.c_str());
        return nullptr;
    }
    auto* products = new HL_Products_Handle_;
    products->list_path = path;
    return hand_out(products);
}

int HL_CALL HL_Products_Count(HL_Products_Handle_* handle)
{
    HL_Products_Handle_* products = checked<HL_Products_Handle_>(handle);
    if (!products)
        return -1;
    products->last_error.clear();
    if (knob(L"count_fails")) {
        products->last_error = L"The registered products cannot be counted";
        trace(L"HL_Products_Count fails as set");
        return -1;
    }
    int count = static_cast<int>(registered_keys(products->list_path).size());
    trace(L"HL_Products_Count -> %d", count);
    return count;
}

const wchar_t* HL_CALL HL_Products_Name(HL_Products_Handle_* handle, const wchar_t* product_key)
{
    HL_Products_Handle_* products = checked<HL_Products_Handle_>(handle);
    if (!products)
        return L"";
    products->last_error.clear();
    products->name = product_key ? registered_name(products->list_path, product_key) : std::wstring();
    trace(L"HL_Products_Name %ls -> '%ls'", product_key ? product_key : L"(null)", products->name.c_str());
    return products->name.c_str();
}

int HL_CALL HL_Products_Unregister(HL_Products_Handle_* handle, const wchar_t* product_key)
{
    HL_Products_Handle_* products = checked<HL_Products_Handle_>(handle);
    if (!products || !product_key)
        return 0;
    products->last_error.clear();
    if (knob(L"unregister_fails"))
        products->last_error = format(L"Product %ls cannot be unregistered", product_key);
    else if (registered_name(products->list_path, product_key).empty())
        products->last_error = format(L"Product %ls is not registered", product_key);
    else if (!unregister(products->list_path, product_key))
        products->last_error = format(L"Product %ls cannot be removed from the list (error %lu)", product_key,
                                      GetLastError());
    trace(L"HL_Products_Unregister %ls -> '%ls'", product_key, products->last_error.c_str());
    return products->last_error.empty() ? 1 : 0;
}

HL_Suite_Handle_* HL_CALL HL_Open_SuiteFile(HL_Lib_Handle_* library, const wchar_t* path)
{
    HL_Lib_Handle_* lib = checked<HL_Lib_Handle_>(library);
    if (!lib)
        return nullptr;
    lib->last_error.clear();
    std::wstring file = path ? path : L"";
    if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
        lib->last_error = format(L"Cannot open suite file %ls (error %lu)", file, GetLastError());
        trace(L"HL_Open_SuiteFile: %ls", lib->last_error.c_str());
        return nullptr;
    }
    auto* suite = new HL_Suite_Handle_;
    suite->path = file;
    return hand_out(suite);
}

const wchar_t* HL_CALL HL_Get_User_Name(HL_Suite_Handle_* handle)
{
    HL_Suite_Handle_* suite = checked<HL_Suite_Handle_>(handle);
    return suite ? read_user_value(suite, L"Name", L"user_name_fails", suite->user_name) : L"";
}

const wchar_t* HL_CALL HL_Get_User_Site(HL_Suite_Handle_* handle)
{
    HL_Suite_Handle_* suite = checked<HL_Suite_Handle_>(handle);
    return suite ? read_user_value(suite, L"Site", L"user_site_fails", suite->user_site) : L"";
}

const wchar_t* HL_CALL HL_Last_Error_Description(void* handle)
{
    HL_Handle_base* base = checked<HL_Handle_base>(handle);
    return base ? base->last_error.c_str() : L"Invalid handle";
}

void HL_CALL HL_Close_Handle(void* handle)
{
    HL_Handle_base* base = nullptr;
    {
        std::lock_guard<std::mutex> lock(live_lock());
        auto found = live().find(static_cast<HL_Handle_base*>(handle));
        if (found == live().end())
            return;
        base = *found;
        live().erase(found);
    }
    delete base;
}

}  // extern "C"
