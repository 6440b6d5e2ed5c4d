#include "remover/stages.h"

void run_cleaning_stages(ProductInfo&, bool)
{
    // The stages land here one by one.
}
