// The product library's application interface (watch_stop/product_library.h),
// which QELVA.dll implements.
#pragma once

#include "watch_stop/product_library.h"

namespace qelva = product_library;

extern "C" qelva::application* __cdecl create_application(void);
using create_application_fn = qelva::create_application_fn;
