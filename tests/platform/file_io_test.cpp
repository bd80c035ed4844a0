// Whole-file saves and reads, and held files, on the system the tests run on: a save never costs
// the file that was there, UTF-8 names reach the disk as they are, and what each system refuses
// is refused (a table per system where they differ).
#include "platform/file_io.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace kv {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes FileBytes(const std::string& path) {
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(PathFromUtf8(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

const Bytes kOld{1, 2, 3, 4};
const Bytes kNew{9, 8, 7};

TEST(FileIo, AUtf8NameIsSavedReadAndListedAsItIs) {
    TempDir dir;
    const std::string name = "Z\xC3\xBCndung \xC3\xB6.bin"; // "Zündung ö.bin"
    // Joined as paths from UTF-8: a std::string turned into a path directly is read in the
    // system's code page on Windows.
    const std::string path = PathToUtf8(PathFromUtf8(dir.File("")) / PathFromUtf8(name));
    ASSERT_EQ(SaveFileAtomically(path, kOld), "");
    ASSERT_EQ(SaveFileAtomically(path, kNew), "") << "a second save replaces it";
    const auto read = ReadRegularFile(path, 100);
    ASSERT_TRUE(read) << read.Error();
    EXPECT_EQ(*read, kNew);
    std::vector<std::string> listed;
    for (const auto& entry : fs::directory_iterator(PathFromUtf8(dir.File(""))))
        listed.push_back(PathToUtf8(entry.path().filename()));
    EXPECT_EQ(listed, std::vector<std::string>{name}) << "no temporary file is left, and the name is whole";
}

TEST(FileIo, ASaveThatCannotBeginLeavesTheOldFileWhole) {
    TempDir dir;
    const std::string path = dir.File("image.bin");
    WriteBytes(path, kOld);
    WriteBytes(path + ".kvtmp", {0x55});
    EXPECT_EQ(SaveFileAtomically(path, kNew), "Save failed - " + path + ".kvtmp is in the way");
    EXPECT_EQ(FileBytes(path), kOld);
    EXPECT_EQ(FileBytes(path + ".kvtmp"), Bytes{0x55}) << "what is in the way is not overwritten";

    EXPECT_NE(SaveFileAtomically(dir.File("no folder/image.bin"), kNew), "");
    EXPECT_FALSE(fs::exists(PathFromUtf8(dir.File("no folder"))));
    EXPECT_EQ(SaveFileAtomically("", kNew), "No file name given");
}

// What becomes of a save onto a file that is marked read-only.
struct ReadOnlyCase {
    bool replaced; // the new bytes are there afterwards
    bool staysReadOnly;
};
#ifdef _WIN32
// ReplaceFileW will not replace a read-only file: the save fails and the file stays as it was.
constexpr ReadOnlyCase kReadOnly{false, true};
#else
// A rename needs write access to the folder only: the file is replaced and keeps its mode.
constexpr ReadOnlyCase kReadOnly{true, true};
#endif

TEST(FileIo, ASaveOntoAReadOnlyFileFollowsTheSystemsRule) {
    TempDir dir;
    const std::string path = dir.File("locked.bin");
    WriteBytes(path, kOld);
    fs::permissions(PathFromUtf8(path), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    const std::string result = SaveFileAtomically(path, kNew);
    EXPECT_EQ(result.empty(), kReadOnly.replaced) << result;
    EXPECT_EQ(FileBytes(path), kReadOnly.replaced ? kNew : kOld);
    EXPECT_EQ((fs::status(PathFromUtf8(path)).permissions() & fs::perms::owner_write) == fs::perms::none,
              kReadOnly.staysReadOnly);
    EXPECT_FALSE(fs::exists(PathFromUtf8(path + ".kvtmp")));
    fs::permissions(PathFromUtf8(path), fs::perms::owner_write, fs::perm_options::add);
}

// Paths that are not regular files: a save refuses them and leaves them as they are.
struct NotAFile {
    const char* what;
    std::string path;
};

std::vector<NotAFile> NotFiles(const TempDir& dir) {
    fs::create_directories(PathFromUtf8(dir.File("folder")));
#ifdef _WIN32
    return {{"a folder", dir.File("folder")}, {"the null device", "NUL"}};
#else
    return {{"a folder", dir.File("folder")}, {"a device node", "/dev/null"}};
#endif
}

TEST(FileIo, WhatIsNoRegularFileIsRefused) {
    TempDir dir;
    for (const NotAFile& c : NotFiles(dir)) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(SaveFileAtomically(c.path, kNew), "Not a regular file: " + c.path);
        EXPECT_FALSE(ReadRegularFile(c.path, 100));
    }
    EXPECT_TRUE(fs::is_directory(PathFromUtf8(dir.File("folder"))));
}

TEST(FileIo, AReadStopsAtItsLimit) {
    TempDir dir;
    const std::string path = dir.File("big.bin");
    WriteBytes(path, Bytes(1000, 0xAB));
    EXPECT_EQ(ReadRegularFile(path, 1000).ValueOr({}).size(), 1000u);
    EXPECT_EQ(ReadRegularFile(path, 999).Error(), "The file is too large: " + path);
    EXPECT_EQ(ReadRegularFile(dir.File("none.bin"), 10).Error(), "Failed to open file");
}

TEST(FileIo, AHeldFileIsHeldAgainstEveryOtherHandleButCanBeReadAndRenamed) {
    TempDir dir;
    const std::string path = dir.File("held.kvj");
    std::unique_ptr<HeldFile> held = HeldFile::Create(path);
    ASSERT_TRUE(held);
    EXPECT_FALSE(HeldFile::Create(path)) << "it exists already";
    ASSERT_TRUE(held->Append(kOld));
    ASSERT_TRUE(held->Append(kNew));
    EXPECT_FALSE(IsFileFree(path)) << "held by this process";
    EXPECT_EQ(ReadRegularFile(path, 100).ValueOr({}), (Bytes{1, 2, 3, 4, 9, 8, 7}));

    const std::string renamed = dir.File("renamed.kvj");
    ASSERT_TRUE(RenameFile(path, renamed));
    EXPECT_FALSE(IsFileFree(renamed)) << "the lock goes with the file";
    ASSERT_TRUE(held->Append({5}));
    held.reset();
    EXPECT_TRUE(IsFileFree(renamed));
    EXPECT_EQ(FileBytes(renamed), (Bytes{1, 2, 3, 4, 9, 8, 7, 5}));
    EXPECT_FALSE(IsFileFree(path)) << "no file there";
    EXPECT_TRUE(RemoveFile(renamed));
    EXPECT_TRUE(RemoveFile(renamed)) << "gone already";
    EXPECT_FALSE(fs::exists(PathFromUtf8(renamed)));
}

} // namespace
} // namespace kv
