#include "scratch.h"

#include <sddl.h>

#include <cstdint>
#include <vector>

#include "tessel/exception.h"
#include "tessel/registry2/key.h"

namespace {

const wchar_t tests_root[] = L"Software\\registry2_tests";

std::wstring widen_ascii(const char* text)
{
    return std::wstring(text, text + strlen(text));
}

} // namespace

raw_key raw_create(HKEY parent, const std::wstring& path)
{
    HKEY handle = nullptr;
    const LONG status =
        RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr);
    EXPECT_EQ(ERROR_SUCCESS, status) << "RegCreateKeyExW";
    return raw_key(handle);
}

LONG raw_open_status(HKEY parent, const std::wstring& path, REGSAM access)
{
    HKEY handle = nullptr;
    const LONG status = RegOpenKeyExW(parent, path.c_str(), 0, access, &handle);
    raw_key owned(status == ERROR_SUCCESS ? handle : nullptr);
    return status;
}

bool raw_exists(HKEY parent, const std::wstring& path)
{
    return raw_open_status(parent, path, KEY_READ) == ERROR_SUCCESS;
}

void raw_set(HKEY handle, const std::wstring& name, DWORD type, const void* data, DWORD bytes)
{
    // The system adds the terminator that a string's size leaves out when a
    // zero character follows the data: none may follow here.
    std::vector<BYTE> guarded(static_cast<const BYTE*>(data), static_cast<const BYTE*>(data) + bytes);
    guarded.insert(guarded.end(), {0xFF, 0xFF, 0xFF});
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(handle, name.c_str(), 0, type, guarded.data(), bytes)) << "RegSetValueExW";
}

void raw_set_text(HKEY handle, const std::wstring& name, DWORD type, const std::wstring& text)
{
    raw_set(handle, name, type, text.data(), DWORD(text.size() * sizeof(wchar_t)));
}

void restrict_access(HKEY handle, const wchar_t* dacl)
{
    tessel::unique_local_memory descriptor;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(dacl, SDDL_REVISION_1, descriptor.put(), nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeySecurity(handle, DACL_SECURITY_INFORMATION, descriptor.get()));
}

std::string handle_text(HKEY handle)
{
    return std::to_string(static_cast<int>(reinterpret_cast<std::intptr_t>(handle)));
}

void expect_raise(const std::function<void()>& action, const std::string& category, const std::string& message)
{
    try {
        action();
        ADD_FAILURE() << "nothing raised; expected " << category << "[" << message << "]";
    } catch (const tessel::exception& e) {
        EXPECT_EQ(category, e.category());
        EXPECT_EQ(message, e.message());
        EXPECT_EQ(category + "[" + message + "]", e.what());
        // A message that names the system's code carries it for callers.
        const std::size_t open = message.rfind(" (");
        if (open != std::string::npos && message.back() == ')') {
            const auto* registry_error = dynamic_cast<const tessel::registry2::generic*>(&e);
            ASSERT_NE(nullptr, registry_error) << category;
            EXPECT_EQ(message.substr(open + 2, message.size() - open - 3), std::to_string(registry_error->code()));
        }
    }
}

void scratch::SetUp()
{
    path = std::wstring(tests_root) + L"\\" +
           widen_ascii(::testing::UnitTest::GetInstance()->current_test_info()->name());
    RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
    raw = raw_create(HKEY_CURRENT_USER, path);
    ASSERT_TRUE(raw);
}

void scratch::TearDown()
{
    raw.reset();
    RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
}
