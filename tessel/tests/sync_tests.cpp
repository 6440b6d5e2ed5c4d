// Locks and shared ownership. The cross-process cases start copies of this
// program with a role argument:
//   sync_tests.exe --count-under MUTEX ROUNDS   add to a shared counter under the mutex
//   sync_tests.exe --abandon MUTEX              take the mutex and end without releasing it
#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tessel/mutex.h"
#include "tessel/reference_counting/strong_ptr.h"
#include "tessel/unique_any.h"

namespace {

// ---------------------------------------------------------------- helpers

using handle = tessel::unique_handle;

void unmap_view(void* view) { UnmapViewOfFile(view); }
using unique_view = tessel::unique_any<void*, unmap_view>;

// A name that no earlier run or other test program has used.
std::string unique_name(const char* what)
{
    return std::string("tessel-sync-") + what + "-" + std::to_string(GetCurrentProcessId());
}

// State both processes touch inside the mutex.
struct shared_counter
{
    volatile LONG inside;   // 1 while someone is between acquire and release
    volatile LONG overlaps; // times someone found it already 1
    volatile LONG count;    // incremented by read, pause, write
};

class shared_view
{
public:
    explicit shared_view(const std::string& name)
        : mapping_(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      sizeof(shared_counter), ("Local\\" + name + "-counter").c_str())),
          view_(mapping_ ? MapViewOfFile(mapping_.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0) : nullptr)
    {
    }
    shared_counter* get() const { return static_cast<shared_counter*>(view_.get()); }

private:
    handle mapping_;
    unique_view view_;
};

void count_under(tessel::real_mutex& lock, shared_counter& counter, int rounds)
{
    for (int i = 0; i < rounds; ++i) {
        tessel::scope guard(&lock);
        if (counter.inside)
            counter.overlaps = counter.overlaps + 1;
        counter.inside = 1;
        LONG seen = counter.count;
        Sleep(i % 3 == 0 ? 1 : 0);  // give the other process every chance to interleave
        counter.count = seen + 1;
        counter.inside = 0;
    }
}

std::string own_path()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

struct child
{
    PROCESS_INFORMATION info = {};
    handle process, thread;

    explicit child(const std::string& arguments)
    {
        std::string command = "\"" + own_path() + "\" " + arguments;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                           &info)) {
            process.reset(info.hProcess);
            thread.reset(info.hThread);
        }
    }

    DWORD wait_exit_code(DWORD milliseconds = 60000)
    {
        if (WaitForSingleObject(process.get(), milliseconds) != WAIT_OBJECT_0) {
            TerminateProcess(process.get(), 99);
            return 99;
        }
        DWORD code = 99;
        GetExitCodeProcess(process.get(), &code);
        return code;
    }
};

// ---------------------------------------------------------------- real_mutex

TEST(real_mutex, plain_name_lives_in_the_global_namespace)
{
    const std::string name = unique_name("plain");
    tessel::real_mutex lock(name);
    EXPECT_EQ("Global\\" + name, lock.name());
    handle global(OpenMutexA(SYNCHRONIZE, FALSE, ("Global\\" + name).c_str()));
    EXPECT_TRUE(global);
    handle local(OpenMutexA(SYNCHRONIZE, FALSE, name.c_str()));
    EXPECT_FALSE(local) << "the session's own namespace must not hold it";
}

TEST(real_mutex, name_with_backslash_is_used_unchanged)
{
    const std::string name = "Local\\" + unique_name("local");
    tessel::real_mutex lock(name);
    EXPECT_EQ(name, lock.name());
    handle same(OpenMutexA(SYNCHRONIZE, FALSE, name.c_str()));
    EXPECT_TRUE(same);
    handle prefixed(OpenMutexA(SYNCHRONIZE, FALSE, ("Global\\" + name).c_str()));
    EXPECT_FALSE(prefixed);
}

TEST(real_mutex, two_objects_of_one_name_share_the_lock)
{
    const std::string name = unique_name("shared");
    tessel::real_mutex first(name), second(name);
    ASSERT_TRUE(first.acquire());
    std::atomic<bool> taken{false};
    std::thread other([&] {
        tessel::scope guard(&second);
        taken = true;
    });
    Sleep(200);
    EXPECT_FALSE(taken) << "the second object took a lock the first one holds";
    first.release();
    other.join();
    EXPECT_TRUE(taken);
}

TEST(real_mutex, two_processes_never_overlap_inside)
{
    const std::string name = unique_name("count");
    shared_view view(name);
    ASSERT_NE(nullptr, view.get());
    tessel::real_mutex lock(name);

    const int rounds = 150;
    // Hold the lock while the copy starts, so both begin contending together.
    DWORD exit_code;
    {
        tessel::scope start(&lock);
        child copy("--count-under " + name + " " + std::to_string(rounds));
        ASSERT_TRUE(copy.process);
        handle ready(CreateEventA(nullptr, TRUE, FALSE, ("Local\\" + name + "-ready").c_str()));
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready.get(), 60000));
        start.release();
        count_under(lock, *view.get(), rounds);
        exit_code = copy.wait_exit_code();
    }
    EXPECT_EQ(0u, exit_code);
    EXPECT_EQ(0, view.get()->overlaps);
    EXPECT_EQ(2 * rounds, view.get()->count);
}

TEST(real_mutex, abandoned_by_a_dead_owner_is_acquired)
{
    const std::string name = unique_name("abandon");
    tessel::real_mutex lock(name);
    child copy("--abandon " + name);
    ASSERT_TRUE(copy.process);
    ASSERT_EQ(0u, copy.wait_exit_code());
    EXPECT_TRUE(lock.acquire());
    lock.release();
    // And it works as an ordinary lock afterwards.
    EXPECT_TRUE(lock.acquire());
    lock.release();
}

TEST(real_mutex, failures_raise_with_the_system_error)
{
    // The name is taken by an event: neither creating nor opening a mutex works.
    const std::string name = unique_name("event");
    handle event(CreateEventA(nullptr, TRUE, FALSE, ("Global\\" + name).c_str()));
    ASSERT_TRUE(event);
    try {
        tessel::real_mutex lock(name);
        FAIL() << "nothing raised";
    } catch (const tessel::exception& e) {
        EXPECT_STREQ("[OpenMutex returned 0x00000006]", e.what());
    }

    tessel::real_mutex lock(unique_name("not-owned"));
    try {
        lock.release();
        FAIL() << "nothing raised";
    } catch (const tessel::exception& e) {
        EXPECT_STREQ("[ReleaseMutex returned 0x00000120]", e.what());  // ERROR_NOT_OWNER
    }
}

// Why the opening fallback asks for SYNCHRONIZE: a handle with the right to
// release alone cannot be waited on.
TEST(real_mutex, waiting_needs_synchronize_access)
{
    const std::string name = "Global\\" + unique_name("access");
    handle created(CreateMutexA(nullptr, FALSE, name.c_str()));
    handle modify_only(OpenMutexA(MUTEX_MODIFY_STATE, FALSE, name.c_str()));
    ASSERT_TRUE(modify_only);
    EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(modify_only.get(), 0));
    handle both(OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name.c_str()));
    ASSERT_TRUE(both);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(both.get(), 0));
    EXPECT_TRUE(ReleaseMutex(both.get()));
}

// ---------------------------------------------------------------- mutex, scope

TEST(mutex, owner_takes_it_again_and_others_wait_for_the_last_release)
{
    tessel::mutex lock;
    ASSERT_TRUE(lock.acquire());
    ASSERT_TRUE(lock.acquire());
    std::atomic<bool> taken{false};
    std::thread other([&] {
        tessel::scope guard(&lock);
        taken = true;
    });
    Sleep(100);
    EXPECT_FALSE(taken);
    lock.release();
    Sleep(100);
    EXPECT_FALSE(taken) << "still held once by its owner";
    lock.release();
    other.join();
    EXPECT_TRUE(taken);
}

// Records what a scope does to the lock it guards.
struct recording_lock : tessel::scope_semantics
{
    int acquired = 0, released = 0;
    bool grant = true;
    bool acquire() override
    {
        ++acquired;
        return grant;
    }
    void release() override { ++released; }
};

TEST(scope, holds_from_construction_to_destruction)
{
    recording_lock lock;
    {
        tessel::scope guard(&lock);
        EXPECT_EQ(1, lock.acquired);
        EXPECT_EQ(0, lock.released);
    }
    EXPECT_EQ(1, lock.released);
}

TEST(scope, early_release_is_not_repeated)
{
    recording_lock lock;
    {
        tessel::scope guard(&lock);
        guard.release();
        guard.release();
        EXPECT_EQ(1, lock.released);
    }
    EXPECT_EQ(1, lock.released);
}

TEST(scope, lock_that_was_not_granted_is_not_released)
{
    recording_lock lock;
    lock.grant = false;
    { tessel::scope guard(&lock); }
    EXPECT_EQ(1, lock.acquired);
    EXPECT_EQ(0, lock.released);
}

TEST(scope, null_guards_nothing)
{
    tessel::scope guard(nullptr);
    EXPECT_FALSE(guard.acquire());
    guard.release();
}

TEST(scope, failed_release_does_not_escape_the_destructor)
{
    tessel::real_mutex lock(unique_name("scope-release"));
    EXPECT_NO_THROW({
        tessel::scope guard(&lock);
        lock.release();  // the guard's own release now fails: not the owner
    });
}

// ---------------------------------------------------------------- strong_ptr

using tessel::reference_counting::strong_ptr;

struct counted : tessel::reference_counting::base<counted>
{
    explicit counted(std::atomic<int>& destroyed) : destroyed_(destroyed) {}
    ~counted() override { ++destroyed_; }
    std::atomic<int>& destroyed_;
    int value = 7;
};

struct derived_counted : counted
{
    using counted::counted;
};

TEST(strong_ptr, last_of_three_copies_destroys_once)
{
    std::atomic<int> destroyed{0};
    auto* first = new strong_ptr<counted>(new counted(destroyed));
    auto* second = new strong_ptr<counted>(*first);
    auto* third = new strong_ptr<counted>(*second);
    delete first;
    delete third;
    EXPECT_EQ(0, destroyed);
    EXPECT_EQ(7, (*second)->value);
    delete second;
    EXPECT_EQ(1, destroyed);
}

TEST(strong_ptr, assignment_moves_and_resets_keep_the_count)
{
    std::atomic<int> destroyed{0};
    strong_ptr<counted> a(new counted(destroyed));
    strong_ptr<counted> b;
    b = a;
    b = b;  // self-assignment keeps the share
    strong_ptr<counted> c(std::move(b));
    EXPECT_FALSE(b);
    a = new counted(destroyed);  // the first object still has c
    EXPECT_EQ(0, destroyed);
    c.reset();
    EXPECT_EQ(1, destroyed);
    strong_ptr<counted> from_derived = strong_ptr<derived_counted>(new derived_counted(destroyed));
    EXPECT_EQ(1, destroyed);
    from_derived.reset();
    a.reset();
    EXPECT_EQ(3, destroyed);
}

TEST(strong_ptr, copies_on_many_threads_destroy_exactly_once)
{
    for (int round = 0; round < 50; ++round) {
        std::atomic<int> destroyed{0};
        strong_ptr<counted> shared(new counted(destroyed));
        std::atomic<bool> go{false};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&, mine = shared]() mutable {
                while (!go) {
                }
                for (int i = 0; i < 2000; ++i) {
                    strong_ptr<counted> copy(mine);
                    strong_ptr<counted> another = copy;
                    if (destroyed != 0)
                        ADD_FAILURE() << "destroyed while shares remain";
                }
                mine.reset();  // the threads race for the last share
            });
        }
        shared.reset();
        go = true;
        for (std::thread& t : threads)
            t.join();
        ASSERT_EQ(1, destroyed) << "round " << round;
    }
}

TEST(strong_ptr, back_references_are_cleared_when_the_object_dies)
{
    std::atomic<int> destroyed{0};
    strong_ptr<counted> owner(new counted(destroyed));
    counted* watching = owner.get();
    counted* withdrawn = owner.get();
    owner->add_back_reference(&watching);
    owner->add_back_reference(&withdrawn);
    owner->remove_back_reference(&withdrawn);
    owner.reset();
    EXPECT_EQ(nullptr, watching);
    EXPECT_NE(nullptr, withdrawn) << "a removed slot is left alone";
}

TEST(strong_ptr, null_dereference_raises)
{
    strong_ptr<counted> empty;
    try {
        (void)empty->value;
        FAIL() << "nothing raised";
    } catch (const tessel::reference_counting::generic& e) {
        EXPECT_STREQ("generic[null pointer in dereference]", e.what());
    }
    EXPECT_THROW(*empty, tessel::reference_counting::generic);
}

// ---------------------------------------------------------------- child roles

int count_under_role(const std::string& name, int rounds)
{
    shared_view view(name);
    if (!view.get())
        return 2;
    tessel::real_mutex lock(name);
    handle ready(CreateEventA(nullptr, TRUE, FALSE, ("Local\\" + name + "-ready").c_str()));
    SetEvent(ready.get());
    count_under(lock, *view.get(), rounds);
    return 0;
}

int abandon_role(const std::string& name)
{
    tessel::real_mutex lock(name);
    if (!lock.acquire())
        return 2;
    ExitProcess(0);  // still the owner
}

} // namespace

int main(int argc, char** argv)
{
    try {
        if (argc == 4 && std::strcmp(argv[1], "--count-under") == 0)
            return count_under_role(argv[2], std::atoi(argv[3]));
        if (argc == 3 && std::strcmp(argv[1], "--abandon") == 0)
            return abandon_role(argv[2]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 3;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
