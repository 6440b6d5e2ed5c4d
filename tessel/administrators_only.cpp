#include "tessel/administrators_only.h"

#include <windows.h>
#include <sddl.h>

namespace tessel {

unique_local_memory administrators_only_descriptor()
{
    unique_local_memory descriptor;
    PSECURITY_DESCRIPTOR made = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;GA;;;SY)(A;OICI;GA;;;BA)",
                                                             SDDL_REVISION_1, &made, nullptr))
        descriptor.reset(made);
    return descriptor;
}

} // namespace tessel
