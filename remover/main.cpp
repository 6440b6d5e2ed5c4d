#include "remover/entry.h"

int main()
{
    return run_remover();
}
