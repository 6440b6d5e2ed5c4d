// The installer database cleaners' search for root stores, which visits the
// whole registry below its roots, against a bare recursive RegEnumKeyExW walk
// of the same roots, in the same run.
//
//   installer_db_bench.exe [KEYS] [ROUNDS]      (defaults 200000 and 1)
//
// Grows the registry by KEYS keys (HKLM\SYSTEM\InstallerDbBench: 40 branches
// of KEYS/4000 keys of 100 leaves each, a place both cleaners search once, in
// either registry view), then times, ROUNDS times each and in alternating
// order, each cleaner and the bare walk of its roots. A cleaner runs for an
// upgrade code that nothing is registered under, so its time is its search.
// The bare walks prune what the cleaner's search prunes (the 64-bit view's
// "Wow6432Node", "VirtualStore", and below "Installer" keys), so both visit
// the same keys. Each round's ratio pairs a cleaner with the bare walk run
// next to it. Memory is the peak of the program's own heap during a run above
// what was in use before it. The keys are removed at the end.
#include "installer_db/cleaner.h"
#include "installer_db/registry_text.h"
#include "tessel/unique_any.h"

#include <windows.h>

#include "bench/clock.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

// ---------------------------------------------------------------- heap use --

namespace {

std::size_t heap_in_use = 0;
std::size_t heap_peak = 0;

void* counted_allocation(std::size_t size)
{
    // The size is kept in front of the block, for the release to count.
    auto* block = static_cast<std::size_t*>(std::malloc(size + sizeof(std::max_align_t)));
    if (!block)
        throw std::bad_alloc();
    *block = size;
    heap_in_use += size;
    heap_peak = std::max(heap_peak, heap_in_use);
    return reinterpret_cast<char*>(block) + sizeof(std::max_align_t);
}

void counted_release(void* memory)
{
    if (!memory)
        return;
    auto* block = reinterpret_cast<std::size_t*>(static_cast<char*>(memory) - sizeof(std::max_align_t));
    heap_in_use -= *block;
    std::free(block);
}

} // namespace

void* operator new(std::size_t size) { return counted_allocation(size); }
void* operator new[](std::size_t size) { return counted_allocation(size); }
void operator delete(void* memory) noexcept { counted_release(memory); }
void operator delete[](void* memory) noexcept { counted_release(memory); }
void operator delete(void* memory, std::size_t) noexcept { counted_release(memory); }
void operator delete[](void* memory, std::size_t) noexcept { counted_release(memory); }

namespace {

// ---------------------------------------------------------------- the tree --

using raw_key = tessel::unique_hkey;

const wchar_t bench_path[] = L"SYSTEM\\InstallerDbBench";
constexpr unsigned branches = 40;
constexpr unsigned leaves = 100;

raw_key create(HKEY parent, const std::wstring& name)
{
    HKEY key = nullptr;
    const LONG status = RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                                        nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        std::fprintf(stderr, "RegCreateKeyExW failed (%ld)\n", status);
        std::exit(2);
    }
    return raw_key(key);
}

std::wstring numbered(const wchar_t* stem, unsigned number)
{
    wchar_t name[32];
    std::swprintf(name, 32, L"%ls%05u", stem, number);
    return name;
}

unsigned products_for(unsigned keys)
{
    return std::max(1u, keys / (branches * leaves));
}

// Names like a software hive's: vendors, their products, their settings.
unsigned grow_tree(unsigned keys)
{
    const raw_key top = create(HKEY_LOCAL_MACHINE, bench_path);
    unsigned created = 1;
    for (unsigned b = 0; b < branches; ++b) {
        const raw_key vendor = create(top.get(), numbered(L"Vendor", b));
        ++created;
        for (unsigned p = 0; p < products_for(keys); ++p) {
            const raw_key product = create(vendor.get(), numbered(L"Product", p));
            ++created;
            for (unsigned l = 0; l < leaves; ++l, ++created)
                create(product.get(), numbered(L"Setting", l));
        }
    }
    return created;
}

// By name and from the last: a few times faster than RegDeleteTreeW here.
void remove_tree(unsigned keys)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, bench_path, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &opened) != ERROR_SUCCESS)
        return;
    const raw_key top(opened);
    for (unsigned b = branches; b-- > 0;) {
        const std::wstring vendor_name = numbered(L"Vendor", b);
        if (RegOpenKeyExW(top.get(), vendor_name.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &opened) !=
            ERROR_SUCCESS)
            continue;
        const raw_key vendor(opened);
        for (unsigned p = products_for(keys); p-- > 0;) {
            const std::wstring product_name = numbered(L"Product", p);
            if (RegOpenKeyExW(vendor.get(), product_name.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &opened) !=
                ERROR_SUCCESS)
                continue;
            const raw_key product(opened);
            for (unsigned l = leaves; l-- > 0;)
                RegDeleteKeyExW(product.get(), numbered(L"Setting", l).c_str(), KEY_WOW64_64KEY, 0);
            RegDeleteKeyExW(vendor.get(), product_name.c_str(), KEY_WOW64_64KEY, 0);
        }
        RegDeleteKeyExW(top.get(), vendor_name.c_str(), KEY_WOW64_64KEY, 0);
    }
    // Whatever another run left with other sizes.
    RegDeleteTreeW(top.get(), nullptr);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, bench_path, KEY_WOW64_64KEY, 0);
}

// --------------------------------------------------------------- the walks --

using installer_db_detail::is_named;

// The baseline: every key opened once, its subkeys enumerated into one
// buffer, nothing kept.
struct bare_walk
{
    REGSAM view;
    bool skip_wow6432node;
    unsigned long keys = 0;

    void walk(HKEY key)
    {
        ++keys;
        wchar_t name[300];
        for (DWORD index = 0;; ++index) {
            DWORD length = 300;
            if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                return;
            if (is_named(name, length, L"installer") || is_named(name, length, L"virtualstore") ||
                (skip_wow6432node && is_named(name, length, L"wow6432node")))
                continue;
            HKEY child = nullptr;
            if (RegOpenKeyExW(key, name, 0, KEY_READ | view, &child) != ERROR_SUCCESS)
                continue;
            const raw_key owned(child);
            walk(child);
        }
    }

    void walk_root(HKEY root, REGSAM root_view)
    {
        HKEY opened = nullptr;
        if (RegOpenKeyExW(root, L"", 0, KEY_READ | root_view, &opened) != ERROR_SUCCESS)
            return;
        const raw_key owned(opened);
        walk(opened);
    }
};

// The 64-bit cleaner's roots: HKLM, HKCU and HKU in the 64-bit view.
unsigned long walk_64_roots()
{
    bare_walk walker{KEY_WOW64_64KEY, true};
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_USERS})
        walker.walk_root(root, KEY_WOW64_64KEY);
    return walker.keys;
}

// The 32-bit cleaner's roots in the process's own view, the machine's root
// itself opened in the 64-bit view.
unsigned long walk_32_roots()
{
    bare_walk walker{0, false};
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_USERS})
        walker.walk_root(root, 0);
    walker.walk_root(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY);
    return walker.keys;
}

// A whole cleaning for an upgrade code that nothing is registered under: its
// search, and a few opens that find nothing.
const wchar_t nothing_registered[] = L"{00000000-0000-0000-0000-000000000000}";

unsigned long clean_64()
{
    clean_installer_database64(nothing_registered);
    return 0;
}

unsigned long clean_32()
{
    clean_installer_database32(nothing_registered);
    return 0;
}

// ------------------------------------------------------------- the figures --

struct measured
{
    std::vector<double> seconds;
    std::size_t heap = 0;  // largest peak above the heap in use before a run
    unsigned long keys = 0;

    template<class Run>
    void time(Run run)
    {
        const std::size_t before = heap_in_use;
        heap_peak = heap_in_use;
        const double start = seconds_now();
        const unsigned long visited = run();
        seconds.push_back(seconds_now() - start);
        heap = std::max(heap, heap_peak - before);
        if (visited)
            keys = visited;
    }

    double best() const { return *std::min_element(seconds.begin(), seconds.end()); }
};

// Each round's cleaner against the bare walk next to it, so that a burst of
// other load on the machine falls mostly on both.
void report(const char* name, const measured& cleaner, const measured& bare)
{
    std::vector<double> ratios;
    for (std::size_t i = 0; i < cleaner.seconds.size(); ++i)
        ratios.push_back(cleaner.seconds[i] / bare.seconds[i]);
    std::printf("%s cleaner: median ratio %.2f over %zu rounds, best %.2f s against best %.2f s (%.2f);"
                " bare walk of %lu keys at %.0f keys/s; heap peak cleaner %zu bytes, bare walk %zu bytes\n",
                name, median(ratios), ratios.size(), cleaner.best(), bare.best(), cleaner.best() / bare.best(),
                bare.keys, bare.keys / bare.best(), cleaner.heap, bare.heap);
}

} // namespace

int main(int argc, char** argv)
{
    const unsigned keys = argc > 1 ? unsigned(std::strtoul(argv[1], nullptr, 10)) : 200000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;

    remove_tree(keys);
    double start = seconds_now();
    const unsigned created = grow_tree(keys);
    std::printf("created %u keys in %.2f s\n", created, seconds_now() - start);
    std::fflush(stdout);

    measured bare64, cleaner64, bare32, cleaner32;
    auto run_bare64 = [&] { bare64.time(walk_64_roots); };
    auto run_bare32 = [&] { bare32.time(walk_32_roots); };
    auto run_cleaner64 = [&] { cleaner64.time(clean_64); };
    auto run_cleaner32 = [&] { cleaner32.time(clean_32); };
    for (int round = 0; round < rounds; ++round) {
        // The order alternates, so that neither side always runs first.
        if (round % 2 == 0) {
            run_bare64(), run_cleaner64(), run_cleaner32(), run_bare32();
        } else {
            run_cleaner64(), run_bare64(), run_bare32(), run_cleaner32();
        }
        std::printf("round %d: 64 cleaner %.2f s, bare %.2f s (%.2f); 32 cleaner %.2f s, bare %.2f s (%.2f)\n",
                    round + 1, cleaner64.seconds.back(), bare64.seconds.back(),
                    cleaner64.seconds.back() / bare64.seconds.back(), cleaner32.seconds.back(),
                    bare32.seconds.back(), cleaner32.seconds.back() / bare32.seconds.back());
        std::fflush(stdout);
    }
    report("64", cleaner64, bare64);
    report("32", cleaner32, bare32);

    start = seconds_now();
    remove_tree(keys);
    std::printf("removed the keys in %.2f s\n", seconds_now() - start);
    return 0;
}
