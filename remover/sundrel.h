// The remover's side of the suite framework ("Sundrel 3.1.x"): whether a
// product is registered in the suite, the user's e-mail from a product's suite
// configuration, unregistration, and removal of the framework itself once no
// other product uses it.
//
// The framework client library belongs to the suite and is bound at the
// first call that needs it: taken from the tray folder or the
// suite folder, never from anywhere else, and loaded from a private copy in a
// folder of the run's own under the temporary folder, so the suite's own
// files can still be deleted while it is loaded. A library or entry that
// cannot be found raises harrowlink_unavailable; it passes through every
// operation below to the caller (the suite stage reports it), since without
// the suite's answer nothing may be decided.
#pragma once

#include "family/names.h"
#include "tessel/exception.h"

#include <string>

struct harrowlink_unavailable : tessel::exception
{
    explicit harrowlink_unavailable(const std::string& message) : tessel::exception(message)
    {
        append_category("harrowlink");
    }
};

class sundrel_remover
{
public:
    sundrel_remover(std::wstring maker, std::wstring suite_name, std::wstring service_name,
                    std::wstring service_program);
    virtual ~sundrel_remover();
    sundrel_remover(const sundrel_remover&) = delete;
    sundrel_remover& operator=(const sundrel_remover&) = delete;

    // Number of registered products, 0 on error.
    virtual int count_products() = 0;
    virtual bool is_product_registered_in_sundrel_31x(std::wstring product_key) = 0;
    // "name@site" in the ANSI code page; empty when none is found.
    virtual std::string read_user_email_from_sundrel_31x(std::wstring product_key) = 0;
    // The product's registered name; empty on error.
    virtual std::wstring get_product_name(std::wstring product_key) = 0;
    virtual void unregister_product_from_sundrel_31x(std::wstring product_key) = 0;
    // The framework's code, data, installer components and machine identity
    // key when at most one product is left; the SharedDLLs counters always.
    virtual void remove_sundrel_31x() = 0;
    // suite folder + name + "\"
    virtual std::wstring get_product_folder(std::wstring product_key) = 0;
    // AppData + maker + "\" + name + "\"
    virtual std::wstring get_product_user_data_folder(std::wstring product_key) = 0;
    // CommonAppData + maker + "\" + name + "\"
    virtual std::wstring get_product_common_data_folder(std::wstring product_key) = 0;

protected:
    std::wstring maker_;
    std::wstring suite_name_;       // the suite's data folder under the maker's
    std::wstring service_name_;     // display name of the suite's service
    std::wstring service_program_;  // file name of its program
    std::wstring suite_folder_;     // Program Files + maker + "\"; set by the derived class
};

class sundrel31x_remover : public sundrel_remover
{
public:
    // Raises tessel::exception for an empty maker, and when Program Files is unknown.
    sundrel31x_remover(std::wstring maker, std::wstring suite_name, std::wstring service_name,
                       std::wstring service_program);
    // Frees the library, also when an error leaves the suite stage early.
    ~sundrel31x_remover() override;

    int count_products() override;
    bool is_product_registered_in_sundrel_31x(std::wstring product_key) override;
    std::string read_user_email_from_sundrel_31x(std::wstring product_key) override;
    std::wstring get_product_name(std::wstring product_key) override;
    void unregister_product_from_sundrel_31x(std::wstring product_key) override;
    void remove_sundrel_31x() override;
    std::wstring get_product_folder(std::wstring product_key) override;
    std::wstring get_product_user_data_folder(std::wstring product_key) override;
    std::wstring get_product_common_data_folder(std::wstring product_key) override;

    // Sets the counters of the suite's files to the number of products that
    // still need them (deletes them at 0).
    virtual void fix_sundrel_shared_dll_counters();

    // Whether remove_sundrel_31x took the framework off the machine (no other
    // product was left in it), so that nothing of it is to stay.
    bool framework_removed() const { return framework_removed_; }

private:
    family::suite_names suite_;     // the family's table for these names
    bool framework_removed_ = false;
};

// Frees the framework client library once if it is loaded, and deletes the private copy if
// one was loaded. For the end of the suite stage, after the remover is gone;
// a remover's destruction does the same, so a second call does nothing.
void free_harrowlink();
