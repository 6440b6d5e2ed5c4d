// The two installer database cleaners, inside the library: one sequence of
// steps, and for each cleaner the means it takes them with. A cleaner does its
// whole work in its constructor, writes its report to the log and raises
// nothing; installer_db/cleaner.h runs them.
#pragma once

#include "installer_db/cleaner_common.h"
#include "installer_db/packed_guid.h"
#include "tessel/log/log.h"
#include "tessel/registry2/key.h"

#include <windows.h>

#include <set>
#include <string>
#include <vector>

namespace installer_db_detail {

// What a cleaning gathers as it goes: the code sets, the stores it found, and
// the running number that root and user-data stores share.
template <class Store>
struct cleaning_state
{
    std::set<std::wstring> upgrade_codes_;
    std::set<std::wstring> product_codes_;
    std::set<std::wstring> key_files_;
    std::vector<Store> root_stores_;
    std::vector<Store> user_data_stores_;
    int number_ = 0;
};

// The sequence both cleaners follow. Means gives the heading, whether the
// cleaning may run at all, and each step on one store.
template <class Means>
class cleaner : Means
{
public:
    explicit cleaner(const std::wstring& upgrade_code)
    {
        try {
            if (!Means::may_run())
                return;
            tessel::log::info(Means::heading);
            const std::wstring packed = pack_guid(upgrade_code);
            if (!packed.empty())
                this->upgrade_codes_.insert(packed);
            clean();
        } catch (...) {
            // The cleaning reports what it did; an error ends it there.
        }
    }
    cleaner(const cleaner&) = delete;
    cleaner& operator=(const cleaner&) = delete;

private:
    using store = typename Means::store;

    void clean()
    {
        log_section(L"Locating Windows Installer Root Stores", long_rule);
        this->locate_root_stores();
        for (const store& root : this->root_stores_)
            this->add_user_data_stores(root);

        log_section(L"Upgrade Codes Removed", long_rule);
        for (const store& root : this->root_stores_)
            this->remove_upgrade_codes(root);

        log_section(L"Product Codes Removed", short_rule);
        for (const store& user_data : this->user_data_stores_)
            remove_products(user_data);

        log_section(L"Component Codes Removed", short_rule);
        for (const store& user_data : this->user_data_stores_)
            this->remove_components(user_data);

        log_section(L"Key Files Removed", short_rule);
        decrement_key_file_counters(this->key_files_);
        tessel::log::info(L"");
    }

    void remove_products(const store& user_data)
    {
        this->remove_product_keys(user_data, L"Products", true);
        // The classes' store keeps each product's feature list beside its
        // registration; Windows Installer's own uninstall removes both.
        this->remove_product_keys(user_data, L"Features", false);
    }
};

// A store of the 64-bit cleaner: a path whose first name is "HKCR", "HKLM",
// "HKCU" or "HKU".
struct path_store
{
    int number;
    std::wstring path;
};

// A store of the 32-bit cleaner: an open key, with the path its lines name it
// by.
struct key_store
{
    int number;
    tessel::registry2::key key;
    std::wstring path;
};

// Raw registry calls in the 64-bit view, with the view-aware deletion.
class means64 : protected cleaning_state<path_store>
{
protected:
    using store = path_store;

    static constexpr const wchar_t* heading = L"**** Cleaning Installation Database (64) ****";
    // Without the view-aware deletion there is nothing it may do: it says so.
    static bool may_run();

    void locate_root_stores();
    // Adds every root store below key, whose path is path (which it uses as
    // its working text, and gives back as it was).
    void m_search64(HKEY key, std::wstring& path);
    void add_root_store(const std::wstring& path);
    void add_user_data_stores(const store& root);
    void remove_upgrade_codes(const store& root);
    // Each product's key (with its subtree) in the store's list ("Products",
    // "Features"); with report, one line for each.
    void remove_product_keys(const store& user_data, const wchar_t* list, bool report);
    void remove_components(const store& user_data);
    // Applies the component rule to one component key; true when the whole
    // component is to go.
    bool clean_component(HKEY components, const std::wstring& component, const std::wstring& shown);
};

// The registry access layer in the process's own view.
class means32 : protected cleaning_state<key_store>
{
protected:
    using store = key_store;

    static constexpr const wchar_t* heading = L"**** Cleaning Installation Database (32) ****";
    static bool may_run() { return true; }

    void locate_root_stores();
    // Adds every root store below key, whose path is path (which it uses as
    // its working text, and gives back as it was).
    void m_search32(const tessel::registry2::key& key, std::wstring& path);
    void add_root_store(const tessel::registry2::key& found, const std::wstring& path);
    void use_fixed_root_stores();
    void add_user_data_stores(const store& root);
    void remove_upgrade_codes(const store& root);
    void remove_product_keys(const store& user_data, const wchar_t* list, bool report);
    void remove_components(const store& user_data);
    bool clean_component(const tessel::registry2::key& component);
};

} // namespace installer_db_detail

using installer_db_cleaner64 = installer_db_detail::cleaner<installer_db_detail::means64>;
using installer_db_cleaner32 = installer_db_detail::cleaner<installer_db_detail::means32>;
