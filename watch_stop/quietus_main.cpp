// Quietus: asks the engine to stop its watch service. No arguments, no log
// listener: the one line on standard output and the exit code are all it says.
#include "watch_stop/quietus.h"
#include "watch_stop/stopper.h"

#include <iostream>

int main()
{
    return quietus::run(std::wcout, av::stop_av_watch_service);
}
