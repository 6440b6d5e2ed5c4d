// What every installer database cleaner must leave on the scenario's machine:
// one typed suite, instantiated by each cleaner's test program with its own
// cleaning. A cleaning is a type with
//   static void before_scenario();   on the bare machine, before any package
//   static void after_scenario();    what it adds to the laid scenario
//   static program_run run();        the cleaning in a child process
//   static const REGSAM user_data_view;  where the user data it cleans lies
// The machine is laid and cleaned once for the whole program; the program's
// own tests share the outcome through the same fixture.
#pragma once

#include "cleaner_scenario.h"
#include "installer_db/packed_guid.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace installer_test {

template <class Cleaning>
class cleaning : public testing::Test
{
protected:
    struct outcome
    {
        std::string setup_error;
        program_run run;
        std::vector<std::string> lines;
    };

    static const outcome& cleaned()
    {
        static const outcome once = clean_once();
        return once;
    }

    void SetUp() override { ASSERT_EQ(cleaned().setup_error, ""); }

private:
    static outcome clean_once()
    {
        outcome result;
        Cleaning::before_scenario();
        result.setup_error = lay_scenario();
        if (!result.setup_error.empty())
            return result;
        Cleaning::after_scenario();
        result.run = Cleaning::run();
        result.lines = texts_of(parse_log(result.run.console));
        return result;
    }
};

TYPED_TEST_SUITE_P(cleaning);

TYPED_TEST_P(cleaning, ends_with_exit_code_0)
{
    EXPECT_EQ(this->cleaned().run.exit_code, 0u);
}

TYPED_TEST_P(cleaning, windows_installer_no_longer_knows_the_products)
{
    EXPECT_EQ(product_state(pellamore_product), INSTALLSTATE_UNKNOWN);
    EXPECT_EQ(product_state(tools_product), INSTALLSTATE_UNKNOWN);
}

TYPED_TEST_P(cleaning, removes_the_feature_lists_with_the_registrations)
{
    // The classes' installer data is one key in both views.
    EXPECT_FALSE(key_exists(feature_list_key(pellamore_product)));
    EXPECT_TRUE(key_exists(feature_list_key(ostravel_product)));
    EXPECT_TRUE(key_exists(feature_list_key(viewer_product)));
}

TYPED_TEST_P(cleaning, sibling_and_neighbour_stay_installed_with_their_shared_components)
{
    EXPECT_EQ(product_state(ostravel_product), INSTALLSTATE_DEFAULT);
    EXPECT_EQ(product_state(viewer_product), INSTALLSTATE_DEFAULT);
    EXPECT_EQ(related_products(viewer_upgrade), std::vector<std::wstring>{viewer_product});
    EXPECT_EQ(component_state(ostravel_product, shared_languages_component), INSTALLSTATE_LOCAL);
    EXPECT_EQ(component_state(viewer_product, kelzip_component), INSTALLSTATE_LOCAL);
}

TYPED_TEST_P(cleaning, components_keep_other_products_values)
{
    const REGSAM in = TypeParam::user_data_view;
    EXPECT_EQ(values_of(component_key(kelzip_component), in), std::set<std::wstring>{pack_guid(viewer_product)});
    EXPECT_EQ(values_of(component_key(shared_languages_component), in),
              std::set<std::wstring>{pack_guid(ostravel_product)});
    // Another product's value, whatever its length, keeps the component.
    EXPECT_EQ(values_of(component_key(help_component), in), std::set<std::wstring>{pack_guid(foreign_product)});
}

REGISTER_TYPED_TEST_SUITE_P(cleaning, ends_with_exit_code_0, windows_installer_no_longer_knows_the_products,
                            removes_the_feature_lists_with_the_registrations,
                            sibling_and_neighbour_stay_installed_with_their_shared_components,
                            components_keep_other_products_values);

} // namespace installer_test
