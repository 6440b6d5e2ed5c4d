// Errors of value conversions.
#pragma once

#include "tessel/exception.h"

namespace tessel::variant {

struct generic : tessel::exception
{
    explicit generic(const std::string& message) : tessel::exception(message) { append_category("variant"); }
};

} // namespace tessel::variant
