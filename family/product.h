// The product family the remover is built for, and the product as installed.
#pragma once

#include <string>
#include <vector>

// Five names read from the program's string table (2001 to 2005), so one image
// can be relabelled for another maker or product.
struct ProductProfile {
    std::wstring maker_folder;
    std::wstring product_name;
    std::wstring product_id;
    std::wstring sibling_name;
    std::wstring tools_folder;
};

// Filled once at start-up, read-only afterwards.
const ProductProfile& product_profile();
// Loads all five strings, or, if any one is missing, all five defaults.
void load_product_profile();
ProductProfile default_product_profile();

// Whether the maker is the default one, which switches several names and
// conditions; without an argument, the profile's maker.
bool is_default_maker(const std::wstring& maker);
bool is_default_maker();

// The profile's names in the ANSI code page, as paths built from the shell
// folders take them (tessel::unicode::to_ansi).
std::string maker_narrow();
std::string product_narrow();
std::string sibling_narrow();
std::string tools_narrow();

// major*10000 + minor*1000 + build.
constexpr int version_warning_threshold = 41265;
constexpr int version_4_1_0 = 41000;
constexpr int preventive_cleaning_version = 36081;

struct ProductInfo {
    explicit ProductInfo(std::string name) : product_name(std::move(name)) {}

    std::string install_dir;
    std::string version_text;
    int version = -1;
    std::string user_email;
    std::string product_name;
    std::vector<std::wstring> uninstall_keys;
};

// "9.9.9", "9.9.99" or "9.9.999" to a version number; -1 for any other shape.
int parse_product_version(const std::string& text);
