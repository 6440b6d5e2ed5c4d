#include <algorithm>

#include "tessel/format.h"
#include "tessel/log/log.h"
#include "tessel/system_error_text.h"

namespace tessel::log {

namespace {

const char byte_order_mark[] = "\xEF\xBB\xBF";
constexpr DWORD byte_order_mark_size = sizeof byte_order_mark - 1;

// Kernel object names may not hold backslashes past the namespace prefix.
std::string lock_name_of(const std::string& base_name)
{
    std::string name = "log-" + base_name;
    std::replace(name.begin(), name.end(), '\\', '_');
    return name;
}

void write_bytes(HANDLE handle, const char* bytes, DWORD size)
{
    DWORD written = 0;
    WriteFile(handle, bytes, size, &written, nullptr);
}

} // namespace

file::file(const std::string& base_name, std::uint32_t max_size, std::uint32_t keep)
    : lock_(lock_name_of(base_name)),
      base_name_(base_name),
      max_size_(max_size),
      keep_(keep),
      handle_(open(live_name()))
{
    // Under the lock: two processes that open a new file at once must not
    // both write the mark.
    tessel::scope guard(&lock_);
    LARGE_INTEGER size;
    if (GetFileSizeEx(handle_.get(), &size) && size.QuadPart == 0)
        write_bytes(handle_.get(), byte_order_mark, byte_order_mark_size);
    guard.release();
}

file::~file() = default;

HANDLE file::open(const std::string& name)
{
    // Shared for reading, writing and deletion, so that other processes can
    // log to the same file, and read, move or delete it meanwhile. Systems
    // that know no delete sharing refuse the flag: then without it.
    const DWORD sharing[] = {FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE};
    for (DWORD share : sharing) {
        HANDLE handle = CreateFileA(name.c_str(), GENERIC_WRITE, share, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE)
            return handle;
    }
    throw generic("CreateFile failed: " + tessel::system_error_text(GetLastError()));
}

std::string file::live_name() const { return base_name_ + ".log.txt"; }

std::string file::copy_name(std::uint32_t number) const
{
    return tessel::format("%s.%u.log.txt", base_name_.c_str(), unsigned(number));
}

void file::write(int, const std::string& stamp, const std::string& text)
{
    tessel::scope guard(&lock_);
    // A file whose copy could not be made is kept whole: the line goes after
    // what it holds, and the next line tries again.
    if (reached_limit() && (keep_ == 0 || rotate()))
        start_afresh();

    // One write for the line: every process appends whole lines.
    const std::string line = stamp + text + "\r\n";
    LARGE_INTEGER start = {};
    SetFilePointerEx(handle_.get(), start, nullptr, FILE_END);
    write_bytes(handle_.get(), line.data(), DWORD(line.size()));
    // Released here rather than by the guard, so that a failed release is
    // reported to the caller.
    guard.release();
}

bool file::reached_limit() const
{
    // no_limit is no limit at all, even for a file past 4 GiB.
    if (max_size_ == no_limit)
        return false;
    LARGE_INTEGER size;
    return GetFileSizeEx(handle_.get(), &size) && std::uint64_t(size.QuadPart) >= max_size_;
}

// Saves the live file as the first free numbered copy. With every number taken,
// the copies move down by one (the oldest, 1, is dropped) and the live file
// becomes the newest, keep. The live file is copied, never moved: this handle
// and other processes' handles stay on it. Failures are not reported; false
// when no copy could be made, for instance a copy that cannot be written.
bool file::rotate() const
{
    const std::string live = live_name();
    bool shifted = false;
    for (std::uint32_t number = 1;;) {
        const std::string copy = copy_name(number);
        if (keep_ == 1)
            DeleteFileA(copy.c_str());
        if (CopyFileA(live.c_str(), copy.c_str(), TRUE))
            return true;
        if (number < keep_) {
            ++number;
            continue;
        }
        // All numbers were tried; one shift frees the last one, unless the
        // failure has another cause. Then give up instead of trying forever.
        if (shifted)
            return false;
        shift_copies();
        shifted = true;
    }
}

void file::shift_copies() const
{
    for (std::uint32_t number = 1; number < keep_; ++number) {
        if (!MoveFileExA(copy_name(number + 1).c_str(), copy_name(number).c_str(), MOVEFILE_REPLACE_EXISTING))
            return;
    }
}

void file::start_afresh() const
{
    LARGE_INTEGER start = {};
    SetFilePointerEx(handle_.get(), start, nullptr, FILE_BEGIN);
    SetEndOfFile(handle_.get());
    write_bytes(handle_.get(), byte_order_mark, byte_order_mark_size);
}

} // namespace tessel::log
