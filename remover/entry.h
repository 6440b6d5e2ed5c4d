// Remove's start-up, version decision and the two ways a run ends.
#pragma once

#include "remover/product.h"
#include "toolbox/processes.h"

// The whole run; returns the exit code of a complete run (0). The abnormal
// end does not return. A child program that has not ended after
// child_wait_limit_ms is terminated (tests shorten the limit).
int run_remover(DWORD child_wait_limit_ms = default_child_wait_limit_ms);

[[noreturn]] void finish_abnormally(const ProductInfo& info);
