// The suite's package, installed by Wine's msiexec, and the step that deletes
// the suite's Uninstall entry (named after the maker): the package's Windows
// Installer registration goes with the entry only when the suite stage took
// the suite away. One test, as the package installs once a prefix.
#include "suite_bed.h"

#include "remover/stages.h"
#include "uninstall_entry.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <msi.h>

namespace {

using namespace suite_bed;
using lines = std::vector<std::string>;

const wchar_t suite_product[] = L"{F6B1BCC9-942B-4725-B0AA-F4488C80C788}";
const std::wstring uninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

TEST(suite_package, goes_with_the_suites_uninstall_entry_only_when_the_suite_went)
{
    ASSERT_EQ(0u, install_package(L"suite"));
    ASSERT_TRUE(key_exists(uninstall + suite_product));
    ASSERT_EQ(INSTALLSTATE_DEFAULT, MsiQueryProductStateW(suite_product));
    const std::string registration = "Remove Windows Installer registration of " + narrow(suite_product);

    // Another product keeps the suite: the entry goes, the package stays.
    {
        log_capture log;
        remove_maker_uninstall_entry(L"Drummets", false);
        EXPECT_FALSE(key_exists(uninstall + suite_product));
        EXPECT_FALSE(has(log.texts(), registration));
        EXPECT_EQ(INSTALLSTATE_DEFAULT, MsiQueryProductStateW(suite_product));
    }
    // The suite went, but the maker's entry is not named by a product code.
    {
        const uninstall_entry named(L"Drummets Suite", {{L"DisplayName", L"Drummets"}});
        log_capture log;
        remove_maker_uninstall_entry(L"drummets", true);
        EXPECT_FALSE(key_exists(uninstall + L"Drummets Suite"));
        for (const std::string& text : log.texts())
            EXPECT_EQ(std::string::npos, text.find("Windows Installer registration")) << text;
        EXPECT_EQ(INSTALLSTATE_DEFAULT, MsiQueryProductStateW(suite_product));
    }
    // The suite went: its entry, laid again as the package wrote it, takes the
    // package's registration with it.
    {
        const uninstall_entry again(suite_product, {{L"DisplayName", L"Drummets"}});
        log_capture log;
        remove_maker_uninstall_entry(L"Drummets", true);
        const lines texts = log.texts();
        print_log("the suite's entry, suite gone", texts);
        EXPECT_TRUE(in_order(texts, {registration,
                                     "Removed key HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\Products"
                                     "\\9CCB1B6FB24952740BAA4F84C8087C88"}));
        EXPECT_FALSE(key_exists(uninstall + suite_product));
        EXPECT_EQ(INSTALLSTATE_UNKNOWN, MsiQueryProductStateW(suite_product));
    }
}

} // namespace
