// Both cleaners in this process, on a throwaway machine that holds one root
// store whose keys cannot be opened: each such key is named with the
// system's code, where an absent key would pass without a line.
#include "installer_db/cleaner.h"
#include "installer_db/packed_guid.h"
#include "tessel/registry2/key.h"

#include "checks.h"
#include "log_capture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Below HKLM\System, which the system keeps in one place for every view, so
// that both cleaners meet the store once.
const wchar_t store[] = L"System\\UnreadableStores";
const wchar_t upgrade_code[] = L"{3D1F6A52-7C04-4B9E-8A21-5E6F0B9C7D13}";
const wchar_t component[] = L"0F1E2D3C4B5A69788796A5B4C3D2E1F0";

void make_key(const std::wstring& path)
{
    tessel::registry2::key(HKEY_LOCAL_MACHINE).open(path, true);
}

std::string narrow_text(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

struct sixty_four
{
    static void clean() { clean_installer_database64(upgrade_code); }
    static std::vector<std::string> first_lines()
    {
        return {"**** Cleaning Installation Database (64) ****", "", "Locating Windows Installer Root Stores",
                "==================================================",
                "RegOpenKeyEx HKEY_CLASSES_ROOT\\Installer failed"};
    }
};

struct thirty_two
{
    static void clean() { clean_installer_database32(upgrade_code); }
    static std::vector<std::string> first_lines()
    {
        return {"**** Cleaning Installation Database (32) ****", "", "Locating Windows Installer Root Stores",
                "=================================================="};
    }
};

// Laid once for both cleanings: a sealed key stays sealed through them.
void lay_store()
{
    static bool laid = false;
    if (laid)
        return;
    laid = true;
    const std::wstring installer = std::wstring(store) + L"\\Installer";
    const std::wstring code_key = installer + L"\\UpgradeCodes\\" + pack_guid(upgrade_code);
    make_key(code_key);
    make_key(installer + L"\\UserData\\S-1-5-18");
    make_key(installer + L"\\Products");
    make_key(installer + L"\\Components\\" + component);
    for (const std::wstring& sealed : {code_key, installer + L"\\UserData", installer + L"\\Products",
                                       installer + L"\\Components\\" + component})
        seal_key(HKEY_LOCAL_MACHINE, sealed);
}

template <class Cleaning>
class unreadable_stores : public testing::Test
{
protected:
    static void SetUpTestSuite() { lay_store(); }
};

using cleanings = testing::Types<sixty_four, thirty_two>;
TYPED_TEST_SUITE(unreadable_stores, cleanings);

TYPED_TEST(unreadable_stores, each_key_that_cannot_be_opened_is_named_with_its_code)
{
    const std::string at = "HKLM\\System\\UnreadableStores\\Installer\\";
    std::vector<std::string> expected = TypeParam::first_lines();
    const std::vector<std::string> rest = {
        "Root: 1  HKLM\\System\\UnreadableStores",
        "UserData: 1  2  Installer",
        "! ERROR open key " + at + "UserData failed: 5",
        "",
        "Upgrade Codes Removed",
        "==================================================",
        "! ERROR open key " + at + "UpgradeCodes\\" + narrow_text(pack_guid(upgrade_code)) + " failed: 5",
        "",
        "Product Codes Removed",
        "=================================================",
        "! ERROR open key " + at + "Products failed: 5",
        "",
        "Component Codes Removed",
        "=================================================",
        "! ERROR open key " + at + "Components\\" + narrow_text(component) + " failed: 5",
        "",
        "Key Files Removed",
        "=================================================",
        "",
    };
    expected.insert(expected.end(), rest.begin(), rest.end());

    log_capture log;
    TypeParam::clean();
    EXPECT_EQ(log.texts(), expected);
}

} // namespace
