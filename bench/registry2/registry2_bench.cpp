// Listing the subkeys of a big key: tessel::registry2::key::subkey_names
// against a bare RegEnumKeyExW loop over the same key, in the same run.
//
//   registry2_bench.exe [SUBKEYS] [ROUNDS]      (defaults 100000 and 7)
//
// Creates HKCU\Software\registry2_bench\many with SUBKEYS subkeys, times both
// listings ROUNDS times each, alternating which goes first, prints every
// round, the best and the median of each with their ratios, then removes the
// key again.
#include <windows.h>

#include "bench/clock.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tessel/registry2/key.h"

namespace {

using raw_key = tessel::unique_hkey;

const wchar_t bench_path[] = L"Software\\registry2_bench";

raw_key create(HKEY parent, const wchar_t* path)
{
    HKEY handle = nullptr;
    const LONG status = RegCreateKeyExW(parent, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr);
    if (status != ERROR_SUCCESS) {
        std::fprintf(stderr, "RegCreateKeyExW failed (%ld)\n", status);
        std::exit(2);
    }
    return raw_key(handle);
}

std::wstring subkey_name(unsigned i)
{
    wchar_t name[16];
    std::swprintf(name, 16, L"key%06u", i);
    return name;
}

void create_subkeys(HKEY parent, unsigned count)
{
    for (unsigned i = 0; i < count; ++i)
        create(parent, subkey_name(i).c_str());
}

// By name and from the last: a few times faster than RegDeleteTreeW here.
void remove_subkeys(HKEY parent, unsigned count)
{
    for (unsigned i = count; i-- > 0;)
        RegDeleteKeyW(parent, subkey_name(i).c_str());
}

// The baseline: every name fetched into one buffer, nothing kept.
unsigned bare_loop(HKEY handle)
{
    wchar_t name[260];
    for (DWORD index = 0;; ++index) {
        DWORD length = 260;
        const LONG status = RegEnumKeyExW(handle, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            return index;
        if (status != ERROR_SUCCESS) {
            std::fprintf(stderr, "RegEnumKeyExW failed (%ld)\n", status);
            std::exit(2);
        }
    }
}

// Figures of the rounds: the best is the least disturbed by other load, the
// median the most typical.
struct rounds_of
{
    std::vector<double> seconds;
    double best() const { return *std::min_element(seconds.begin(), seconds.end()); }
    double median() const { return ::median(seconds); }
};

} // namespace

int main(int argc, char** argv)
{
    const unsigned count = argc > 1 ? unsigned(std::strtoul(argv[1], nullptr, 10)) : 100000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 7;

    RegDeleteTreeW(HKEY_CURRENT_USER, bench_path);
    const raw_key bench = create(HKEY_CURRENT_USER, bench_path);
    const raw_key many = create(bench.get(), L"many");
    double start = seconds_now();
    create_subkeys(many.get(), count);
    std::printf("created %u subkeys in %.2f s\n", count, seconds_now() - start);

    const tessel::registry2::key listed = tessel::registry2::key(bench.get()).open(L"many", false);
    rounds_of bare, layer;
    for (int round = 0; round < rounds; ++round) {
        double bare_seconds = 0, layer_seconds = 0;
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn == 0) == (round % 2 == 0)) {
                start = seconds_now();
                const unsigned seen = bare_loop(many.get());
                bare_seconds = seconds_now() - start;
                if (seen != count)
                    std::printf("bare loop saw %u subkeys\n", seen);
            } else {
                start = seconds_now();
                const std::set<std::wstring> names = listed.subkey_names();
                layer_seconds = seconds_now() - start; // the set is freed after the clock stops
                if (names.size() != count)
                    std::printf("subkey_names gave %u names\n", unsigned(names.size()));
            }
        }
        bare.seconds.push_back(bare_seconds);
        layer.seconds.push_back(layer_seconds);
        std::printf("round %d: RegEnumKeyExW loop %.3f s, subkey_names %.3f s, ratio %.3f\n", round + 1,
                    bare_seconds, layer_seconds, layer_seconds / bare_seconds);
    }
    std::printf("best: RegEnumKeyExW loop %.3f s (%.1f us a key), subkey_names %.3f s (%.1f us a key), ratio %.3f\n",
                bare.best(), bare.best() * 1e6 / count, layer.best(), layer.best() * 1e6 / count,
                layer.best() / bare.best());
    std::printf("median: RegEnumKeyExW loop %.3f s, subkey_names %.3f s, ratio %.3f\n", bare.median(),
                layer.median(), layer.median() / bare.median());
    std::printf("goal: ratio subkey_names / RegEnumKeyExW loop at most 1.3\n");

    start = seconds_now();
    remove_subkeys(many.get(), count);
    RegDeleteTreeW(HKEY_CURRENT_USER, bench_path);
    std::printf("removed the subkeys in %.2f s\n", seconds_now() - start);
    return 0;
}
