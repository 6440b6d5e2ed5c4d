// Every failing call raises its class with its exact message, against real
// registry failures: a key deleted while open (1018), keys whose DACL lets
// everyone only read (5 on writing) or lets nobody in (5 on opening), missing
// keys and values (2), names too long for a listing (234).
#include "scratch.h"

#include <chrono>
#include <thread>

#include "tessel/registry2/key.h"
#include "tessel/unicode/unicode.h"

using tessel::registry2::key;

namespace {

struct error_case
{
    const char* what;
    std::function<void()> action;
    const char* category;
    std::string message;
};

const char key_error[] = "registry2.key_error";
const char value_error[] = "registry2.value_error";
const char type_mismatch[] = "registry2.type_mismatch";
const char size_mismatch[] = "registry2.size_mismatch";

} // namespace

TEST_F(scratch, every_failing_call_raises_its_class_and_message)
{
    const raw_key doomed = raw_create(raw.get(), L"doomed");
    const key on_doomed(doomed.get());
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyW(raw.get(), L"doomed"));
    const std::string deleted = handle_text(on_doomed.handle());

    const raw_key locked = raw_create(raw.get(), L"read only");
    raw_set_text(locked.get(), L"text", REG_SZ, L"kept");
    restrict_access(locked.get(), L"D:P(A;;KR;;;WD)");
    const raw_key sealed = raw_create(raw.get(), L"sealed");
    restrict_access(sealed.get(), L"D:P");

    const raw_key long_names = raw_create(raw.get(), L"long names");
    const DWORD one = 1;
    raw_set(long_names.get(), std::wstring(260, L'n'), REG_DWORD, &one, 4);
    raw_create(raw.get(), L"parent\\child");

    const DWORD eight_bytes[2] = {1, 2};
    raw_set(raw.get(), L"number", REG_DWORD, &one, 4);
    raw_set(raw.get(), L"eight", REG_DWORD, eight_bytes, 8);
    raw_set(raw.get(), L"two", REG_DWORD, &one, 2);
    raw_set(raw.get(), L"binary", REG_BINARY, &one, 4);
    raw_set_text(raw.get(), L"text", REG_SZ, L"x");

    const key k(raw.get());
    const key read_only = k.open(L"read only", false);
    const key long_listing = k.open(L"long names", false);
    const HKEY bogus = reinterpret_cast<HKEY>(0x7777);

    const error_case cases[] = {
        {"root: not a handle", [&] { key root(bogus); }, key_error, "RegOpenKeyEx() failed: handle 30583 (6)"},
        {"root: nobody may open it", [&] { key root(sealed.get()); }, key_error,
         "RegOpenKeyEx() failed: handle " + handle_text(sealed.get()) + " (5)"},
        {"copy of a deleted key", [&] { key copy(on_doomed); }, key_error,
         "RegOpenKeyEx() failed: handle " + deleted + " (1018)"},
        {"open: missing", [&] { k.open(L"no\\such key", false); }, key_error,
         "RegOpenKeyEx() failed: key \"no\\such key\" (2)"},
        {"open: nobody may open it", [&] { k.open(L"sealed", false); }, key_error,
         "RegOpenKeyEx() failed: key \"sealed\" (5)"},
        {"create below a deleted key", [&] { on_doomed.open(L"child", true); }, key_error,
         "RegCreateKeyEx() failed: key \"child\" (1018)"},
        {"create: no read-only fallback", [&] { k.open(L"read only", true); }, key_error,
         "RegCreateKeyEx() failed: key \"read only\" (5)"},
        {"subkeys of a deleted key", [&] { on_doomed.subkey_names(); }, key_error,
         "RegEnumKeyEx() failed: handle " + deleted + " (1018)"},
        {"values of a deleted key", [&] { on_doomed.value_names(); }, key_error,
         "RegEnumValue() failed: handle " + deleted + " (1018)"},
        {"value name of 260 characters", [&] { long_listing.value_names(); }, key_error,
         "RegEnumValue() failed: handle " + handle_text(long_listing.handle()) + " (234)"},
        {"remove a key with subkeys", [&] { k.remove_key(L"parent", false); }, key_error,
         "RegDeleteKey() failed: key \"parent\" (5)"},
        {"remove a missing key", [&] { k.remove_key(L"absent", false); }, key_error,
         "RegDeleteKey() failed: key \"absent\" (2)"},
        {"remove a missing key recursively", [&] { k.remove_key(L"absent", true); }, key_error,
         "RegOpenKeyEx() failed: key \"absent\" (2)"},
        {"remove a missing value", [&] { k.remove_value(L"absent"); }, key_error,
         "RegDeleteValue() failed: value \"absent\" (2)"},
        {"remove a value of a read-only key", [&] { read_only.remove_value(L"text"); }, key_error,
         "RegDeleteValue() failed: value \"text\" (5)"},
        {"write a string to a read-only key", [&] { read_only.write_string(L"new", L"x"); }, value_error,
         "RegSetValueEx() failed: value \"new\" (5)"},
        {"write a number to a read-only key", [&] { read_only.write_dword(L"new", 1); }, value_error,
         "RegSetValueEx() failed: value \"new\" (5)"},
        {"write to a deleted key", [&] { on_doomed.write_string(L"v", L"x"); }, value_error,
         "RegSetValueEx() failed: value \"v\" (1018)"},
        {"read a missing string", [&] { k.read_string(L"absent"); }, value_error, "Not found: value \"absent\""},
        {"read a missing string, narrow", [&] { k.read_string(std::string("absent")); }, value_error,
         "Not found: value \"absent\""},
        {"read a missing number", [&] { k.read_dword(L"absent"); }, value_error, "Not found: value \"absent\""},
        {"read from a deleted key", [&] { on_doomed.read_string(L"v"); }, value_error, "Not found: value \"v\""},
        {"read a number as a string", [&] { k.read_string(L"number"); }, type_mismatch,
         "Type mismatch: value \"number\" expected 1 found 4"},
        {"read binary data as a string", [&] { k.read_string(L"binary"); }, type_mismatch,
         "Type mismatch: value \"binary\" expected 1 found 3"},
        {"read a string as a number", [&] { k.read_dword(L"text"); }, type_mismatch,
         "Type mismatch: value \"text\" expected 4 found 1"},
        {"read a number of 8 bytes", [&] { k.read_dword(L"eight"); }, size_mismatch,
         "Size mismatch: value \"eight\" expected 4 found 8"},
        {"read a number of 2 bytes", [&] { k.read_dword(L"two"); }, size_mismatch,
         "Size mismatch: value \"two\" expected 4 found 2"},
        {"remove with an empty name", [&] { k.remove_key(L"", false); }, key_error,
         "RegDeleteKey() failed: key \"\" (87)"},
    };
    for (const error_case& c : cases) {
        SCOPED_TRACE(c.what);
        expect_raise(c.action, c.category, c.message);
    }
    // Nothing was changed on the way.
    EXPECT_TRUE(raw_exists(raw.get(), L"parent\\child"));
    EXPECT_EQ(L"kept", read_only.read_string(L"text"));
}

TEST_F(scratch, a_name_the_ansi_code_page_lacks_raises_the_conversion_error)
{
    const std::wstring name = L"\x4E2D\x6587";
    BOOL lossy = FALSE;
    WideCharToMultiByte(CP_ACP, 0, name.c_str(), -1, nullptr, 0, nullptr, &lossy);
    if (!lossy)
        GTEST_SKIP() << "the ANSI code page " << GetACP() << " holds the name";
    const key k(raw.get());
    EXPECT_THROW(k.read_string(name), tessel::unicode::unmappable_character);
    EXPECT_THROW(k.open(name, false), tessel::unicode::unmappable_character);
    EXPECT_THROW(k.remove_value(name), tessel::unicode::unmappable_character);
}

// A value that another thread keeps deleting and writing back at another
// length: a read caught between measuring and fetching raises, and the only
// texts that come back are whole ones.
TEST_F(scratch, a_value_that_changes_while_read_raises)
{
    const wchar_t shorter[] = L"abc", longer[] = L"abcdefgh";
    raw_set(raw.get(), L"v", REG_SZ, shorter, sizeof shorter);
    // Plain calls only on this thread: the test framework's checks are not
    // thread-safe here.
    std::jthread writer([&](std::stop_token stop) {
        const HKEY own = raw.get();
        while (!stop.stop_requested()) {
            RegDeleteValueW(own, L"v");
            RegSetValueExW(own, L"v", 0, REG_SZ, reinterpret_cast<const BYTE*>(shorter), sizeof shorter);
            RegSetValueExW(own, L"v", 0, REG_SZ, reinterpret_cast<const BYTE*>(longer), sizeof longer);
        }
    });
    const key k(raw.get());
    bool saw_failed_query = false, saw_size_change = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!(saw_failed_query && saw_size_change) && std::chrono::steady_clock::now() < deadline) {
        try {
            const std::wstring text = k.read_string(L"v");
            EXPECT_TRUE(text == L"abc" || text == L"abcdefgh") << tessel::unicode::to_narrow(text, 0, false);
        } catch (const tessel::registry2::size_mismatch& e) {
            EXPECT_TRUE(e.message() == "Size mismatch: value \"v\" expected 8 found 18" ||
                        e.message() == "Size mismatch: value \"v\" expected 18 found 8")
                << e.message();
            saw_size_change = true;
        } catch (const tessel::registry2::value_error& e) {
            if (e.message() == "RegQueryValueEx() failed: value \"v\" (2)")
                saw_failed_query = true;
            else
                EXPECT_EQ("Not found: value \"v\"", e.message());
        }
    }
    writer.request_stop();
    writer.join();
    EXPECT_TRUE(saw_failed_query) << "no read fell between measuring and fetching a deleted value";
    EXPECT_TRUE(saw_size_change) << "no read fell between measuring and fetching a value that changed length";
}
