// The cleaning stages, run in a fixed order between start-up and completion.
#pragma once

#include "remover/product.h"

void run_cleaning_stages(ProductInfo& info, bool version_detected);
