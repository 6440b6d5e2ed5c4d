#include "remover/sundrel.h"

#include "installer_db/records.h"
#include "remover/harrowlink.h"
#include "tessel/log/log.h"
#include "tessel/unicode/unicode.h"
#include "toolbox/environment.h"
#include "toolbox/files.h"
#include "toolbox/folders.h"
#include "toolbox/path_rules.h"
#include "toolbox/processes.h"
#include "toolbox/registry_cleaning.h"
#include "toolbox/services.h"
#include "toolbox/shared_dlls.h"

#include <windows.h>

#include <vector>

using tessel::unicode::from_ansi;
using tessel::unicode::to_ansi;

namespace {

// A suite operation whose failure is logged and the removal goes on; an
// unavailable Harrowlink goes on up to the stage that chose this remover.
template <class Body, class Logged>
bool suite_operation(Body&& body, Logged&& logged)
{
    return tessel::log::logged_and_gone_on<harrowlink_unavailable>(body, logged);
}

// The pair of handles every suite operation opens afresh; both are closed when
// the operation ends, whichever way it ends.
struct HarrowlinkConnection {
    explicit HarrowlinkConnection(const std::wstring& suite_folder)
    {
        harrowlink::bind(suite_folder);
        library.reset(harrowlink::open_lib());
        if (!library)
            throw tessel::exception_w(L"Failed to initialize Harrowlink library");
        products.reset(harrowlink::products_open(library.get()));
        if (!products)
            throw tessel::exception_w(L"Failed to initialize products list");
    }

    harrowlink::library_handle library;
    harrowlink::products_handle products;  // closed before the library handle
};

// A product's suite configuration, with a library handle of its own.
struct SuiteConfiguration {
    SuiteConfiguration(const std::wstring& suite_folder, const std::wstring& path)
    {
        harrowlink::bind(suite_folder);
        library.reset(harrowlink::open_lib());
        if (!library)
            throw tessel::exception_w(L"Failed to initialize Harrowlink library");
        suite.reset(harrowlink::open_suite_file(library.get(), path.c_str()));
        if (!suite)
            throw tessel::exception_w(L"Failed to load suite data: %s",
                                      harrowlink::last_error_description(library.get()).c_str());
    }

    // A failed read shows only in the handle's last-error description.
    std::wstring read(const wchar_t* (*reader)(HL_Suite_Handle_*)) const
    {
        const std::wstring value = reader(suite.get());
        const std::wstring error = harrowlink::last_error_description(suite.get());
        if (!error.empty())
            throw tessel::exception_w(error);
        return value;
    }

    harrowlink::library_handle library;
    harrowlink::suite_handle suite;
};

} // namespace

sundrel_remover::sundrel_remover(std::wstring maker, std::wstring suite_name, std::wstring service_name,
                                 std::wstring service_program)
    : maker_(std::move(maker)), suite_name_(std::move(suite_name)), service_name_(std::move(service_name)),
      service_program_(std::move(service_program))
{
}

sundrel_remover::~sundrel_remover() = default;

sundrel31x_remover::sundrel31x_remover(std::wstring maker, std::wstring suite_name, std::wstring service_name,
                                       std::wstring service_program)
    : sundrel_remover(std::move(maker), std::move(suite_name), std::move(service_name), std::move(service_program))
{
    // Without a maker the suite folder would be Program Files itself, whose
    // files the removal deletes.
    if (maker_.empty())
        throw tessel::exception_w(L"No maker folder: the suite folder cannot be told from Program Files");
    suite_ = family::suite_of(maker_, suite_name_, service_name_, service_program_);
    suite_folder_ = wide_path_of(suite_.folder);
}

sundrel31x_remover::~sundrel31x_remover()
{
    free_harrowlink();
}

int sundrel31x_remover::count_products()
{
    tessel::log::info("Count products registered in Sundrel 3.1.x");
    int count = 0;
    suite_operation(
        [&] {
            HarrowlinkConnection connection(suite_folder_);
            const int counted = harrowlink::products_count(connection.products.get());
            if (counted < 0)
                throw tessel::exception_w(harrowlink::last_error_description(connection.products.get()));
            count = counted;
        },
        [] {});
    tessel::log::info("   number of products = %d", count);
    tessel::log::info("");
    return count;
}

bool sundrel31x_remover::is_product_registered_in_sundrel_31x(std::wstring product_key)
{
    tessel::log::info(L"Check if %s is registered in Sundrel 3.1.x", product_key.c_str());
    bool registered = false;
    suite_operation(
        [&] {
            HarrowlinkConnection connection(suite_folder_);
            registered = *harrowlink::products_name(connection.products.get(), product_key.c_str()) != L'\0';
        },
        [] { tessel::log::log_current_exception("is_product_registered_in_sundrel_31x()"); });
    return registered;
}

std::wstring sundrel31x_remover::get_product_name(std::wstring product_key)
{
    std::wstring name;
    suite_operation(
        [&] {
            HarrowlinkConnection connection(suite_folder_);
            name = harrowlink::products_name(connection.products.get(), product_key.c_str());
        },
        [] { tessel::log::log_current_exception("can't retrieve product name, "); });
    return name;
}

std::wstring sundrel31x_remover::get_product_folder(std::wstring product_key)
{
    return suite_folder_ + get_product_name(product_key) + L"\\";
}

std::wstring sundrel31x_remover::get_product_user_data_folder(std::wstring product_key)
{
    const std::wstring name = get_product_name(product_key);
    return from_ansi(get_app_data_folder()) + maker_ + L"\\" + name + L"\\";
}

std::wstring sundrel31x_remover::get_product_common_data_folder(std::wstring product_key)
{
    const std::wstring name = get_product_name(product_key);
    return from_ansi(get_common_app_data_folder()) + maker_ + L"\\" + name + L"\\";
}

std::string sundrel31x_remover::read_user_email_from_sundrel_31x(std::wstring product_key)
{
    tessel::log::info("Try to read user e-mail from Sundrel 3.1.x");
    try {
        const std::wstring path = get_product_common_data_folder(product_key) + suite_.configuration;
        const SuiteConfiguration configuration(suite_folder_, path);
        const std::wstring site = configuration.read(harrowlink::get_user_site);
        const std::wstring name = configuration.read(harrowlink::get_user_name);
        const std::wstring email = name + L"@" + site;
        if (email != L"@") {
            tessel::log::info(L"Email set to %s from suite config of SunDrel version 3.1.x", email.c_str());
            return to_ansi(email);
        }
    } catch (const harrowlink_unavailable&) {
        throw;
    } catch (const std::exception& e) {
        tessel::log::error("exception in read_user_email_from_sundrel_31x(), %s", e.what());
    } catch (...) {
        tessel::log::log_current_exception(
            "some exception occured in read_user_email_from_sundrel_31x, no email retrieved");
    }
    tessel::log::info("");
    return std::string();
}

void sundrel31x_remover::unregister_product_from_sundrel_31x(std::wstring product_key)
{
    tessel::log::info(L"Unregister %s from Sundrel 3.1.x", product_key.c_str());
    suite_operation(
        [&] {
            HarrowlinkConnection connection(suite_folder_);
            if (!harrowlink::products_unregister(connection.products.get(), product_key.c_str()))
                throw tessel::exception_w(harrowlink::last_error_description(connection.products.get()));
        },
        [] { tessel::log::log_current_exception("unregister_product_from_sundrel_31x()"); });
    tessel::log::info(L"");
}

void sundrel31x_remover::remove_sundrel_31x()
{
    if (count_products() <= 1) {
        framework_removed_ = true;
        const std::string suite_folder = to_ansi(suite_folder_);
        const std::string service_program = to_ansi(service_program_);
        tessel::log::logged_and_gone_on([&] {
            tessel::log::info("**** Let's remove Sundrel 3.1.x Code ****");
            const std::wstring program = suite_folder_ + service_program_;
            if (launch_and_wait_for_exit_code(program, L"/stop", suite_folder_) != 0)
                deal_with_process(service_program);
            if (launch_and_wait_for_exit_code(program, L"/uninstall", suite_folder_) != 0)
                remove_service(to_ansi(service_name_), service_program, true);
            for (const std::string& name : list_files(suite_folder, "*"))
                if (plain_name_or_logged(name))
                    delete_file(suite_folder + name);
            remove_folder(suite_folder + to_ansi(suite_.languages));
            remove_empty_folder(suite_folder);
            tessel::log::info("Sundrel 3.1.x INSTALLDIR was removed");
        }, [] { tessel::log::error("some exception occured while removing sundrel_31x INSTALLDIR"); });

        tessel::log::info("");
        tessel::log::logged_and_gone_on([&] {
            tessel::log::info("**** Let's remove Sundrel 3.1.x Data ****");
            std::vector<std::string> folders;
            for (const family::place& folder : suite_.data_folders)
                folders.push_back(path_of(folder));
            const std::string maker_data = path_of(suite_.maker_data_folder);
            for (const std::string& folder : folders)
                remove_folder(folder);
            remove_empty_folder(maker_data);
        }, [] { tessel::log::error("some exception occured while removing sundrel_31x data"); });

        tessel::log::info("");
        tessel::log::logged_and_gone_on([&] {
            tessel::log::info("**** Let's remove Sundrel 3.1.x Registry Component ****");
            for (const std::wstring& key_path : suite_.component_key_paths)
                remove_components_by_key_path(key_path);
        }, [] { tessel::log::error("some exception occured while removing sundrel_31x registry components"); });

        const family::key& identity = suite_.identity;
        const std::wstring& maker_key = identity.parent;
        tessel::log::logged_and_gone_on(
            [&] {
                remove_regkey(identity.root, maker_key, identity.name, true);
                tessel::log::info(L"");
                tessel::log::info(L"Removed regkey HKEY_LOCAL_MACHINE\\%ls\\Hostmark", maker_key.c_str());
                tessel::log::info(L"");
            },
            [&] {
                tessel::log::info(L"");
                tessel::log::error(
                    L"some exception occured while removing registry key HKEY_LOCAL_MACHINE\\%ls\\Hostmark",
                    maker_key.c_str());
                tessel::log::info(L"");
            });
    }
    tessel::log::logged_and_gone_on([&] { fix_sundrel_shared_dll_counters(); }, [] {});
}

void sundrel31x_remover::fix_sundrel_shared_dll_counters()
{
    suite_operation([&] {
        int count = count_products();
        if (count >= 1) {
            if (is_product_registered_in_sundrel_31x(suite_.product_key))
                --count;
            // The removed product still listed beside the sibling: it no
            // longer needs the suite.
            if (is_product_registered_in_sundrel_31x(family::sibling_names().product_key) &&
                is_product_registered_in_sundrel_31x(family::product_names().product_key))
                --count;
        }
        tessel::log::info("");
        tessel::log::info("Fixing Sundrel counters in SharedDLLs");
        tessel::log::info("Number of products with Sundrel according to configurations files: %d", count);
        for (const std::wstring& pattern : suite_.counter_patterns)
            set_shared_dll_counters(pattern, count);
    }, [] {});
}

void free_harrowlink()
{
    harrowlink::free_library();
}
