#pragma once
// Whole-file reads and writes of the program and the tool. A save never costs the file that was
// there: the bytes go to a new file beside it, which then takes its place in one step. Failures
// are texts to show; an empty save text means the bytes are where the caller said.
#include "platform/parsed.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace kv {

// Paths are UTF-8 text everywhere in the program. On Windows they reach the system through its
// wide-character calls, so a name such as "Zündung ö.bin" is the same file in every call.
std::filesystem::path PathFromUtf8(const std::string& utf8);
std::string PathToUtf8(const std::filesystem::path& path);

// Writes `bytes` as the whole content of `path`: into a new file beside it, flushed to disk, that
// then takes the old file's place in one step; on any failure the old file stays as it was.
// POSIX: a symbolic link is followed to the file it names (the link stays) and the file keeps its
// owner and permission bits. Windows: the file keeps its attributes; a read-only file is not
// replaced, and a reparse point (a symbolic link or junction) is refused. Anything that is not a
// regular file (a folder, a device, a pipe, a socket) is refused and left as it is.
std::string SaveFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes);

// The whole of a regular file of at most `maxBytes` bytes. Refuses anything else, without reading
// more than `maxBytes` + 1 bytes.
Parsed<std::vector<std::uint8_t>> ReadRegularFile(const std::string& path, std::size_t maxBytes);

// A 64-bit fingerprint of a file's content (FNV-1a over the bytes and the length): two contents
// with the same fingerprint are taken for the same file.
std::uint64_t ContentFingerprint(const std::vector<std::uint8_t>& bytes);

// A file that one open handle appends to and holds. While it is open no other handle, of this
// process or another, can take its lock, so that a second running copy of the program can tell
// a file in use from one left behind. The lock covers no byte of the content: others may read it.
class HeldFile {
public:
    // Creates `path`, which must not exist yet, and takes its lock; null when either fails.
    static std::unique_ptr<HeldFile> Create(const std::string& path);
    virtual ~HeldFile() = default; // closes the file; the lock goes with it
    // Appends all of `bytes` and flushes them to the disk; false when that fails.
    virtual bool Append(const std::vector<std::uint8_t>& bytes) = 0;
};

// True when `path` names a device, a pipe or a socket (links followed): neither a file nor a
// folder. POSIX: a device node such as /dev/null. Windows: a device name such as NUL or COM1,
// which std::filesystem does not tell from a missing file there.
bool IsDeviceOrPipe(const std::string& path);

// True when `path` is a file that no open HeldFile holds.
bool IsFileFree(const std::string& path);
// Gives `from` the name `to`, replacing a file of that name; the new name reaches the disk.
bool RenameFile(const std::string& from, const std::string& to);
// Removes the file; true when it is gone (also when there was none).
bool RemoveFile(const std::string& path);
// Makes the folder's entries (new, renamed and removed names) durable where the system needs a
// call for that.
void SyncFolder(const std::string& folder);
// The number of this process.
long ProcessId();

// The folder where the user's cache files go, or "" when the system names none. POSIX:
// $XDG_CACHE_HOME when it is absolute, else ~/.cache. Windows: the user's local application data
// folder (%LOCALAPPDATA%).
std::string UserCacheFolder();

} // namespace kv
