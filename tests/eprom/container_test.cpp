// The image container: file formats and offsets, patch lists and the modified state, saving
// (also when the write fails), byte and word access and the write-through to the device.
#include "eprom_test_util.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <climits>
#include <filesystem>
#include <memory>

namespace kv {

namespace {

using namespace eprom_test;
using Bytes = std::vector<std::uint8_t>;

TEST(Container, NewImageIsErasedAndUnknown) {
    EPROM image;
    EXPECT_EQ(image.ImageSize(), 16384);
    EXPECT_EQ(image.Bytes(), Bytes(16384, 0xFF));
    EXPECT_TRUE(image.IsEmptyImage());
    EXPECT_FALSE(image.HasBeenModified());
    EXPECT_EQ(image.GetKind(), 0);
    EXPECT_EQ(image.GetFileFormat(), FileFormat::None);
    EXPECT_EQ(image.GetFileName(), "");
}

struct FormatCase {
    std::size_t fileLength;
    FileFormat format;
    std::size_t bufferSize;
    std::size_t readOffset;
};

class LoadFormats : public testing::TestWithParam<FormatCase> {};

TEST_P(LoadFormats, LengthDecidesFormatAndWhichBytesAreRead) {
    const auto& c = GetParam();
    TempDir dir;
    Bytes file = Filled(c.fileLength, 9);
    WriteFile(dir.File("in.bin"), file);
    EPROM image;
    ASSERT_EQ(image.LoadFromFile(dir.File("in.bin")), "");
    EXPECT_EQ(image.GetFileFormat(), c.format);
    EXPECT_EQ(image.GetFileName(), dir.File("in.bin"));
    EXPECT_EQ(image.Bytes(), Bytes(file.begin() + static_cast<std::ptrdiff_t>(c.readOffset),
                                   file.begin() + static_cast<std::ptrdiff_t>(c.readOffset + c.bufferSize)));
    EXPECT_FALSE(image.HasBeenModified());
}

INSTANTIATE_TEST_SUITE_P(Files, LoadFormats,
                         testing::Values(FormatCase{4096, FileFormat::EPROM27C32, 4096, 0},
                                         FormatCase{16384, FileFormat::EPROM27C128, 16384, 0},
                                         FormatCase{32768, FileFormat::EPROM27C256, 16384, 16384},
                                         FormatCase{65536, FileFormat::EPROM27C512, 16384, 49152}));

TEST(Container, LoadFailuresAreMessagesAndKeepTheImage) {
    TempDir dir;
    EPROM image;
    ASSERT_EQ(image.LoadFromArray(LH23Image()), "");
    const Bytes before = image.Bytes();

    struct Case {
        std::string path;
        bool exists;
        std::size_t length;
        const char* message;
    };
    const Case cases[] = {
        {"", false, 0, "Failed to open file"},
        {dir.File("missing.bin"), false, 0, "Failed to open file"},
        {dir.File("short.bin"), true, 16383, "Unrecognized file format"},
        {dir.File("long.bin"), true, 16385, "Unrecognized file format"},
        {dir.File("empty.bin"), true, 0, "Unrecognized file format"},
    };
    for (const auto& c : cases) {
        if (c.exists) WriteFile(c.path, Bytes(c.length, 0x11));
        EXPECT_EQ(image.LoadFromFile(c.path), c.message) << c.path;
        EXPECT_EQ(image.Bytes(), before) << c.path;
        EXPECT_EQ(image.GetKind(), 3) << c.path;
    }
    // a folder is no file
    EXPECT_EQ(image.LoadFromFile(dir.File("")), "Failed to open file");
}

TEST(Container, FormatNamesAndDialogFilters) {
    const std::pair<int, const char*> names[] = {{0, ""},
                                                 {1, "27C32 EPROM binary (4 kB)"},
                                                 {2, "27C128 EPROM binary (16 kB)"},
                                                 {3, "27C256 EPROM binary (32 kB)"},
                                                 {4, "27C512 EPROM binary (64 kB)"},
                                                 {5, ""},
                                                 {-1, ""}};
    for (const auto& [code, name] : names)
        EXPECT_EQ(EPROM::GetFileFormatName(static_cast<FileFormat>(code)), name) << code;

    EPROM lh23;
    lh23.LoadFromArray(LH23Image());
    EXPECT_EQ(lh23.GetFileDialogFormats(), "27C128 EPROM image (16 kB) (*.bin)|*.bin|"
                                           "27C256 EPROM image (32 kB) (*.bin)|*.bin|"
                                           "27C512 EPROM image (64 kB) (*.bin)|*.bin");
    EPROM lh22;
    lh22.LoadFromArray(LH22Image());
    EXPECT_EQ(lh22.GetFileDialogFormats(), "27C32 EPROM image (4 kB) (*.bin)|*.bin|"
                                           "27C128 EPROM image (16 kB) (*.bin)|*.bin|"
                                           "27C256 EPROM image (32 kB) (*.bin)|*.bin|"
                                           "27C512 EPROM image (64 kB) (*.bin)|*.bin");
    // index <-> format, both directions, including the values outside the lists
    // (as number codes: format code 1..4, filter index 1-based)
    const int large[][2] = {{0, 0}, {1, 2}, {2, 3}, {3, 4}, {4, 0}};
    for (const auto& [index, code] : large)
        EXPECT_EQ(lh23.FileDialogFormat2FileFormat(index), static_cast<FileFormat>(code)) << index;
    const int largeBack[][2] = {{1, 0}, {2, 1}, {3, 2}, {4, 3}, {5, 0}};
    for (const auto& [code, index] : largeBack)
        EXPECT_EQ(lh23.FileFormat2FileDialogFormat(static_cast<FileFormat>(code)), index) << code;
    for (int i = 1; i <= 4; ++i) {
        EXPECT_EQ(lh22.FileDialogFormat2FileFormat(i), static_cast<FileFormat>(i));
        EXPECT_EQ(lh22.FileFormat2FileDialogFormat(static_cast<FileFormat>(i)), i);
    }
    EXPECT_EQ(lh22.FileDialogFormat2FileFormat(5), FileFormat::None);
    EXPECT_EQ(lh22.FileFormat2FileDialogFormat(FileFormat::None), 0);
}

struct SaveCase {
    const char* what;
    Bytes image;
    FileFormat format;
    int copies; // of the image's bytes in the file
    std::size_t fileLength;
};

class SaveFormats : public testing::TestWithParam<SaveCase> {};

TEST_P(SaveFormats, ImageFillsTheFileBackToBackAndLoadsAgain) {
    const auto& c = GetParam();
    TempDir dir;
    EPROM image;
    image.LoadFromArray(c.image);
    const Bytes inMemory = image.Bytes();
    ASSERT_TRUE(image.SaveToFile(dir.File("out.bin"), c.format)) << c.what;
    const Bytes file = ReadFile(dir.File("out.bin"));
    EXPECT_EQ(file.size(), c.fileLength) << c.what;
    EXPECT_EQ(file, Repeat(inMemory, c.copies)) << c.what;
    EXPECT_EQ(image.GetFileFormat(), c.format);
    EXPECT_EQ(image.GetFileName(), dir.File("out.bin"));
    EXPECT_FALSE(image.HasBeenModified());

    EPROM again;
    ASSERT_EQ(again.LoadFromFile(dir.File("out.bin")), "");
    EXPECT_EQ(again.GetKind(), image.GetKind()) << c.what;
    EXPECT_EQ(Bytes(again.Bytes().begin(), again.Bytes().begin() + static_cast<std::ptrdiff_t>(inMemory.size())),
              inMemory)
        << c.what;
}

INSTANTIATE_TEST_SUITE_P(Files, SaveFormats,
                         testing::Values(SaveCase{"16 kB as 27C128", Filled(), FileFormat::EPROM27C128, 1, 16384},
                                         SaveCase{"16 kB as 27C256", Filled(), FileFormat::EPROM27C256, 2, 32768},
                                         SaveCase{"16 kB as 27C512", Filled(), FileFormat::EPROM27C512, 4, 65536},
                                         SaveCase{"LH 2.2 as 27C32", LH22Image(), FileFormat::EPROM27C32, 1, 4096},
                                         SaveCase{"LH 2.2 as 27C128", LH22Image(), FileFormat::EPROM27C128, 4, 16384},
                                         SaveCase{"EZF as 27C32", EZFImage(), FileFormat::EPROM27C32, 2, 4096},
                                         SaveCase{"EZF as 27C256", EZFImage(), FileFormat::EPROM27C256, 16, 32768},
                                         SaveCase{"unknown 4 kB image as 27C32", Filled(4096), FileFormat::EPROM27C32,
                                                  1, 4096}));

TEST(Container, SaveFormatFallsBackToTheFilesFormatThenTo27C256) {
    TempDir dir;
    WriteFile(dir.File("in.bin"), Filled(65536));
    EPROM fromFile;
    ASSERT_EQ(fromFile.LoadFromFile(dir.File("in.bin")), "");
    ASSERT_TRUE(fromFile.SaveToFile(dir.File("a.bin")));
    EXPECT_EQ(ReadFile(dir.File("a.bin")).size(), 65536u);

    EPROM fromArray;
    fromArray.LoadFromArray(Filled());
    ASSERT_TRUE(fromArray.SaveToFile(dir.File("b.bin")));
    EXPECT_EQ(ReadFile(dir.File("b.bin")).size(), 32768u);
    EXPECT_EQ(fromArray.GetFileFormat(), FileFormat::EPROM27C256);
}

TEST(Container, LH22In16kBufferSavesAs27C32FromItsFirstCopy) {
    // A 27C128 file of an LH 2.2 image keeps a 16 kB buffer; the 4 kB format still gets the image.
    TempDir dir;
    const Bytes lh22 = LH22Image('E');
    WriteFile(dir.File("in.bin"), Repeat(lh22, 4));
    EPROM image;
    ASSERT_EQ(image.LoadFromFile(dir.File("in.bin")), "");
    ASSERT_EQ(image.GetKind(), 7);
    ASSERT_TRUE(image.SaveToFile(dir.File("out.bin"), FileFormat::EPROM27C32));
    EXPECT_EQ(ReadFile(dir.File("out.bin")), lh22);
}

// A small image keeps every copy that its file holds: an EPROM burned from the saved file runs
// from the top copy, so an edit that reached only the first one would never reach the engine.
struct CopiesCase {
    const char* what;
    Bytes image;
    int loadFormat;
    std::size_t loadLength;
    int saveFormat;
    std::size_t saveLength;
};

class SmallImageCopies : public testing::TestWithParam<CopiesCase> {};

TEST_P(SmallImageCopies, EditsReachEveryCopyInMemoryAndInTheSavedFile) {
    const auto& c = GetParam();
    TempDir dir;
    WriteFile(dir.File("in.bin"), Repeat(c.image, static_cast<int>(c.loadLength / c.image.size())));
    EPROM image;
    ASSERT_EQ(image.LoadFromFile(dir.File("in.bin")), "") << c.what;
    ASSERT_EQ(FileFormatCode(image.GetFileFormat()), c.loadFormat) << c.what;
    ASSERT_EQ(static_cast<std::size_t>(image.ImageSize()), c.image.size()) << c.what;

    Bytes edited = c.image;
    image.WriteByte(5, 0x21);
    image.WriteWord(40, 0x4321);
    image.WriteBlock(static_cast<std::int32_t>(c.image.size()) - 2,
                     {0x31, 0x32, 0x33}); // its last byte is past the image
    edited[5] = 0x21;
    edited[40] = 0x43;
    edited[41] = 0x21;
    edited[c.image.size() - 2] = 0x31;
    edited[c.image.size() - 1] = 0x32;
    const std::size_t copiesInMemory = image.Bytes().size() / c.image.size();
    EXPECT_EQ(image.Bytes(), Repeat(edited, static_cast<int>(copiesInMemory))) << c.what;

    ASSERT_TRUE(image.SaveToFile(dir.File("out.bin"), static_cast<FileFormat>(c.saveFormat))) << c.what;
    const Bytes file = ReadFile(dir.File("out.bin"));
    ASSERT_EQ(file.size(), c.saveLength) << c.what;
    for (std::size_t copy = 0; copy < c.saveLength / c.image.size(); ++copy) {
        const auto first = file.begin() + static_cast<std::ptrdiff_t>(copy * c.image.size());
        EXPECT_EQ(Bytes(first, first + static_cast<std::ptrdiff_t>(c.image.size())), edited)
            << c.what << ", copy " << copy;
    }
    EXPECT_FALSE(image.HasBeenModified()) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Files, SmallImageCopies,
                         testing::Values(CopiesCase{"LH 2.2 27C32 kept", LH22Image(), 1, 4096, 1, 4096},
                                         CopiesCase{"LH 2.2 27C128 kept", LH22Image(), 2, 16384, 2, 16384},
                                         CopiesCase{"LH 2.2 27C256 kept", LH22Image(), 3, 32768, 3, 32768},
                                         CopiesCase{"LH 2.2 27C512 kept", LH22Image('E'), 4, 65536, 4, 65536},
                                         CopiesCase{"LH 2.2 27C32 to 27C256", LH22Image(), 1, 4096, 3, 32768},
                                         CopiesCase{"LH 2.2 27C512 to 27C32", LH22Image(), 4, 65536, 1, 4096},
                                         CopiesCase{"EZF 27C32 kept", EZFImage(), 1, 4096, 1, 4096},
                                         CopiesCase{"EZF 27C128 kept", EZFImage(), 2, 16384, 2, 16384},
                                         CopiesCase{"EZF 27C256 kept", EZFImage(), 3, 32768, 3, 32768},
                                         CopiesCase{"EZF 27C512 kept", EZFImage(), 4, 65536, 4, 65536},
                                         CopiesCase{"EZF 27C128 to 27C32", EZFImage(), 2, 16384, 1, 4096},
                                         CopiesCase{"EZF 27C32 to 27C512", EZFImage(), 1, 4096, 4, 65536}));

TEST(Container, SmallImageSavesTheShownCopyIntoEveryPlace) {
    // A file whose copies differ outside the markers: the program shows and edits the first copy,
    // and that is what every copy of the saved file holds.
    TempDir dir;
    const Bytes lh22 = LH22Image();
    Bytes file = Repeat(lh22, 4);
    file[2 * 4096 + 7] ^= 0x01;
    WriteFile(dir.File("in.bin"), file);
    EPROM image;
    ASSERT_EQ(image.LoadFromFile(dir.File("in.bin")), "");
    ASSERT_EQ(image.GetKind(), 6);
    ASSERT_TRUE(image.SaveToFile(dir.File("out.bin"), FileFormat::EPROM27C128));
    EXPECT_EQ(ReadFile(dir.File("out.bin")), Repeat(lh22, 4));
    EXPECT_EQ(image.Bytes(), Repeat(lh22, 4));
    EXPECT_FALSE(image.HasBeenModified());
}

TEST(Container, SavesThatCannotGiveALoadableFileFail) {
    TempDir dir;
    struct Case {
        const char* what;
        Bytes bytes;
        FileFormat format;
    };
    const Case cases[] = {{"16 kB image as 4 kB file", Filled(), FileFormat::EPROM27C32},
                          {"unknown format code", Filled(), static_cast<FileFormat>(7)},
                          {"negative format code", Filled(), static_cast<FileFormat>(-2)},
                          {"odd-sized image", Filled(3000), FileFormat::EPROM27C256},
                          {"zero-length image", Bytes{}, FileFormat::EPROM27C256}};
    for (const auto& c : cases) {
        EPROM image;
        image.LoadFromArray(c.bytes);
        EXPECT_FALSE(image.SaveToFile(dir.File("x.bin"), c.format)) << c.what;
        EXPECT_FALSE(std::filesystem::exists(dir.File("x.bin"))) << c.what;
        EXPECT_EQ(image.GetFileName(), "") << c.what;
    }
    EPROM image;
    EXPECT_FALSE(image.SaveToFile("", FileFormat::EPROM27C256));
}

TEST(Container, FailingWriteKeepsTheExistingFile) {
    TempDir dir;
    const std::string target = dir.File("tune.bin");
    const Bytes original = Repeat(Filled(16384, 7), 2);
    WriteFile(target, original);

    EPROM image;
    image.LoadFromArray(LH23Image());
    image.WriteByte(100, 0x42);
    // The file is written beside the target first; a folder in that place makes the write fail
    // for every user, root included.
    std::filesystem::create_directory(target + ".kvtmp");
    EXPECT_FALSE(image.SaveToFile(target, FileFormat::EPROM27C256));
    EXPECT_EQ(ReadFile(target), original);
    EXPECT_TRUE(image.HasBeenModified());
    EXPECT_EQ(image.GetFileName(), "");
    // the device values are back in place after the failure
    EXPECT_EQ(image.ReadByte(12462), 1);

    std::filesystem::remove(target + ".kvtmp");
    EXPECT_TRUE(image.SaveToFile(target, FileFormat::EPROM27C256));
    EXPECT_EQ(ReadFile(target).at(16384 + 100), 0x42);
    EXPECT_FALSE(std::filesystem::exists(target + ".kvtmp"));
}

#ifndef _WIN32
// POSIX saves: links are followed, the mode is kept, pipes are refused. What a save does on
// Windows (reparse points and devices refused, read-only files kept) is in file_io_test.cpp.
TEST(Container, SaveThroughALinkWritesItsTargetAndKeepsItsPermissions) {
    namespace fs = std::filesystem;
    TempDir dir;
    struct Case {
        const char* what;
        bool targetExists;
        fs::perms mode;
    };
    const Case cases[] = {
        {"link to a private file", true, fs::perms::owner_read | fs::perms::owner_write},
        {"link to a group-readable file", true, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read},
        {"link to a file not yet there", false, fs::perms::none}};
    EPROM image;
    image.LoadFromArray(LH23Image());
    image.WriteByte(100, 0x42);
    int n = 0;
    for (const auto& c : cases) {
        const std::string target = dir.File("target" + std::to_string(n) + ".bin");
        const std::string link = dir.File("link" + std::to_string(n++) + ".bin");
        if (c.targetExists) {
            WriteFile(target, Bytes(32768, 0x11));
            fs::permissions(target, c.mode);
        }
        fs::create_symlink(fs::path(target).filename(), link); // relative, as links usually are
        ASSERT_TRUE(image.SaveToFile(link, FileFormat::EPROM27C256)) << c.what;
        EXPECT_TRUE(fs::is_symlink(link)) << c.what;
        EXPECT_EQ(ReadFile(target).size(), 32768u) << c.what;
        EXPECT_EQ(ReadFile(target).at(16384 + 100), 0x42) << c.what;
        if (c.targetExists) {
            EXPECT_EQ(fs::status(target).permissions() & fs::perms::mask, c.mode) << c.what;
        }
        EXPECT_EQ(image.GetFileName(), link) << c.what;
    }
    // A plain file keeps its permissions too.
    const std::string plain = dir.File("plain.bin");
    WriteFile(plain, Bytes(16384, 0x11));
    fs::permissions(plain, fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(image.SaveToFile(plain, FileFormat::EPROM27C128));
    EXPECT_EQ(fs::status(plain).permissions() & fs::perms::mask, fs::perms::owner_read | fs::perms::owner_write);
}

TEST(Container, SaveRefusesWhatIsNotARegularFileAndLeavesItInPlace) {
    namespace fs = std::filesystem;
    TempDir dir;
    const std::string fifo = dir.File("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string folder = dir.File("folder");
    fs::create_directory(folder);
    const std::string linkToFifo = dir.File("link-to-pipe");
    fs::create_symlink(fifo, linkToFifo);

    EPROM image;
    image.LoadFromArray(LH23Image());
    for (const std::string& path : {fifo, folder, linkToFifo}) {
        EXPECT_FALSE(image.SaveToFile(path, FileFormat::EPROM27C256)) << path;
        EXPECT_NE(image.LastSaveError(), "") << path;
        EXPECT_EQ(image.GetFileName(), "") << path;
    }
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_TRUE(fs::is_symlink(linkToFifo));
    EXPECT_TRUE(fs::is_empty(folder));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.File("")), fs::directory_iterator()), 3);
}

#endif

TEST(Container, SaveBelowAFileFails) {
    TempDir dir;
    WriteFile(dir.File("plain"), Bytes(10, 1));
    EPROM image;
    image.LoadFromArray(Filled());
    EXPECT_FALSE(image.SaveToFile(dir.File("plain") + "/out.bin", FileFormat::EPROM27C256));
    EXPECT_EQ(ReadFile(dir.File("plain")), Bytes(10, 1));
}

TEST(Container, FilePatchesGoToTheFileAndDevicePatchesStayInMemory) {
    TempDir dir;
    EPROM image;
    image.LoadFromArray(LH23Image());
    // kind 3: (address, device value, file value)
    const int patches[][3] = {{12462, 1, 0},   {84, 176, 144},  {11302, 176, 144}, {9575, 0, 194}, {9576, 0, 177},
                              {10065, 0, 194}, {10066, 0, 177}, {10104, 0, 194},   {10105, 0, 177}};
    for (const auto& p : patches) EXPECT_EQ(image.ReadByte(p[0]), p[1]) << p[0];
    EXPECT_FALSE(image.HasBeenModified()); // patches touch both buffers

    ASSERT_TRUE(image.SaveToFile(dir.File("out.bin"), FileFormat::EPROM27C256));
    const Bytes file = ReadFile(dir.File("out.bin"));
    for (const auto& p : patches) {
        EXPECT_EQ(file[static_cast<std::size_t>(p[0])], p[2]) << p[0];
        EXPECT_EQ(file[static_cast<std::size_t>(16384 + p[0])], p[2]) << p[0];
        EXPECT_EQ(image.ReadByte(p[0]), p[1]) << p[0];
    }
    EXPECT_FALSE(image.HasBeenModified());

    EPROM again;
    ASSERT_EQ(again.LoadFromFile(dir.File("out.bin")), "");
    EXPECT_EQ(again.Bytes(), image.Bytes());
}

TEST(Container, EZKPatchesAndTypeCWithoutPatches) {
    EPROM ezk;
    ezk.LoadFromArray(EZKImage());
    EXPECT_EQ(ezk.ReadByte(1233), 62);
    EXPECT_EQ(ezk.ReadByte(1234), 240);
    EXPECT_EQ(ezk.ReadByte(1087), 176);

    // The same object loading a Type C image: its patch lists are emptied.
    Bytes typeC = LH23Image();
    Put(typeC, 16150, "build MRX-C 2.1");
    const Bytes before = typeC;
    ezk.LoadFromArray(typeC);
    EXPECT_EQ(ezk.GetKind(), 2);
    EXPECT_EQ(ezk.Bytes(), before);
}

TEST(Container, ModifiedFollowsEditsAndUndoingThem) {
    EPROM image;
    image.LoadFromArray(Filled());
    const std::uint8_t old = image.ReadByte(500);
    image.WriteByte(500, static_cast<std::uint8_t>(old + 1));
    EXPECT_TRUE(image.HasBeenModified());
    image.WriteByte(500, old);
    EXPECT_FALSE(image.HasBeenModified());
}

TEST(Container, ReadsOutsideTheImageAreErasedAndWritesAreIgnored) {
    EPROM image;
    image.LoadFromArray(Filled(4096));
    const Bytes before = image.Bytes();
    for (const std::int32_t a : {-1, 4096, 100000, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(image.ReadByte(a), 0xFF) << a;
        image.WriteByte(a, 0x12);
    }
    // a word half inside: the outside half reads as 0xFF, and writing it keeps the inside half only
    EXPECT_EQ(image.ReadWord(4095), before[4095] * 256 + 0xFF);
    EXPECT_EQ(image.ReadWord(-1), 0xFF * 256 + before[0]);
    EXPECT_EQ(image.ReadWord(INT32_MAX), 0xFFFF);
    image.WriteWord(4095, 0x1234);
    image.WriteWord(-1, 0x5678);
    image.WriteBlock(4090, Bytes(20, 0x33));
    image.WriteBlock(-10, Bytes(12, 0x44));
    image.WriteBlock(INT32_MAX, Bytes(3, 0x55));
    image.WriteBlock(INT32_MIN, Bytes(3, 0x55));
    Bytes expected = before;
    for (std::size_t a = 4090; a < 4096; ++a) expected[a] = 0x33;
    expected[0] = 0x44;
    expected[1] = 0x44;
    EXPECT_EQ(image.Bytes(), expected);
}

TEST(Container, WordByteOrderFollowsTheContext) {
    EpromContext context;
    EPROM image(context);
    image.LoadFromArray(Filled());
    image.WriteByte(10, 0x12);
    image.WriteByte(11, 0x34);
    EXPECT_EQ(image.ReadWord(10), 0x1234);
    context.wordBigEndian = false;
    EXPECT_EQ(image.ReadWord(10), 0x3412);
    image.WriteWord(20, 0xABCD);
    EXPECT_EQ(image.ReadByte(20), 0xCD);
    EXPECT_EQ(image.ReadByte(21), 0xAB);
    context.wordBigEndian = true;
    image.WriteWord(20, 0x1ABCD); // bits above 15 are dropped
    EXPECT_EQ(image.ReadByte(20), 0xAB);
    EXPECT_EQ(image.ReadByte(21), 0xCD);
}

struct WriteThroughCase {
    const char* what;
    Bytes image;
    bool deviceIO;
    int unit; // 0: nothing sent
};

class WriteThrough : public testing::TestWithParam<WriteThroughCase> {};

TEST_P(WriteThrough, EditsReachTheUnitOnlyWhenDeviceIOIsOnForLHAndEZK) {
    const auto& c = GetParam();
    RecordingDevice device;
    EpromContext context;
    context.device = &device;
    EPROM image(context);
    image.LoadFromArray(c.image);
    context.deviceIO = c.deviceIO;

    image.WriteByte(300, 0x11);
    image.WriteWord(302, 0x2233);
    image.WriteBlock(400, {1, 2, 3});
    image.WriteByte(-5, 0x99);      // outside: nothing sent
    image.WriteBlock(1000000, {1}); // outside: nothing sent

    EXPECT_EQ(image.ReadByte(300), 0x11) << c.what;
    EXPECT_EQ(image.ReadWord(302), 0x2233) << c.what;
    EXPECT_EQ(image.ReadByte(402), 3) << c.what;
    if (c.unit == 0) {
        EXPECT_TRUE(device.writes.empty()) << c.what;
        return;
    }
    ASSERT_EQ(device.writes.size(), 3u) << c.what;
    EXPECT_EQ(device.writes[0].unit, c.unit);
    EXPECT_EQ(device.writes[0].address, 300);
    EXPECT_EQ(device.writes[0].data, Bytes({0x11}));
    EXPECT_EQ(device.writes[1].address, 302);
    EXPECT_EQ(device.writes[1].data, Bytes({0x22, 0x33}));
    EXPECT_EQ(device.writes[2].address, 400);
    EXPECT_EQ(device.writes[2].data, Bytes({1, 2, 3}));
}

INSTANTIATE_TEST_SUITE_P(Units, WriteThrough,
                         testing::Values(WriteThroughCase{"LH 2.3", LH23Image(), true, 1},
                                         WriteThroughCase{"EZK", EZKImage(), true, 2},
                                         WriteThroughCase{"LH 2.3 during start-up", LH23Image(), false, 0},
                                         WriteThroughCase{"LH 2.2 lives in files only", LH22Image(), true, 0},
                                         WriteThroughCase{"EZF lives in files only", EZFImage(), true, 0},
                                         WriteThroughCase{"unknown kind", Filled(), true, 0}));

TEST(Container, BlockCrossingTheEndSendsOnlyItsInsidePart) {
    RecordingDevice device;
    EpromContext context;
    context.device = &device;
    context.deviceIO = true;
    EPROM image(context);
    image.LoadFromArray(LH23Image());
    image.WriteBlock(16382, {7, 8, 9, 10});
    image.WriteBlock(-2, {5, 6, 7});
    ASSERT_EQ(device.writes.size(), 2u);
    EXPECT_EQ(device.writes[0].address, 16382);
    EXPECT_EQ(device.writes[0].data, Bytes({7, 8}));
    EXPECT_EQ(device.writes[1].address, 0);
    EXPECT_EQ(device.writes[1].data, Bytes({7}));
}

TEST(Container, CopiesNeverShareAPrivateContext) {
    auto original = std::make_unique<EPROM>();
    original->LoadFromArray(Filled());
    EPROM copy(*original);
    EPROM assigned;
    assigned = *original;
    original.reset();
    copy.Context().wordBigEndian = false;
    EXPECT_EQ(copy.ReadWord(0), copy.ReadByte(1) * 256 + copy.ReadByte(0));
    EXPECT_TRUE(assigned.Context().wordBigEndian);

    EpromContext shared;
    EPROM a(shared);
    EPROM b(a);
    EXPECT_EQ(&b.Context(), &shared);
}

} // namespace

} // namespace kv
