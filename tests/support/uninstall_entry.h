// An Uninstall entry as a 32-bit installer writes it: the tests are 32-bit
// programs, so HKLM\SOFTWARE lands in the 32-bit view under WOW64. Removed
// again when the object goes.
#pragma once

#include <string>
#include <utility>
#include <vector>

class uninstall_entry {
public:
    using values = std::vector<std::pair<std::wstring, std::wstring>>;
    uninstall_entry(const std::wstring& name, const values& strings);
    ~uninstall_entry();
    uninstall_entry(const uninstall_entry&) = delete;
    uninstall_entry& operator=(const uninstall_entry&) = delete;

private:
    std::wstring path_;
};
