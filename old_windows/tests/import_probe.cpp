// Linked like the shipped programs but without the import slots of
// old_windows: the thread runtime brings GetTickCount64 into its import table.
#include <thread>

int main()
{
    std::thread worker([] {});
    worker.join();
    return 0;
}
