#pragma once
// Whole-file reads and writes of the program and the tool. A save never costs the file that was
// there: the bytes go to a new file beside it, which then takes its place in one step. Failures
// are texts to show; an empty save text means the bytes are where the caller said.
#include "platform/parsed.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kv {

// Writes all of `bytes` to an open file descriptor, going on after interrupted writes; false when
// a write fails or writes nothing.
bool WriteToDescriptor(int fd, const std::vector<std::uint8_t>& bytes);

// Writes `bytes` as the whole content of `path`. A symbolic link is followed to the file it names
// (the link stays); the file keeps its permission bits. Anything that is not a regular file
// (a folder, a device, a pipe, a socket) is refused and left as it is.
std::string SaveFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes);

// The whole of a regular file of at most `maxBytes` bytes. Refuses anything else, without reading
// more than `maxBytes` + 1 bytes.
Parsed<std::vector<std::uint8_t>> ReadRegularFile(const std::string& path, std::size_t maxBytes);

// A 64-bit fingerprint of a file's content (FNV-1a over the bytes and the length): two contents
// with the same fingerprint are taken for the same file.
std::uint64_t ContentFingerprint(const std::vector<std::uint8_t>& bytes);

} // namespace kv
