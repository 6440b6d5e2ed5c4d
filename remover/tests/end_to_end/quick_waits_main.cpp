// Remove.exe with a child wait limit of 20 s instead of minutes, so that a
// test can show a hanging child ended without waiting the real limit.
#include "remover/entry.h"

int main()
{
    return run_remover(20 * 1000);
}
