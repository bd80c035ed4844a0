// The edit journal on disk: what is read back is exactly what was recorded, a record cut short
// or damaged is never applied, compaction bounds the file without losing an edit, and journals
// held by a running copy are not taken for leftovers.
#include "journal/edit_journal.h"
#include "platform/file_io.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>

namespace kv {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

const JournalImage kFuelFile{JournalSlot::Fuel, "/cars/s4.bin", 0x1122334455667788ULL, 3};

constexpr std::size_t kCompactAfter = 16;

struct Fixture {
    TempDir dir;
    std::int64_t now = 1'700'000'000'000;
    std::unique_ptr<EditJournal> journal = std::make_unique<EditJournal>(
        dir.File("journal"), [this] { return now; }, kCompactAfter);
    Bytes image = Bytes(64, 0xFF);

    // One write as the image makes it: recorded with the image as it was, then applied.
    void Write(const JournalImage& id, std::int32_t address, const Bytes& bytes) {
        ASSERT_EQ(journal->Record(id, image, address, bytes), "");
        for (std::size_t i = 0; i < bytes.size(); ++i) image[static_cast<std::size_t>(address) + i] = bytes[i];
        now += 1000;
    }
    std::string Path() const { return journal->PathOf(JournalSlot::Fuel); }
};

TEST(EditJournal, ReadsBackTheImageTheEditsAndTheirTimes) {
    Fixture f;
    const Bytes before = f.image;
    f.Write(kFuelFile, 3, {0x10});
    f.Write(kFuelFile, 10, {0x20, 0x21});
    f.Write(kFuelFile, 3, {0x11});
    const auto c = ReadJournal(f.Path());
    ASSERT_TRUE(c);
    EXPECT_EQ(c->image, kFuelFile);
    EXPECT_EQ(c->base, before);
    ASSERT_EQ(c->edits.size(), 3u);
    EXPECT_EQ(c->edits[1].address, 10);
    EXPECT_EQ(c->edits[1].bytes, (Bytes{0x20, 0x21}));
    EXPECT_EQ(c->edits[2].timeMs, 1'700'000'002'000);
    EXPECT_EQ(c->EditCount(), 3u);
    EXPECT_EQ(c->LastEditMs(), 1'700'000'002'000);
    EXPECT_EQ(c->EditedImage(), f.image);
    EXPECT_FALSE(c->damagedTail);
}

// How the last record of a journal may be found after a crash or a bad disk.
struct Damage {
    const char* name;
    std::function<void(Bytes& file, std::size_t lastRecordAt)> apply;
};

const Damage kDamages[] = {
    {"cut after the first byte of the record", [](Bytes& b, std::size_t at) { b.resize(at + 1); }},
    {"cut inside the length and CRC", [](Bytes& b, std::size_t at) { b.resize(at + 6); }},
    {"cut inside the payload", [](Bytes& b, std::size_t at) { b.resize(at + 12); }},
    {"last byte missing", [](Bytes& b, std::size_t) { b.pop_back(); }},
    {"payload byte changed", [](Bytes& b, std::size_t) { b.back() ^= 0x40; }},
    {"CRC byte changed", [](Bytes& b, std::size_t at) { b[at + 5] ^= 0x01; }},
    {"length grown", [](Bytes& b, std::size_t at) { b[at] = static_cast<std::uint8_t>(b[at] + 1); }},
    {"a torn record after it",
     [](Bytes& b, std::size_t) {
         b.insert(b.end(), {0x05, 0x00, 0x00, 0x00, 0xAA});
     }},
};

TEST(EditJournal, ADamagedLastRecordIsIgnoredAndTheEditsBeforeItStay) {
    for (const Damage& d : kDamages) {
        SCOPED_TRACE(d.name);
        Fixture f;
        f.Write(kFuelFile, 3, {0x10});
        f.Write(kFuelFile, 4, {0x20, 0x21, 0x22});
        const Bytes whole = FileBytes(f.Path());
        const std::size_t before = whole.size();
        f.Write(kFuelFile, 5, {0x30, 0x31, 0x32, 0x33}); // the record that gets damaged
        Bytes file = FileBytes(f.Path());
        ASSERT_GT(file.size(), before);
        const bool keepsAllThree = std::string(d.name) == "a torn record after it";
        d.apply(file, before);
        WriteBytes(f.Path(), file);
        const auto c = ReadJournal(f.Path());
        ASSERT_TRUE(c);
        EXPECT_TRUE(c->damagedTail);
        ASSERT_EQ(c->edits.size(), keepsAllThree ? 3u : 2u);
        EXPECT_EQ(c->edits[1].bytes, (Bytes{0x20, 0x21, 0x22}));
        EXPECT_EQ(c->EditedImage()[5], keepsAllThree ? 0x30 : 0x21) << "a damaged write is not applied";
    }
}

TEST(EditJournal, ADamagedRecordInTheMiddleEndsTheJournalThere) {
    Fixture f;
    f.Write(kFuelFile, 3, {0x10});
    const std::size_t second = FileBytes(f.Path()).size();
    f.Write(kFuelFile, 4, {0x20});
    f.Write(kFuelFile, 5, {0x30});
    Bytes file = FileBytes(f.Path());
    file[second + 9] ^= 0xFF; // inside the second write's payload
    WriteBytes(f.Path(), file);
    const auto c = ReadJournal(f.Path());
    ASSERT_TRUE(c);
    EXPECT_EQ(c->edits.size(), 1u);
    EXPECT_TRUE(c->damagedTail);
}

TEST(EditJournal, WithoutAWholeStartRecordThereIsNothingToRead) {
    Fixture f;
    f.Write(kFuelFile, 3, {0x10});
    Bytes file = FileBytes(f.Path());
    for (std::size_t keep : {std::size_t{0}, std::size_t{3}, std::size_t{40}}) {
        WriteBytes(f.Path(), Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(keep)));
        EXPECT_FALSE(ReadJournal(f.Path())) << keep << " bytes";
    }
    EXPECT_FALSE(ReadJournal(f.dir.File("none.kvj")));
}

TEST(EditJournal, AnotherImageInTheSlotStartsAFreshJournal) {
    Fixture f;
    f.Write(kFuelFile, 3, {0x10});
    JournalImage saved = kFuelFile;
    saved.fingerprint = 42; // the same file, saved since
    f.Write(saved, 4, {0x20});
    const auto c = ReadJournal(f.Path());
    ASSERT_TRUE(c);
    EXPECT_EQ(c->image, saved);
    ASSERT_EQ(c->edits.size(), 1u);
    EXPECT_EQ(c->base[3], 0x10) << "the new journal starts from the image as it is";
}

TEST(EditJournal, CompactionBoundsTheFileAndKeepsEveryEdit) {
    Fixture f;
    const std::size_t writes = kCompactAfter * 3 + 5;
    std::uintmax_t largest = 0;
    for (std::size_t i = 0; i < writes; ++i) {
        f.Write(kFuelFile, static_cast<std::int32_t>(i % 64), {static_cast<std::uint8_t>(i)});
        largest = std::max(largest, std::filesystem::file_size(f.Path()));
    }
    const auto c = ReadJournal(f.Path());
    ASSERT_TRUE(c);
    EXPECT_EQ(c->EditCount(), writes);
    EXPECT_EQ(c->EditedImage(), f.image);
    EXPECT_LE(c->edits.size(), kCompactAfter);
    EXPECT_LT(largest, 64 + 200 + (kCompactAfter + 1) * 30);
}

TEST(EditJournal, ClearForgetsOnlyItsSlot) {
    Fixture f;
    const JournalImage ignition{JournalSlot::Ignition, "/cars/ezk.bin", 7, 2};
    f.Write(kFuelFile, 3, {0x10});
    f.Write(ignition, 3, {0x10});
    f.journal->Clear(JournalSlot::Fuel);
    EXPECT_FALSE(std::filesystem::exists(f.Path()));
    EXPECT_TRUE(ReadJournal(f.journal->PathOf(JournalSlot::Ignition)));
    f.Write(kFuelFile, 4, {0x20});
    const auto c = ReadJournal(f.Path());
    ASSERT_TRUE(c);
    EXPECT_EQ(c->EditCount(), 1u);
}

TEST(EditJournal, JournalsOfARunningCopyAreNoLeftovers) {
    Fixture f;
    f.Write(kFuelFile, 3, {0x10});
    EditJournal other(f.dir.File("journal"));
    EXPECT_TRUE(other.Leftovers().empty()) << "the first copy still runs and holds its journal";
    f.journal.reset(); // the first copy ends without saving or closing its image
    const std::vector<std::string> left = other.Leftovers();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(ReadJournal(left[0])->EditCount(), 1u);
    EXPECT_TRUE(EditJournal::Discard(left[0]));
    EXPECT_TRUE(other.Leftovers().empty());
}

TEST(EditJournal, JournalsOfOneProcessHaveNamesOfTheirOwn) {
    TempDir dir;
    // Made one after the other, as quickly as a process can: many within one clock tick.
    std::vector<std::unique_ptr<EditJournal>> journals;
    std::set<std::string> paths;
    for (int i = 0; i < 20; ++i) {
        journals.push_back(std::make_unique<EditJournal>(dir.File("journal")));
        paths.insert(journals.back()->PathOf(JournalSlot::Fuel));
    }
    EXPECT_EQ(paths.size(), journals.size());
    Bytes image(64, 0xFF);
    ASSERT_EQ(journals[0]->Record(kFuelFile, image, 3, {0x10}), "");
    ASSERT_EQ(journals[1]->Record(kFuelFile, image, 4, {0x20}), "");
    EXPECT_EQ(ReadJournal(journals[0]->PathOf(JournalSlot::Fuel))->edits.at(0).address, 3);
    EXPECT_TRUE(journals[2]->Leftovers().empty());
}

TEST(EditJournal, LeftoversAreOfferedOldestFirst) {
    TempDir dir;
    std::vector<std::string> made;
    for (int i = 0; i < 3; ++i) {
        EditJournal run(dir.File("journal"));
        ASSERT_EQ(run.Record(kFuelFile, Bytes(64, 0xFF), 3, {static_cast<std::uint8_t>(i)}), "");
        made.push_back(run.PathOf(JournalSlot::Fuel));
    }
    // Their times, oldest first, in the reverse order of their names and of their making.
    std::sort(made.begin(), made.end());
    const auto now = std::filesystem::file_time_type::clock::now();
    for (std::size_t i = 0; i < made.size(); ++i)
        std::filesystem::last_write_time(made[i], now - std::chrono::hours(24 * static_cast<int>(i + 1)));
    const std::vector<std::string> oldestFirst(made.rbegin(), made.rend());
    EXPECT_EQ(EditJournal(dir.File("journal")).Leftovers(), oldestFirst);
}

TEST(EditJournal, Crc32OfTheCheckString) {
    const std::string check = "123456789";
    EXPECT_EQ(Crc32(reinterpret_cast<const std::uint8_t*>(check.data()), check.size()), 0xCBF43926U);
}

} // namespace
} // namespace kv
