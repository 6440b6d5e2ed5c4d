// Quietus.exe of build/bin run as a child against the test bed's engine:
// its one console line, exit code and run time.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

struct quietus_result
{
    std::string line;     // console output without its line end
    std::string console;  // as written
    DWORD exit_code = 0xFFFFFFFF;
    DWORD elapsed_ms = 0;
};

quietus_result run_quietus(const std::string& name = "Quietus.exe");

// What a Quietus run costs here apart from any waiting: one run against an
// engine that refuses the connection.
DWORD quietus_start_cost();

// Puts the engine of that version into the engine folder, with no knobs set;
// removes everything of the test bed afterwards.
class quietus_bed : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;
    static void knob(const std::wstring& key, const std::wstring& value);
    static void start_engine_services();
};

// Prints the case for the record and checks line and exit code.
void expect_quietus(const quietus_result& got, const std::string& line, DWORD exit_code);
