// Removal of single Windows Installer records whose identity is known in
// advance, in the machine-wide user data (HKLM
// SOFTWARE\Microsoft\Windows\CurrentVersion\Installer\UserData and its
// per-user subkeys). Under WOW64 the operations work in the 64-bit registry
// view, where the installer keeps its data. None raises: an error ends the
// operation quietly.
#pragma once

#include <string>
#include <vector>

// One product's value in an installer component: the packed product code that
// names it and the key path it holds.
struct component_value
{
    std::wstring product;
    std::wstring key_path;
};

// The packed code of the first product registered for the upgrade code (a
// GUID text), or "not found".
std::wstring find_product_code_by_upgrade_code(const std::wstring& upgrade_code);

// Deletes every component, in every user's data, whose first value's key path
// contains text (letter case of A to Z ignored), whichever products it serves.
// Returns the values the deleted components held: whose they were.
std::vector<component_value> remove_components_by_key_path(const std::wstring& text);

// Removes the value of the upgrade code's product from the component
// (a packed code) in every user's data, and the component itself when no other
// value is left in it.
void remove_product_component(const std::wstring& upgrade_code, const std::wstring& packed_component);

// Removes the feature's value from the features of the upgrade code's product
// in every user's data.
void remove_product_feature(const std::wstring& upgrade_code, const std::wstring& feature);
