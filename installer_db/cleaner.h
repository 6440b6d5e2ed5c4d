// Removal of one product family's Windows Installer registrations, found by
// upgrade code, from the installer's registry database: the upgrade code, the
// registrations of its products with their feature lists, their component registrations, and the
// SharedDLLs counters of the components' key files.
//
// Each cleaner does its whole work in its constructor and writes its report to
// the log; it raises nothing. installer_db_cleaner64 works in the 64-bit
// registry view (the remover's choice on 64-bit Windows XP and Server 2003);
// installer_db_cleaner32 works through the registry access layer in the
// calling process's own view.
#pragma once

#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "tessel/registry2/key.h"

class installer_db_cleaner64
{
public:
    // upgrade_code: a GUID text, braced or not.
    explicit installer_db_cleaner64(const std::wstring& upgrade_code);
    installer_db_cleaner64(const installer_db_cleaner64&) = delete;
    installer_db_cleaner64& operator=(const installer_db_cleaner64&) = delete;

private:
    // A place in the registry named by its path, "HKLM\SOFTWARE\Classes"
    // and the like, and the number its report lines carry.
    struct store
    {
        int number;
        std::wstring path;
    };

    void clean();
    void locate_root_stores();
    // Adds every root store below key, whose path is path (which it uses as
    // its working text, and gives back as it was).
    void m_search64(HKEY key, std::wstring& path);
    void add_root_store(const std::wstring& path);
    void add_user_data_stores(const store& root);
    void remove_upgrade_codes(const store& root);
    void remove_products(const store& user_data);
    // Each product's key (with its subtree) in the store's list ("Products",
    // "Features"); with report, one line for each.
    void remove_product_keys(const store& user_data, const wchar_t* list, bool report);
    void remove_components(const store& user_data);
    // Applies the component rule to one component key; true when the whole
    // component is to go.
    bool clean_component(HKEY components, const std::wstring& component);

    std::set<std::wstring> upgrade_codes_;
    std::set<std::wstring> product_codes_;
    std::set<std::wstring> key_files_;
    std::vector<store> root_stores_;
    std::vector<store> user_data_stores_;
    int number_ = 0;
};

class installer_db_cleaner32
{
public:
    explicit installer_db_cleaner32(const std::wstring& upgrade_code);
    installer_db_cleaner32(const installer_db_cleaner32&) = delete;
    installer_db_cleaner32& operator=(const installer_db_cleaner32&) = delete;

private:
    struct store
    {
        int number;
        tessel::registry2::key key;
    };

    void clean();
    void locate_root_stores();
    // Adds every root store below key, whose path is path (which it uses as
    // its working text, and gives back as it was).
    void m_search32(const tessel::registry2::key& key, std::wstring& path);
    void add_root_store(const tessel::registry2::key& found, const std::wstring& path);
    void use_fixed_root_stores();
    void add_user_data_stores(const store& root);
    void remove_upgrade_codes(const store& root);
    void remove_products(const store& user_data);
    void remove_product_keys(const store& user_data, const wchar_t* list, bool report);
    void remove_components(const store& user_data);
    bool clean_component(const tessel::registry2::key& components, const std::wstring& component);

    std::set<std::wstring> upgrade_codes_;
    std::set<std::wstring> product_codes_;
    std::set<std::wstring> key_files_;
    std::vector<store> root_stores_;
    std::vector<store> user_data_stores_;
    int number_ = 0;
};

// The remover's choice: under WOW64 (any 64-bit Windows) the installer service
// is a 64-bit program and keeps its data in the 64-bit view, where
// installer_db_cleaner64 works; installer_db_cleaner32 everywhere else.
void clean_installer_database(const std::wstring& upgrade_code);
