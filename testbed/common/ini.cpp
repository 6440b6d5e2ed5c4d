#include "testbed/common/ini.h"

#include "testbed/common/environment.h"
#include "testbed/common/handles.h"

#include <windows.h>

#include <cwctype>

namespace testbed::ini {

namespace {

std::wstring trimmed(const std::wstring& text)
{
    size_t first = 0, last = text.size();
    while (first < last && std::iswspace(text[first]))
        ++first;
    while (last > first && std::iswspace(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

std::vector<std::wstring> lines_of(const std::wstring& text)
{
    std::vector<std::wstring> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos)
            end = text.size();
        std::wstring line = text.substr(start, end - start);
        if (!line.empty() && line.back() == L'\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// The section a header line opens, if it is one.
std::optional<std::wstring> header(const std::wstring& line)
{
    std::wstring t = trimmed(line);
    if (t.size() < 2 || t.front() != L'[' || t.back() != L']')
        return std::nullopt;
    return trimmed(t.substr(1, t.size() - 2));
}

std::optional<std::pair<std::wstring, std::wstring>> entry(const std::wstring& line)
{
    std::wstring t = trimmed(line);
    if (t.empty() || t[0] == L';' || t[0] == L'#')
        return std::nullopt;
    size_t equals = t.find(L'=');
    if (equals == std::wstring::npos)
        return std::nullopt;
    return std::make_pair(trimmed(t.substr(0, equals)), trimmed(t.substr(equals + 1)));
}

}  // namespace

std::optional<std::wstring> read(const std::wstring& path)
{
    unique_handle file = own_handle(CreateFileW(path.c_str(), GENERIC_READ,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return std::nullopt;
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0)
        bytes.append(buffer, read);

    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE)
        return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        bytes.erase(0, 3);
    int size = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(size, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), size);
    return text;
}

bool write(const std::wstring& path, const std::wstring& text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                   nullptr);
    std::string bytes(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                        nullptr);
    // A reader sees the old file or the new one, never half of it.
    std::wstring temporary = path + L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    {
        unique_handle file = own_handle(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!file || !WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
            return false;
    }
    if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}

std::vector<std::pair<std::wstring, std::wstring>> entries(const std::wstring& text, const std::wstring& section)
{
    std::vector<std::pair<std::wstring, std::wstring>> found;
    bool inside = false;
    for (const std::wstring& line : lines_of(text)) {
        if (auto name = header(line)) {
            inside = equal_no_case(*name, section);
            continue;
        }
        if (auto e = entry(line); inside && e)
            found.push_back(*e);
    }
    return found;
}

std::optional<std::wstring> value(const std::wstring& text, const std::wstring& section, const std::wstring& key)
{
    for (const auto& [name, v] : entries(text, section))
        if (equal_no_case(name, key))
            return v;
    return std::nullopt;
}

std::wstring with_value(const std::wstring& text, const std::wstring& section, const std::wstring& key,
                        const std::optional<std::wstring>& value)
{
    std::vector<std::wstring> lines = lines_of(text);
    std::wstring line = key + L"=" + value.value_or(L"");
    bool inside = false, done = false;
    size_t section_end = lines.size();  // where a missing key goes
    bool section_found = false;
    for (size_t i = 0; i < lines.size() && !done; ++i) {
        if (auto name = header(lines[i])) {
            if (inside)
                section_end = i;
            inside = equal_no_case(*name, section);
            section_found = section_found || inside;
            continue;
        }
        auto e = entry(lines[i]);
        if (!inside || !e || !equal_no_case(e->first, key))
            continue;
        if (value)
            lines[i] = line;
        else
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
        done = true;
    }
    if (!done && value) {
        if (section_found) {
            // Before the blank lines that end the section.
            while (section_end > 0 && trimmed(lines[section_end - 1]).empty())
                --section_end;
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(section_end), line);
        } else {
            lines.push_back(L"[" + section + L"]");
            lines.push_back(line);
        }
    }
    std::wstring result;
    for (const std::wstring& l : lines)
        result += l + L"\r\n";
    return result;
}

}  // namespace testbed::ini
