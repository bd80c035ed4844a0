// The file operations on POSIX systems.
#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace kv {

namespace {

constexpr const char* kSaveFailed = "Save failed - disk I/O error";
constexpr int kMaxLinkHops = 40;

// Closes the descriptor on every way out.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }
    // Closes now; false when the close reports a failed write.
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

// The file that a path names once every symbolic link on the way is followed.
struct LinkTarget {
    std::string path;
    bool exists = false;
    struct stat info {}; // filled when the file exists
};

// Fails when a link cannot be read, the links go round in circles, or the file cannot be looked at.
Parsed<LinkTarget> FollowLinks(const std::string& path) {
    LinkTarget target{path};
    for (int hops = 0;; ++hops) {
        if (::lstat(target.path.c_str(), &target.info) != 0) {
            if (errno != ENOENT) return ParseError{kSaveFailed};
            target.exists = false;
            return target;
        }
        if (!S_ISLNK(target.info.st_mode)) {
            target.exists = true;
            return target;
        }
        std::error_code ec;
        const std::filesystem::path link = std::filesystem::read_symlink(target.path, ec);
        if (ec || hops == kMaxLinkHops) return ParseError{"Cannot follow the link " + path};
        target.path =
            link.is_absolute() ? link.string() : (std::filesystem::path(target.path).parent_path() / link).string();
    }
}

// Writes all of `bytes`, going on after interrupted writes; false when a write fails or writes
// nothing.
bool WriteToDescriptor(int fd, const std::vector<std::uint8_t>& bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

class PosixHeldFile final : public HeldFile {
public:
    explicit PosixHeldFile(int fd) : fd_(fd) {}
    ~PosixHeldFile() override { ::close(fd_); }
    PosixHeldFile(const PosixHeldFile&) = delete;
    PosixHeldFile& operator=(const PosixHeldFile&) = delete;
    bool Append(const std::vector<std::uint8_t>& bytes) override {
        return WriteToDescriptor(fd_, bytes) && ::fdatasync(fd_) == 0;
    }

private:
    int fd_;
};

} // namespace

std::string SaveFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    if (path.empty()) return "No file name given";
    const Parsed<LinkTarget> link = FollowLinks(path);
    if (!link) return link.Error();
    const std::string& target = link->path;
    const bool exists = link->exists;
    const struct stat& info = link->info;
    if (exists && !S_ISREG(info.st_mode)) return "Not a regular file: " + path;

    // Beside the target, so that the rename stays on its file system. O_EXCL: whatever already
    // has that name is never overwritten.
    const std::string temporary = target + ".kvtmp";
    Descriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (file.Get() < 0) {
        if (errno == EEXIST) return "Save failed - " + temporary + " is in the way";
        return kSaveFailed;
    }
    bool ok = true;
    if (exists) {
        // Owner first: a change of owner clears the set-id bits that the mode then restores. A
        // user who may not give the file away keeps it as their own.
        (void)::fchown(file.Get(), info.st_uid, info.st_gid);
        ok = ::fchmod(file.Get(), info.st_mode & 07777) == 0;
    }
    ok = ok && WriteToDescriptor(file.Get(), bytes) && ::fsync(file.Get()) == 0;
    ok = file.Close() && ok;
    ok = ok && ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temporary.c_str());
        return kSaveFailed;
    }
    // The new name on disk too; a folder that cannot be synced keeps the file all the same.
    SyncFolder(std::filesystem::path(target).parent_path().string());
    return {};
}

Parsed<std::vector<std::uint8_t>> ReadRegularFile(const std::string& path, std::size_t maxBytes) {
    if (path.empty()) return ParseError{"Failed to open file"};
    // Non-blocking, so that opening a pipe without a writer does not wait for one.
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.Get() < 0) return ParseError{"Failed to open file"};
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0) return ParseError{"Failed to open file"};
    if (!S_ISREG(info.st_mode)) return ParseError{"Not a regular file: " + path};
    constexpr std::size_t kChunk = 65536;
    std::vector<std::uint8_t> bytes;
    // Room for the size the file has now and the read that finds its end, in one allocation.
    bytes.reserve(std::min(static_cast<std::size_t>(info.st_size), maxBytes) + kChunk);
    for (;;) {
        const std::size_t used = bytes.size();
        bytes.resize(used + kChunk);
        const ssize_t n = ::read(file.Get(), bytes.data() + used, kChunk);
        if (n < 0 && errno == EINTR) {
            bytes.resize(used);
            continue;
        }
        if (n < 0) return ParseError{"Error when reading file"};
        bytes.resize(used + static_cast<std::size_t>(n));
        if (n == 0) return bytes;
        if (bytes.size() > maxBytes) return ParseError{"The file is too large: " + path};
    }
}

std::unique_ptr<HeldFile> HeldFile::Create(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    // flock locks belong to the open file: a second open of the same file, even in this
    // process, does not get the lock.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<PosixHeldFile>(fd);
}

bool IsDeviceOrPipe(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
}

bool IsFileFree(const std::string& path) {
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    return file.Get() >= 0 && ::flock(file.Get(), LOCK_EX | LOCK_NB) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) { return ::rename(from.c_str(), to.c_str()) == 0; }

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0 || errno == ENOENT; }

void SyncFolder(const std::string& folder) {
    Descriptor dir(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0) (void)::fsync(dir.Get());
}

long ProcessId() { return static_cast<long>(::getpid()); }

std::string UserCacheFolder() {
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg && std::filesystem::path(xdg).is_absolute())
        return xdg;
    if (const char* home = std::getenv("HOME"); home && *home && std::filesystem::path(home).is_absolute())
        return (std::filesystem::path(home) / ".cache").string();
    return {};
}

} // namespace kv
