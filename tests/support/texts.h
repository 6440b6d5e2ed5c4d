// Texts in the tests' assertions: wide names made readable, and lines expected
// in an order.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Text for assertion messages: each character cut to one byte (the names the
// tests use are ASCII).
std::string narrow(const std::wstring& text);
std::vector<std::string> narrow_lines(const std::vector<std::wstring>& texts);

// Whether the texts hold every expected line, in this order (others may lie
// between); the failure names the first line missing or out of order.
::testing::AssertionResult in_order(const std::vector<std::string>& texts, const std::vector<std::string>& expected);
