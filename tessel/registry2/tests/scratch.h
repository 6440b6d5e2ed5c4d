// Test scaffolding: a fresh key per test, and plain registry calls to set up
// and check what the layer does.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tessel/unique_any.h"

using raw_key = tessel::unique_hkey;

// Creates (or opens) `path` below `parent` with all rights; fails the test on error.
raw_key raw_create(HKEY parent, const std::wstring& path);
// The status of opening `path` below `parent` with `access`.
LONG raw_open_status(HKEY parent, const std::wstring& path, REGSAM access);
bool raw_exists(HKEY parent, const std::wstring& path);
// Stores exactly `bytes` bytes, never more.
void raw_set(HKEY handle, const std::wstring& name, DWORD type, const void* data, DWORD bytes);
void raw_set_text(HKEY handle, const std::wstring& name, DWORD type, const std::wstring& text);
// Replaces the key's DACL, given in SDDL: "D:P(A;;KR;;;WD)" lets everyone only
// read, "D:P" lets nobody in. Handles opened before keep their rights.
void restrict_access(HKEY handle, const wchar_t* dacl);

// The handle's value as the layer's messages print it.
std::string handle_text(HKEY handle);

// Runs `action` and checks that it raises a tessel exception of `category`
// with exactly `message`; a registry error whose message ends with the
// system's code in parentheses must carry that code.
void expect_raise(const std::function<void()>& action, const std::string& category, const std::string& message);

// HKCU\Software\registry2_tests\<test name>, emptied before the test and removed after.
class scratch : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    std::wstring path;
    raw_key raw;
};
