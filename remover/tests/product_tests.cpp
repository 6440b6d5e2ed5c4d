// The installation folder fix-up and the search of real Uninstall entries in
// the 32-bit view (the profile and version parsing: family/tests).
#include "remover/product.h"
#include "checks.h"
#include "log_capture.h"
#include "uninstall_entry.h"

#include <gtest/gtest.h>
#include <memory>
#include <windows.h>
#include <string>
#include <vector>

namespace {

const char uninstall_narrow[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

class uninstall_entries : public ::testing::Test {
protected:
    void add(const std::wstring& name, const uninstall_entry::values& values)
    {
        added_.push_back(std::make_unique<uninstall_entry>(name, values));
    }
    static std::string found_line(const char* name)
    {
        return std::string(". Product information is found in the key HKLM\\") + uninstall_narrow + "\\" + name;
    }

private:
    std::vector<std::unique_ptr<uninstall_entry>> added_;
};

} // namespace

TEST(fixed_install_dir, ends_with_the_product_folder_once)
{
    const std::string fallback = "C:\\Program Files\\Drummets\\Pellamore\\";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"C:\\Apps\\Drummets\\", "C:\\Apps\\Drummets\\Pellamore\\"},
        {"C:\\Apps\\Drummets\\Pellamore\\", "C:\\Apps\\Drummets\\Pellamore\\"},
        {"C:\\Apps\\Drummets\\Pellamore", "C:\\Apps\\Drummets\\Pellamore\\"},
        {"C:\\Apps\\Drummets", "C:\\Apps\\Drummets\\Pellamore\\"},
        // The tail comparison is case-sensitive.
        {"C:\\Apps\\Drummets\\PELLAMORE\\", "C:\\Apps\\Drummets\\PELLAMORE\\Pellamore\\"},
        {"", fallback}};
    for (const auto& [dir, expected] : cases)
        EXPECT_EQ(expected, fixed_install_dir(dir, "Pellamore", fallback)) << "'" << dir << "'";
}

TEST_F(uninstall_entries, matches_the_display_name_in_any_letter_case_but_otherwise_exactly)
{
    add(L"B-entry", {{L"DisplayName", L"PELLAMORE"}, {L"DisplayVersion", L"4.1.200"},
                     {L"InstallLocation", L"C:\\Apps\\Drummets\\"}});
    add(L"A-lookalike", {{L"DisplayName", L"Pellamore 4"}, {L"DisplayVersion", L"9.9.9"},
                         {L"InstallLocation", L"C:\\Wrong\\"}});
    add(L"C-other", {{L"DisplayName", L"Pellamoree"}, {L"DisplayVersion", L"9.9.9"}});
    add(L"D-no-name", {{L"DisplayVersion", L"9.9.9"}});

    log_capture log;
    ProductInfo info("Pellamore");
    EXPECT_TRUE(find_product_info(info));
    EXPECT_EQ(std::vector<std::wstring>{L"B-entry"}, info.uninstall_keys);
    EXPECT_EQ("4.1.200", info.version_text);
    EXPECT_EQ(41200, info.version);
    EXPECT_EQ("C:\\Apps\\Drummets\\", info.install_dir);
    const std::vector<std::string> expected = {"**** Search Pellamore info ****", "", found_line("B-entry"),
                                               ". Product version: '4.1.200'",
                                               ". Installation directory: 'C:\\Apps\\Drummets\\'"};
    EXPECT_EQ(expected, log.texts());
}

TEST_F(uninstall_entries, two_entries_each_lacking_one_value_complete_each_other)
{
    add(L"{AAA}", {{L"DisplayName", L"Pellamore"}, {L"DisplayVersion", L"4.1.70"}});
    add(L"{BBB}", {{L"DisplayName", L"pellamore"}, {L"InstallLocation", L"D:\\Drummets\\"}});

    log_capture log;
    ProductInfo info("Pellamore");
    EXPECT_TRUE(find_product_info(info));
    EXPECT_EQ((std::vector<std::wstring>{L"{AAA}", L"{BBB}"}), info.uninstall_keys);
    EXPECT_EQ(41070, info.version);
    EXPECT_EQ("D:\\Drummets\\", info.install_dir);
    const std::vector<std::string> expected = {
        "**** Search Pellamore info ****", "", found_line("{AAA}"), found_line("{BBB}"),
        ". Product version: '4.1.70'", "ATTENTION: could not find InstallLocation in '{AAA}' !",
        "ATTENTION: could not find DisplayVersion in '{BBB}' !", ". Installation directory: 'D:\\Drummets\\'"};
    EXPECT_EQ(expected, log.texts());
}

TEST_F(uninstall_entries, strange_version_gives_zero)
{
    add(L"{CCC}", {{L"DisplayName", L"Pellamore"}, {L"DisplayVersion", L"4.1"},
                   {L"InstallLocation", L"C:\\Apps\\"}});
    log_capture log;
    ProductInfo info("Pellamore");
    find_product_info(info);
    EXPECT_EQ(0, info.version);
    EXPECT_EQ("The version '4.1' has strange format, expected 9.9.99 or 9.9.9", log.texts().at(4));
}

TEST_F(uninstall_entries, nothing_found)
{
    log_capture log;
    ProductInfo info("Pellamore");
    EXPECT_FALSE(find_product_info(info));
    EXPECT_EQ(-1, info.version);
    EXPECT_TRUE(info.uninstall_keys.empty());
    ASSERT_EQ(3u, log.texts().size());
    EXPECT_EQ(std::string("ATTENTION: could not find keys about 'Pellamore' in 'HKLM\\") + uninstall_narrow + "' !",
              log.texts()[2]);
}

// Last: the sealed entry stays for the rest of the program.
TEST_F(uninstall_entries, names_an_entry_it_cannot_open_with_the_code)
{
    add(L"{DDD}", {{L"DisplayName", L"Pellamore"}, {L"DisplayVersion", L"4.1.70"}, {L"InstallLocation", L"C:\\Apps\\"}});
    add(L"{EEE}", {{L"DisplayName", L"Pellamore"}, {L"DisplayVersion", L"9.9.9"}});
    seal_key(HKEY_LOCAL_MACHINE, std::wstring(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{EEE}"));

    log_capture log;
    ProductInfo info("Pellamore");
    EXPECT_TRUE(find_product_info(info));
    EXPECT_EQ(std::vector<std::wstring>{L"{DDD}"}, info.uninstall_keys);
    const std::vector<std::string> expected = {
        "**** Search Pellamore info ****", "", found_line("{DDD}"),
        std::string("! ERROR open key HKLM\\") + uninstall_narrow + "\\{EEE} failed: 5",
        ". Product version: '4.1.70'", ". Installation directory: 'C:\\Apps\\'"};
    EXPECT_EQ(expected, log.texts());
}
