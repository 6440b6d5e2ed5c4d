// What the checks a run on many machines needs cost, one by one, in the
// state a run leaves the machine in: the machine-wide single-run lock, the
// leftover report, and the scheduling of a file still in use for deletion at
// the next restart (against deleting a file that is free). Run it in a prefix
// where Remove.exe has just run; fleet-bench does, and sets the figures
// beside that run's own time.
//
//   fleet_checks_bench.exe [ROUNDS]      (default 15)
#include "bench/clock.h"
#include "remover/leftovers.h"
#include "remover/product.h"
#include "remover/single_run.h"
#include "tessel/log/log.h"
#include "tessel/unique_any.h"
#include "toolbox/environment.h"
#include "toolbox/files.h"
#include "toolbox/restart.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

// Median milliseconds of one call of work over the rounds.
double median_ms(int rounds, const std::function<void(int)>& work)
{
    std::vector<double> ms;
    for (int round = 0; round < rounds; ++round) {
        const double start = seconds_now();
        work(round);
        ms.push_back((seconds_now() - start) * 1000);
    }
    return median(ms);
}

void put_file(const std::string& path)
{
    tessel::unique_file_handle file(
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    WriteFile(file.get(), "data\r\n", 6, &written, nullptr);
}

// What the run knows about the product when it reaches its report: the
// product's two Uninstall entries of scenario "full", found at start-up.
ProductInfo product_as_found()
{
    ProductInfo info(product_narrow());
    info.install_dir = get_program_files_folder() + maker_narrow() + "\\" + product_narrow() + "\\";
    info.version_text = "4.1.265";
    info.version = 41265;
    info.uninstall_keys = {L"Pellamore", L"{7474D25A-55B7-4CB8-9D93-1FB2B1F3726B}"};
    return info;
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    load_product_profile();
    // The run writes every line to two files (its folder's and the temporary
    // folder's; here both in the current folder); the console is left out so that the figures stay readable.
    tessel::log::add(new tessel::log::file("fleet_checks_bench.log.txt"));
    tessel::log::add(new tessel::log::file("fleet_checks_bench.second.log.txt"));

    const ProductInfo info = product_as_found();
    const double lock = median_ms(rounds, [](int) { single_run_lock machine; });
    const double report = median_ms(rounds, [&](int) { report_leftovers(info, true); });

    const std::string folder = "fleet_checks_bench\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    const double free_delete = median_ms(rounds, [&](int round) {
        const std::string path = folder + "free" + std::to_string(round) + ".dat";
        put_file(path);
        delete_file(path);
    });
    std::vector<tessel::unique_file_handle> holders;
    const double scheduled = median_ms(rounds, [&](int round) {
        const std::string path = folder + "held" + std::to_string(round) + ".dat";
        put_file(path);
        holders.emplace_back(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
        delete_file(path);
    });
    tessel::log::shutdown();

    std::printf("median of %d rounds, milliseconds a call\n", rounds);
    std::printf("single-run lock, taken and released      %9.2f\n", lock);
    std::printf("leftover report, nothing left             %9.2f\n", report);
    std::printf("delete of a free file (put included)      %9.2f\n", free_delete);
    std::printf("delete of a held file, scheduled instead  %9.2f   (%d scheduled)\n", scheduled,
                scheduled_for_restart());
    return 0;
}
