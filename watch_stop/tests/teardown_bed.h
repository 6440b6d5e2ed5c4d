// The engine stage against the test bed's engine builds under Wine's service
// manager: services installed and started by their own " /s".
#pragma once

#include "family/product.h"
#include "log_capture.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class teardown_bed : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    static void scancore_knob(const std::wstring& key, const std::wstring& value);
    static void service_knob(const std::wstring& program, const std::wstring& key, const std::wstring& value);
    // " /s" of the program in the engine folder; asserts that its service runs.
    static void start(const std::wstring& program);
    static void start_engine_services();

    static bool watch_service_runs();
    static bool scanning_service_runs();

    // The product as installed, with its library QELVA.dll in its folder.
    static ProductInfo installed_product();

    // Runs the call with the log captured; prints and returns what it logged.
    std::vector<std::string> logged_by(const std::function<void()>& call, const char* what);

    DWORD last_elapsed_ms = 0;
};

bool contains(const std::vector<std::string>& lines, const std::string& line);
// Lines that start with the prefix.
size_t count_starting(const std::vector<std::string>& lines, const std::string& prefix);
