// The file listener (byte-order mark, line layout, sharing, open failure, size
// limit and rotation), lines of two processes in one file, the console in the
// OEM code page, and narrow UTF-8 text that is not valid ANSI.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "child.h"
#include "log_lines.h"
#include "tessel/unique_any.h"
#include "run_support.h"
#include "tessel/log/log.h"
#include "tessel/system_error_text.h"

namespace {

namespace log = tessel::log;

const std::string bom = "\xEF\xBB\xBF";

void write_file(const std::string& name, const std::string& bytes)
{
    const tessel::unique_file_handle file(
        CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file) << name << " " << GetLastError();
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.get(), bytes.data(), DWORD(bytes.size()), &written, nullptr));
}

bool exists(const std::string& name) { return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A fresh base name per test: files of earlier tests stay out of the way.
std::string base_name()
{
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string("log-") + test->name();
}

TEST(file, a_new_file_starts_with_the_mark_and_holds_stamped_crlf_lines)
{
    const std::string base = base_name();
    {
        log::file listener(base);
        listener.write(1, "2024/01/02 03:04:05    ", "first \xC3\xA9");
        listener.write(3, "2024/01/02 03:04:06 !  ", "second");
    }
    EXPECT_EQ(bom + "2024/01/02 03:04:05    first \xC3\xA9\r\n2024/01/02 03:04:06 !  second\r\n",
              read_file(base + ".log.txt"));
}

TEST(file, an_existing_file_gets_no_second_mark_and_keeps_its_lines)
{
    const std::string base = base_name();
    write_file(base + ".log.txt", bom + "old\r\n");
    { log::file(base).write(1, "S ", "new"); }
    { log::file(base).write(1, "S ", "newer"); }
    EXPECT_EQ(bom + "old\r\nS new\r\nS newer\r\n", read_file(base + ".log.txt"));
}

TEST(file, front_end_lines_reach_the_file_with_their_stamps)
{
    const std::string base = base_name();
    log::shutdown();
    log::add(new log::file(base));
    log::info(L"caf\u00e9");
    log::error("failed");
    try {
        throw tessel::exception(std::string("cause"));
    } catch (...) {
        log::write(log::level_exception, std::string("Stage"));
    }
    log::shutdown();

    const std::string bytes = read_file(base + ".log.txt");
    ASSERT_EQ(0u, bytes.rfind(bom, 0));
    const std::vector<log_line> lines = parse_log(bytes);
    ASSERT_EQ(3u, lines.size()) << bytes;
    EXPECT_EQ(' ', lines[0].marker);
    EXPECT_EQ("caf\xC3\xA9", lines[0].text);
    EXPECT_EQ('!', lines[1].marker);
    EXPECT_EQ("failed", lines[1].text);
    EXPECT_EQ('@', lines[2].marker);
    EXPECT_EQ("Stage  exception: [cause]", lines[2].text);
}

TEST(file, the_open_file_can_be_shared_by_listeners_readers_and_a_delete)
{
    const std::string base = base_name();
    const std::string name = base + ".log.txt";
    log::file one(base);
    log::file two(base);  // what a second process does
    one.write(1, "S ", "a");
    two.write(1, "S ", "b");
    one.write(1, "S ", "c");
    EXPECT_EQ(bom + "S a\r\nS b\r\nS c\r\n", read_file(name));

    {
        const tessel::unique_file_handle reader(CreateFileA(name.c_str(), GENERIC_READ,
                                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                            0, nullptr));
        EXPECT_TRUE(reader) << GetLastError();
    }
    // Both listeners share deletion: the open file can be moved away.
    EXPECT_TRUE(MoveFileA(name.c_str(), (base + ".moved.txt").c_str())) << GetLastError();
}

TEST(file, processes_share_a_global_lock_named_from_the_base_name)
{
    CreateDirectoryA("sub dir", nullptr);
    const char lock_name[] = "Global\\log-sub dir_lock test";
    {
        log::file listener("sub dir\\lock test");
        const tessel::unique_handle lock(OpenMutexA(SYNCHRONIZE, FALSE, lock_name));
        EXPECT_TRUE(lock.get()) << GetLastError();
    }
    EXPECT_TRUE(exists("sub dir\\lock test.log.txt"));
    const tessel::unique_handle gone(OpenMutexA(SYNCHRONIZE, FALSE, lock_name));
    EXPECT_FALSE(gone.get()) << "the listener's lock outlived it";
}

TEST(file, a_file_that_cannot_be_opened_raises_log_generic_with_the_system_text)
{
    const std::string base = base_name();
    const tessel::unique_file_handle holder(
        CreateFileA((base + ".log.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(holder);
    try {
        log::file listener(base);
        FAIL() << "no exception";
    } catch (const log::generic& e) {
        EXPECT_EQ("log", e.category());
        EXPECT_EQ("CreateFile failed: " + tessel::system_error_text(ERROR_SHARING_VIOLATION), e.message());
        EXPECT_EQ("log[CreateFile failed: " + tessel::system_error_text(ERROR_SHARING_VIOLATION) + "]",
                  std::string(e.what()));
    }
}

// One line into a file that holds "old" lines, with numbered copies set up
// beforehand; then the live file and every copy are compared.
struct rotation_case {
    const char* name;
    unsigned keep;
    int limit_offset;  // max_size = size of the live file + this
    std::map<int, std::string> copies_before;
    std::string live_after;  // after the mark
    std::map<int, std::string> copies_after;
};

TEST(file, size_limit_truncates_or_rotates_before_the_next_line)
{
    const std::string old_live = bom + "S old 1\r\nS old 2\r\n";
    const std::string new_line = "S new\r\n";
    const rotation_case cases[] = {
        {"below the limit", 0, 1, {}, "S old 1\r\nS old 2\r\nS new\r\n", {}},
        {"keep 0 at the limit: truncated", 0, 0, {}, "S new\r\n", {}},
        {"keep 0 above the limit", 0, -5, {{1, "c1"}}, "S new\r\n", {{1, "c1"}}},
        {"keep 1 replaces its copy", 1, 0, {{1, "c1"}}, "S new\r\n", {{1, old_live}}},
        {"keep 2, none yet", 2, 0, {}, "S new\r\n", {{1, old_live}}},
        {"keep 2 with copy 2 missing fills it", 2, 0, {{1, "c1"}}, "S new\r\n", {{1, "c1"}, {2, old_live}}},
        {"keep 2 with a gap at 1 fills 1", 2, 0, {{2, "c2"}}, "S new\r\n", {{1, old_live}, {2, "c2"}}},
        {"keep 3 full drops the oldest", 3, 0, {{1, "c1"}, {2, "c2"}, {3, "c3"}}, "S new\r\n",
         {{1, "c2"}, {2, "c3"}, {3, old_live}}},
    };
    int index = 0;
    for (const rotation_case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string base = "rotation" + std::to_string(index++);
        write_file(base + ".log.txt", old_live);
        for (const auto& [number, bytes] : c.copies_before)
            write_file(base + "." + std::to_string(number) + ".log.txt", bytes);

        log::file(base, std::uint32_t(int(old_live.size()) + c.limit_offset), c.keep).write(1, "S ", "new");

        EXPECT_EQ(bom + c.live_after, read_file(base + ".log.txt"));
        for (int number = 1; number <= 4; ++number) {
            const std::string copy = base + "." + std::to_string(number) + ".log.txt";
            const auto expected = c.copies_after.find(number);
            if (expected == c.copies_after.end())
                EXPECT_FALSE(exists(copy)) << copy;
            else
                EXPECT_EQ(expected->second, read_file(copy)) << copy;
        }
    }
}

TEST(file, rotation_repeats_at_every_limit_and_keeps_the_newest_copies)
{
    const std::string base = base_name();
    log::file listener(base, 20, 2);
    for (int i = 0; i < 5; ++i)
        listener.write(1, "S ", "line " + std::to_string(i) + " padded to pass the limit");
    // Each line passes the limit: every next line rotates first.
    EXPECT_EQ(bom + "S line 4 padded to pass the limit\r\n", read_file(base + ".log.txt"));
    EXPECT_EQ(bom + "S line 2 padded to pass the limit\r\n", read_file(base + ".1.log.txt"));
    EXPECT_EQ(bom + "S line 3 padded to pass the limit\r\n", read_file(base + ".2.log.txt"));
    EXPECT_FALSE(exists(base + ".3.log.txt"));
}

// Another program holds the live file open without read sharing: no copy of
// it can be made, however often it is tried. The line is still written, after
// the file's old lines, and the next line tries again.
TEST(file, rotation_ends_when_the_copy_keeps_failing)
{
    const std::string old_live = bom + "S old\r\n";
    for (unsigned keep : {1u, 2u, 3u}) {
        SCOPED_TRACE(keep);
        const std::string base = "failing" + std::to_string(keep);
        write_file(base + ".log.txt", old_live);
        log::file listener(base, 1, keep);
        {
            const tessel::unique_file_handle blocker(CreateFileA((base + ".log.txt").c_str(), GENERIC_WRITE,
                                                                 FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                                 OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(blocker) << GetLastError();
            listener.write(1, "S ", "kept");
        }
        EXPECT_EQ(old_live + "S kept\r\n", read_file(base + ".log.txt"));
        for (unsigned number = 1; number <= keep; ++number)
            EXPECT_FALSE(exists(base + "." + std::to_string(number) + ".log.txt"));

        listener.write(1, "S ", "after");
        EXPECT_EQ(bom + "S after\r\n", read_file(base + ".log.txt"));
        EXPECT_EQ(old_live + "S kept\r\n", read_file(base + ".1.log.txt"));
    }
}

// Two processes log 500 long lines each to one base name at the same time,
// both opening the file at once.
TEST(processes, two_processes_append_whole_lines_in_their_own_order)
{
    const std::string base = base_name();
    const int count = 500;
    const std::string rendezvous = "log-test-" + std::to_string(GetCurrentProcessId());
    const tessel::unique_handle ready(CreateSemaphoreA(nullptr, 0, 2, (rendezvous + "-ready").c_str()));
    const tessel::unique_handle go(CreateEventA(nullptr, TRUE, FALSE, (rendezvous + "-go").c_str()));
    ASSERT_TRUE(ready.get() && go.get());

    const char* tags[] = {"alpha", "omega"};
    std::vector<tessel::unique_handle> children;
    for (const char* tag : tags)
        children.push_back(
            start_child("append " + base + " " + tag + " " + std::to_string(count) + " " + rendezvous));
    for (size_t started = 0; started < children.size(); ++started)
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready.get(), 60000));
    SetEvent(go.get());
    for (const tessel::unique_handle& child : children)
        EXPECT_EQ(0u, wait_for_exit(child));

    const std::string bytes = read_file(base + ".log.txt");
    ASSERT_EQ(0u, bytes.rfind(bom, 0));
    EXPECT_EQ(std::string::npos, bytes.find(bom, 1)) << "a second byte-order mark";
    std::map<std::string, int> next;
    std::map<std::string, std::string> padding = {{"alpha", std::string(180, 'a')}, {"omega", std::string(180, 'o')}};
    int switches = 0;
    std::string previous;
    for (const log_line& line : parse_log(bytes)) {
        ASSERT_EQ(' ', line.marker) << line.text;
        const std::string tag = line.text.substr(0, 5);
        ASSERT_TRUE(padding.count(tag)) << line.text;
        char number[8];
        wsprintfA(number, "%04d", next[tag]);
        ASSERT_EQ(tag + " " + number + " " + padding[tag], line.text);
        ++next[tag];
        switches += !previous.empty() && previous != tag;
        previous = tag;
    }
    EXPECT_EQ(count, next["alpha"]);
    EXPECT_EQ(count, next["omega"]);
    std::printf("[          ] the two processes' lines alternate %d times\n", switches);
}

TEST(console, lines_are_in_the_oem_code_page_with_question_marks_only_for_what_it_lacks)
{
    if (GetOEMCP() != 437)
        GTEST_SKIP() << "expects OEM code page 437, not " << GetOEMCP();
    DWORD exit_code = 0;
    const std::string output = run_child("console", exit_code);
    EXPECT_EQ(0u, exit_code);

    const std::vector<log_line> lines = parse_log(output);  // each line ends in CR LF
    ASSERT_EQ(4u, lines.size()) << output;
    EXPECT_EQ(' ', lines[0].marker);
    EXPECT_EQ("caf\x82", lines[0].text);
    EXPECT_EQ("caf\x82 ? ? end", lines[1].text);
    EXPECT_EQ('!', lines[2].marker);
    EXPECT_EQ("?", lines[2].text);
    EXPECT_EQ("narrow plain", lines[3].text);
}

// Run by the second registration of this program, under a Japanese locale
// (ANSI code page 932): there UTF-8 text can be invalid ANSI.
TEST(narrow_text, valid_utf8_that_is_not_valid_ansi_reaches_the_file_through_the_retry)
{
    if (GetACP() != 932)
        GTEST_SKIP() << "runs under ANSI code page 932 (log_tests_cp932), not " << GetACP();
    struct row {
        const char* name;
        std::string narrow;
        std::string in_file;
    };
    const row rows[] = {
        // U+0101 U+00C1 in UTF-8 (C4 81 C3 81): 81 is a lead byte in code page 932, and
        // neither a space nor the end of the text can follow it.
        {"invalid ANSI, read as UTF-8", "\xC4\x81 \xC3\x81", "\xC4\x81 \xC3\x81"},
        // U+65E5 in code page 932 (93 FA): valid ANSI, converted from it.
        {"valid ANSI", "\x93\xFA", "\xE6\x97\xA5"},
    };
    const std::string base = base_name();
    log::shutdown();
    log::add(new log::file(base));
    for (const row& r : rows)
        log::write(log::level_info, r.narrow);
    log::shutdown();

    const std::vector<log_line> lines = parse_log(read_file(base + ".log.txt"));
    ASSERT_EQ(std::size(rows), lines.size());
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(rows[i].in_file, lines[i].text) << rows[i].name;
}

} // namespace
