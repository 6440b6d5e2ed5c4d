// The owning template: which values it closes, when, and how often, for both
// kinds of invalid value; and the real handles of a few aliases released.
#include "tessel/unique_any.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

std::vector<UINT_PTR> closed;  // the values closed, in order

void record_close(HANDLE value) { closed.push_back(reinterpret_cast<UINT_PTR>(value)); }

using null_invalid = tessel::unique_any<HANDLE, record_close>;
using minus_one_invalid = tessel::unique_any<HANDLE, record_close, static_cast<UINT_PTR>(-1)>;

// A close that fails, as CloseHandle or FindClose do on a handle gone bad.
void failing_close(HANDLE value)
{
    record_close(value);
    SetLastError(ERROR_INVALID_HANDLE);
}

using failing_owner = tessel::unique_any<HANDLE, failing_close>;

HANDLE value(UINT_PTR bits) { return reinterpret_cast<HANDLE>(bits); }

class unique_any : public testing::Test
{
protected:
    void SetUp() override { closed.clear(); }
};

} // namespace

TEST_F(unique_any, closes_its_value_once_when_it_ends)
{
    {
        const null_invalid owner(value(7));
        EXPECT_TRUE(owner);
        EXPECT_EQ(value(7), owner.get());
        EXPECT_TRUE(closed.empty());
    }
    EXPECT_EQ(std::vector<UINT_PTR>{7}, closed);
}

TEST_F(unique_any, never_closes_the_invalid_value)
{
    {
        const null_invalid empty;
        const null_invalid null(nullptr);
        const minus_one_invalid minus_one(INVALID_HANDLE_VALUE);
        EXPECT_FALSE(empty);
        EXPECT_FALSE(null);
        EXPECT_FALSE(minus_one);
        EXPECT_EQ(INVALID_HANDLE_VALUE, minus_one_invalid().get());
    }
    EXPECT_TRUE(closed.empty());
}

TEST_F(unique_any, null_is_an_ordinary_value_where_minus_one_is_invalid)
{
    {
        const minus_one_invalid owner(nullptr);
        EXPECT_TRUE(owner);
    }
    EXPECT_EQ(std::vector<UINT_PTR>{0}, closed);
}

TEST_F(unique_any, release_gives_the_value_up_without_closing_it)
{
    minus_one_invalid owner(value(5));
    EXPECT_EQ(value(5), owner.release());
    EXPECT_FALSE(owner);
    EXPECT_EQ(INVALID_HANDLE_VALUE, owner.get());
    owner.reset();
    EXPECT_TRUE(closed.empty());
}

TEST_F(unique_any, reset_closes_the_old_value_and_keeps_the_new_one)
{
    null_invalid owner(value(1));
    owner.reset(value(2));
    EXPECT_EQ(std::vector<UINT_PTR>{1}, closed);
    EXPECT_EQ(value(2), owner.get());
    owner.reset();
    EXPECT_EQ((std::vector<UINT_PTR>{1, 2}), closed);
    EXPECT_FALSE(owner);
}

// Code that lets an owner go before it reads GetLastError reads the error of
// its own call, not the close's.
TEST_F(unique_any, closing_keeps_the_threads_last_error)
{
    {
        failing_owner owner(value(6));
        SetLastError(ERROR_FILE_NOT_FOUND);
        owner.reset();
        EXPECT_EQ(std::vector<UINT_PTR>{6}, closed);
        EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());

        owner.reset(value(7));
        SetLastError(ERROR_ACCESS_DENIED);
    }
    EXPECT_EQ((std::vector<UINT_PTR>{6, 7}), closed);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());

    // The system's own close that fails (a value that is no handle, error 6).
    tessel::unique_handle bogus(reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(0x7FFC)));
    SetLastError(ERROR_FILE_NOT_FOUND);
    bogus.reset();
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST_F(unique_any, put_closes_the_old_value_and_receives_the_new_one)
{
    minus_one_invalid owner(value(3));
    HANDLE* out = owner.put();
    EXPECT_EQ(std::vector<UINT_PTR>{3}, closed);
    EXPECT_EQ(INVALID_HANDLE_VALUE, *out);
    *out = value(4);
    EXPECT_EQ(value(4), owner.get());
    owner.reset();
    EXPECT_EQ((std::vector<UINT_PTR>{3, 4}), closed);
}

TEST_F(unique_any, moving_hands_the_value_over)
{
    null_invalid first(value(1));
    null_invalid second(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_EQ(value(1), second.get());

    null_invalid third(value(3));
    third = std::move(second);  // third's own value is closed
    EXPECT_EQ(std::vector<UINT_PTR>{3}, closed);
    EXPECT_EQ(value(1), third.get());

    null_invalid& same = third;
    third = std::move(same);  // assigned to itself: kept, not closed
    EXPECT_EQ(value(1), third.get());

    minus_one_invalid moved(value(8));
    const minus_one_invalid target(std::move(moved));
    EXPECT_EQ(INVALID_HANDLE_VALUE, moved.get());  // the source holds its kind's invalid value
    third.reset();
    EXPECT_EQ((std::vector<UINT_PTR>{3, 1}), closed);
}

TEST_F(unique_any, swap_exchanges_values)
{
    null_invalid one(value(1)), two(value(2));
    one.swap(two);
    EXPECT_EQ(value(2), one.get());
    EXPECT_EQ(value(1), two.get());
    EXPECT_TRUE(closed.empty());
}

TEST(unique_any_aliases, release_real_handles)
{
    HANDLE raw = nullptr;
    {
        const tessel::unique_handle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        ASSERT_TRUE(event);
        raw = event.get();
        DWORD flags = 0;
        EXPECT_TRUE(GetHandleInformation(raw, &flags));
    }
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(raw, &flags));  // closed

    tessel::unique_hkey key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, key.put()));
    const HKEY opened = key.get();
    key.reset();
    DWORD subkeys = 0;
    EXPECT_NE(ERROR_SUCCESS, RegQueryInfoKeyW(opened, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                                              nullptr, nullptr, nullptr, nullptr));

    WIN32_FIND_DATAA found;
    const tessel::unique_find_handle none(FindFirstFileA("C:\\no such folder\\*", &found));
    EXPECT_FALSE(none);
}
