// The file operations on Windows: wide-character calls on UTF-8 paths, saves through a flushed
// temporary file that replaces the old one in one step, and journal locks with LockFileEx.
#include "platform/file_io.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>

namespace kv {

namespace {

constexpr const char* kSaveFailed = "Save failed - disk I/O error";

// The lock of a held file: one byte far past any content, so that it never stops a read.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

std::wstring Wide(const std::string& utf8) { return PathFromUtf8(utf8).wstring(); }

// Closes the handle on every way out.
class Handle {
public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() {
        if (Valid()) ::CloseHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool Valid() const { return h_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return h_; }
    // Closes now; false when the close fails.
    bool Close() {
        const HANDLE h = h_;
        h_ = INVALID_HANDLE_VALUE;
        return ::CloseHandle(h) != 0;
    }

private:
    HANDLE h_;
};

bool WriteAll(HANDLE file, const std::vector<std::uint8_t>& bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - written, 1U << 30));
        DWORD n = 0;
        if (!::WriteFile(file, bytes.data() + written, chunk, &n, nullptr) || n == 0) return false;
        written += n;
    }
    return true;
}

OVERLAPPED LockRange() {
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    return at;
}

bool Lock(HANDLE file) {
    OVERLAPPED at = LockRange();
    return ::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

class WindowsHeldFile final : public HeldFile {
public:
    explicit WindowsHeldFile(HANDLE h) : file_(h) {}
    bool Append(const std::vector<std::uint8_t>& bytes) override {
        LARGE_INTEGER end{};
        return ::SetFilePointerEx(file_.Get(), end, nullptr, FILE_END) && WriteAll(file_.Get(), bytes) &&
               ::FlushFileBuffers(file_.Get());
    }

private:
    Handle file_;
};

// What an existing path names, looked at without following a reparse point.
enum class Existing { None, RegularFile, Other, Unknown };

Existing Look(const std::wstring& path) {
    Handle h(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h.Valid()) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Existing::None : Existing::Unknown;
    }
    if (::GetFileType(h.Get()) != FILE_TYPE_DISK) return Existing::Other; // a device or a pipe
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h.Get(), &info)) return Existing::Unknown;
    if (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE))
        return Existing::Other;
    return Existing::RegularFile;
}

} // namespace

std::string SaveFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    if (path.empty()) return "No file name given";
    const std::wstring target = Wide(path);
    const Existing existing = Look(target);
    if (existing == Existing::Other) return "Not a regular file: " + path;
    if (existing == Existing::Unknown) return kSaveFailed;

    // Beside the target, so that the replacement stays on its volume. CREATE_NEW: whatever
    // already has that name is never overwritten.
    const std::string temporary = path + ".kvtmp";
    const std::wstring wideTemporary = Wide(temporary);
    Handle file(
        ::CreateFileW(wideTemporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        if (::GetLastError() == ERROR_FILE_EXISTS) return "Save failed - " + temporary + " is in the way";
        return kSaveFailed;
    }
    bool ok = WriteAll(file.Get(), bytes) && ::FlushFileBuffers(file.Get());
    ok = file.Close() && ok;
    if (ok) {
        // ReplaceFileW keeps the old file's attributes; where it cannot work (Wine on a folder of
        // the host, for one) a written-through move takes its place. Neither replaces a
        // read-only file: the save fails and the old file stays whole.
        const auto move = [&] {
            return ::MoveFileExW(wideTemporary.c_str(), target.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
        };
        ok = existing == Existing::RegularFile
                 ? ::ReplaceFileW(target.c_str(), wideTemporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                                  nullptr, nullptr) != 0 ||
                       (::GetLastError() != ERROR_ACCESS_DENIED && move())
                 : move();
    }
    if (!ok) {
        ::DeleteFileW(wideTemporary.c_str());
        return kSaveFailed;
    }
    return {};
}

Parsed<std::vector<std::uint8_t>> ReadRegularFile(const std::string& path, std::size_t maxBytes) {
    if (path.empty()) return ParseError{"Failed to open file"};
    Handle file(::CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.Valid()) return ParseError{"Failed to open file"};
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(file.Get()) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file.Get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)))
        return ParseError{"Not a regular file: " + path};
    constexpr DWORD kChunk = 65536;
    const std::uint64_t size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    std::vector<std::uint8_t> bytes;
    // Room for the size the file has now and the read that finds its end, in one allocation.
    bytes.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(size, maxBytes)) + kChunk);
    for (;;) {
        const std::size_t used = bytes.size();
        bytes.resize(used + kChunk);
        DWORD n = 0;
        if (!::ReadFile(file.Get(), bytes.data() + used, kChunk, &n, nullptr))
            return ParseError{"Error when reading file"};
        bytes.resize(used + n);
        if (n == 0) return bytes;
        if (bytes.size() > maxBytes) return ParseError{"The file is too large: " + path};
    }
}

std::unique_ptr<HeldFile> HeldFile::Create(const std::string& path) {
    // Shared like a POSIX file: others may open it, and rename or remove it (the journal renames
    // its new file while it holds it); the lock is what tells a held file.
    const HANDLE h = ::CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    if (!Lock(h)) {
        ::CloseHandle(h);
        ::DeleteFileW(Wide(path).c_str());
        return nullptr;
    }
    return std::make_unique<WindowsHeldFile>(h);
}

bool IsDeviceOrPipe(const std::string& path) {
    Handle h(::CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h.Valid()) return false;
    if (::GetFileType(h.Get()) != FILE_TYPE_DISK) return true;
    BY_HANDLE_FILE_INFORMATION info{};
    return ::GetFileInformationByHandle(h.Get(), &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DEVICE);
}

bool IsFileFree(const std::string& path) {
    Handle h(::CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.Valid() || !Lock(h.Get())) return false;
    OVERLAPPED at = LockRange();
    ::UnlockFileEx(h.Get(), 0, 1, 0, &at);
    return true;
}

bool RenameFile(const std::string& from, const std::string& to) {
    return ::MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool RemoveFile(const std::string& path) {
    if (::DeleteFileW(Wide(path).c_str())) return true;
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The volume keeps its own metadata journal; the moves above are written through.
void SyncFolder(const std::string&) {}

long ProcessId() { return static_cast<long>(::GetCurrentProcessId()); }

std::string UserCacheFolder() {
    const wchar_t* local = ::_wgetenv(L"LOCALAPPDATA");
    if (!local || !*local || !std::filesystem::path(local).is_absolute()) return {};
    return PathToUtf8(std::filesystem::path(local));
}

} // namespace kv
