// Remove's start-up, version decision and the two ways a run ends.
#pragma once

#include "remover/product.h"

// The whole run; returns the exit code of a complete run (0). The abnormal
// end does not return.
int run_remover();

[[noreturn]] void finish_abnormally(const ProductInfo& info);
