// SharedDLLs counters in the throwaway prefix's registry: substring selection,
// the two passes and their lines, deletion, decrement, and the 64-bit view
// left alone (this program, like the remover, is 32-bit).
#include "toolbox/shared_dlls.h"
#include "checks.h"
#include "log_capture.h"
#include "tessel/registry2/key.h"

#include "tessel/unique_any.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

const wchar_t shared_dlls[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

using counters = std::map<std::wstring, DWORD>;

using owned_key = tessel::unique_hkey;

// The SharedDLLs key of one registry view, created if missing.
owned_key view_key(REGSAM view)
{
    owned_key key;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, shared_dlls, 0, nullptr, 0,
                                             KEY_READ | KEY_WRITE | view, nullptr, key.put(), nullptr));
    return key;
}

void put(REGSAM view, const counters& values)
{
    const owned_key key = view_key(view);
    for (const auto& [name, count] : values)
        RegSetValueExW(key.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), sizeof count);
}

void put_text(REGSAM view, const std::wstring& name)
{
    const owned_key key = view_key(view);
    const wchar_t text[] = L"not a count";
    RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text);
}

// The DWORD values of a view whose names contain part.
counters read(REGSAM view, const std::wstring& part)
{
    const owned_key key = view_key(view);
    counters found;
    wchar_t name[512];
    for (DWORD i = 0;; ++i) {
        DWORD length = 512, type = 0, count = 0, size = sizeof count;
        const LONG result =
            RegEnumValueW(key.get(), i, name, &length, nullptr, &type, reinterpret_cast<BYTE*>(&count), &size);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result == ERROR_SUCCESS && type == REG_DWORD && std::wstring(name).find(part) != std::wstring::npos)
            found[name] = count;
    }
    return found;
}

} // namespace

TEST(set_shared_dll_counters, selects_by_substring_and_removes_at_zero)
{
    put(KEY_WOW64_32KEY, {{L"c:\\apps\\drummets\\pellamore\\x.dll", 3},
                          {L"D:\\Backup\\C:\\Apps\\Drummets\\Pellamore\\y.dll", 1},
                          {L"C:\\Apps\\Drummets\\Pellamore.dll", 2}});
    put(KEY_WOW64_64KEY, {{L"c:\\apps\\drummets\\pellamore\\x.dll", 3}});

    log_capture log;
    set_shared_dll_counters(L"C:\\Apps\\Drummets\\Pellamore\\", 0);
    // Ascending by character code: upper-case letters first.
    EXPECT_EQ(narrow_lines({L"Counters for C:\\Apps\\Drummets\\Pellamore\\ pattern in SharedDLLs key:",
                      L"   D:\\Backup\\C:\\Apps\\Drummets\\Pellamore\\y.dll - 1",
                      L"   c:\\apps\\drummets\\pellamore\\x.dll - 3",
                      L"Removed registry value D:\\Backup\\C:\\Apps\\Drummets\\Pellamore\\y.dll",
                      L"Removed registry value c:\\apps\\drummets\\pellamore\\x.dll"}),
              log.texts());
    EXPECT_EQ((counters{{L"C:\\Apps\\Drummets\\Pellamore.dll", 2}}), read(KEY_WOW64_32KEY, L"ellamore"));
    EXPECT_EQ((counters{{L"c:\\apps\\drummets\\pellamore\\x.dll", 3}}), read(KEY_WOW64_64KEY, L"ellamore"));
}

TEST(set_shared_dll_counters, sets_only_what_differs)
{
    put(KEY_WOW64_32KEY, {{L"C:\\Apps\\Tray\\a.dll", 2}, {L"C:\\Apps\\Tray\\b.dll", 1}, {L"C:\\Apps\\Tray\\c.dll", 7}});
    log_capture log;
    set_shared_dll_counters(L"\\tray\\", 2);
    EXPECT_EQ(narrow_lines({L"Counters for \\tray\\ pattern in SharedDLLs key:", L"   C:\\Apps\\Tray\\a.dll - 2",
                      L"   C:\\Apps\\Tray\\b.dll - 1", L"   C:\\Apps\\Tray\\c.dll - 7",
                      L"C:\\Apps\\Tray\\b.dll is set to 2", L"C:\\Apps\\Tray\\c.dll is set to 2"}),
              log.texts());
    EXPECT_EQ((counters{{L"C:\\Apps\\Tray\\a.dll", 2}, {L"C:\\Apps\\Tray\\b.dll", 2}, {L"C:\\Apps\\Tray\\c.dll", 2}}),
              read(KEY_WOW64_32KEY, L"\\Tray\\"));
}

// A product count that went below zero removes the counters; it is never
// written as a huge unsigned count.
TEST(set_shared_dll_counters, negative_count_removes)
{
    put(KEY_WOW64_32KEY, {{L"C:\\Apps\\Suite\\s.dll", 2}});
    log_capture log;
    set_shared_dll_counters(L"\\Suite\\s.dll", -1);
    EXPECT_EQ(narrow_lines({L"Counters for \\Suite\\s.dll pattern in SharedDLLs key:", L"   C:\\Apps\\Suite\\s.dll - 2",
                      L"Removed registry value C:\\Apps\\Suite\\s.dll"}),
              log.texts());
    EXPECT_TRUE(read(KEY_WOW64_32KEY, L"\\Suite\\s.dll").empty());
}

// A counter stored as text sorts before the others of the pattern: it must
// not keep them from being handled, and it goes (or becomes a number) too.
TEST(set_shared_dll_counters, text_counter_is_handled_with_the_others)
{
    const std::wstring text = L"C:\\Apps\\Broken\\a-text.dll", number = L"C:\\Apps\\Broken\\b.dll";
    const struct {
        int count;
        std::vector<std::wstring> changes;
        counters left;
    } cases[] = {
        {0, {L"Removed registry value " + text, L"Removed registry value " + number}, {}},
        {2, {text + L" is set to 2", number + L" is set to 2"}, {{text, 2}, {number, 2}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.count);
        put_text(KEY_WOW64_32KEY, text);
        put(KEY_WOW64_32KEY, {{number, 1}});
        log_capture log;
        set_shared_dll_counters(L"\\Broken\\", c.count);
        std::vector<std::wstring> expected = {L"Counters for \\Broken\\ pattern in SharedDLLs key:",
                                              L"   " + text + L" - not a number", L"   " + number + L" - 1"};
        expected.insert(expected.end(), c.changes.begin(), c.changes.end());
        EXPECT_EQ(narrow_lines(expected), log.texts());
        EXPECT_EQ(c.left, read(KEY_WOW64_32KEY, L"\\Broken\\"));
        EXPECT_EQ(c.count != 0, value_exists(HKEY_LOCAL_MACHINE, shared_dlls, text, KEY_WOW64_32KEY));
        set_shared_dll_counters(L"\\Broken\\", 0);
    }
}

TEST(decrement_shared_dll_counters, lowers_by_one_and_removes_the_last)
{
    put(KEY_WOW64_32KEY, {{L"C:\\Dec\\one.dll", 1},
                          {L"C:\\Dec\\five.dll", 5},
                          {L"C:\\Dec\\zero.dll", 0},
                          {L"C:\\Dec\\minus.dll", 0xFFFFFFFF},
                          {L"C:\\Dec\\two.dll", 2}});
    put_text(KEY_WOW64_32KEY, L"C:\\Dec\\text.dll");
    put(KEY_WOW64_64KEY, {{L"C:\\Dec\\one.dll", 1}});

    log_capture log;
    decrement_shared_dll_counters({L"C:\\Dec\\one.dll", L"C:\\Dec\\five.dll", L"C:\\Dec\\zero.dll",
                                   L"C:\\Dec\\minus.dll", L"C:\\Dec\\missing.dll", L"C:\\Dec\\text.dll"},
                                  tessel::registry2::key(HKEY_LOCAL_MACHINE).open(shared_dlls, false));
    // In set order; the missing and the unreadable counter are passed over.
    EXPECT_EQ(narrow_lines({L"  C:\\Dec\\five.dll      is decremented to 4", L"  C:\\Dec\\minus.dll", L"  C:\\Dec\\one.dll",
                      L"  C:\\Dec\\zero.dll"}),
              log.texts());
    EXPECT_EQ((counters{{L"C:\\Dec\\five.dll", 4}, {L"C:\\Dec\\two.dll", 2}}), read(KEY_WOW64_32KEY, L"C:\\Dec\\"));
    EXPECT_EQ((counters{{L"C:\\Dec\\one.dll", 1}}), read(KEY_WOW64_64KEY, L"C:\\Dec\\"));
}
