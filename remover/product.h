// The product as installed: the search of the Uninstall key that fills its
// record, and the installation directory the run works with.
#pragma once

#include "family/product.h"

#include <string>

// Searches the Uninstall key for the product's entries and fills the record.
// True when both the version text and the installation directory were found.
bool find_product_info(ProductInfo& info);

// The installation directory as the run uses it: ending with the product's
// folder and a backslash, or the default folder under Program Files.
std::string fixed_install_dir(const std::string& install_dir, const std::string& product,
                              const std::string& default_dir);
