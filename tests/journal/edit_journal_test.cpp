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
#include <optional>
#include <set>
#include <utility>

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

// The writes of one user action count as one edit, however many bytes they touch; a write that
// belongs to no action is an edit of its own.
TEST(EditJournal, EditsAreTheUserActionsNotTheWrites) {
    Fixture f;
    for (std::uint64_t action : {7u, 8u})
        for (int i = 0; i < 20; ++i) {
            ASSERT_EQ(f.journal->Record(kFuelFile, f.image, i, {static_cast<std::uint8_t>(action)}, action), "");
            f.image[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(action);
        }
    f.Write(kFuelFile, 30, {0x30, 0x31});
    f.Write(kFuelFile, 40, {0x40});
    const auto c = ReadJournal(f.Path());
    ASSERT_TRUE(c);
    EXPECT_EQ(c->EditCount(), 4u);
    EXPECT_TRUE(c->actionsCounted);
    EXPECT_EQ(c->EditedImage(), f.image);
}

// Compaction inside a long action (a live tuning run) keeps it one action.
TEST(EditJournal, AnActionThatOutlastsACompactionStaysOneEdit) {
    Fixture f;
    f.Write(kFuelFile, 1, {0x01});
    for (int i = 0; i < static_cast<int>(kCompactAfter) * 2 + 3; ++i) {
        ASSERT_EQ(f.journal->Record(kFuelFile, f.image, i % 64, {static_cast<std::uint8_t>(i)}, 5), "");
        f.image[static_cast<std::size_t>(i % 64)] = static_cast<std::uint8_t>(i);
    }
    ASSERT_EQ(f.journal->Record(kFuelFile, f.image, 2, {0x02}, 6), "");
    f.image[2] = 0x02;
    const auto c = ReadJournal(f.Path());
    ASSERT_TRUE(c);
    EXPECT_EQ(c->EditCount(), 3u);
    EXPECT_EQ(c->EditedImage(), f.image);
}

// A journal of the previous version, without its actions marked: writes that followed each
// other within kOneActionMs are taken for one action.
struct OldJournal {
    Bytes file;
    static void U32(Bytes& b, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    static void U64(Bytes& b, std::uint64_t v) {
        for (int i = 0; i < 8; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    void Record(const Bytes& payload) {
        U32(file, static_cast<std::uint32_t>(payload.size()));
        U32(file, Crc32(payload.data(), payload.size()));
        file.insert(file.end(), payload.begin(), payload.end());
    }
    OldJournal(const Bytes& base, std::uint32_t folded) {
        Bytes p{'S', 1, 1};
        U64(p, 1'700'000'000'000);
        p.push_back(3);
        U64(p, kFuelFile.fingerprint);
        U32(p, folded);
        U32(p, static_cast<std::uint32_t>(kFuelFile.path.size()));
        p.insert(p.end(), kFuelFile.path.begin(), kFuelFile.path.end());
        U32(p, static_cast<std::uint32_t>(base.size()));
        p.insert(p.end(), base.begin(), base.end());
        Record(p);
    }
    void Write(std::int64_t timeMs, std::int32_t address, const Bytes& bytes) {
        Bytes p{'W'};
        U64(p, static_cast<std::uint64_t>(timeMs));
        U32(p, static_cast<std::uint32_t>(address));
        U32(p, static_cast<std::uint32_t>(bytes.size()));
        p.insert(p.end(), bytes.begin(), bytes.end());
        Record(p);
    }
    // The records as the previous version read them: each write record's address and bytes, in
    // order; nullopt when a record is not one it knew.
    static std::optional<std::vector<std::pair<std::int32_t, Bytes>>> ReadAsBefore(const Bytes& file) {
        std::vector<std::pair<std::int32_t, Bytes>> writes;
        std::size_t at = 0;
        for (bool first = true; at < file.size(); first = false) {
            auto u32 = [&](std::size_t i) {
                return static_cast<std::uint32_t>(file[i] | file[i + 1] << 8 | file[i + 2] << 16 | file[i + 3] << 24);
            };
            const std::uint32_t length = u32(at);
            const std::uint8_t* p = file.data() + at + 8;
            if (at + 8 + length > file.size() || Crc32(p, length) != u32(at + 4)) return std::nullopt;
            if (first ? p[0] != 'S' || p[1] != 1 : p[0] != 'W') return std::nullopt;
            if (!first) {
                const std::size_t n = u32(at + 8 + 13);
                if (length != 17 + n) return std::nullopt;
                writes.emplace_back(static_cast<std::int32_t>(u32(at + 8 + 9)), Bytes(p + 17, p + 17 + n));
            }
            at += 8 + length;
        }
        return writes;
    }
};

TEST(EditJournal, APreviousVersionsJournalIsReadWithItsEditsCountedByTime) {
    TempDir dir;
    OldJournal old(Bytes(64, 0xFF), 0);
    std::int64_t t = 1'700'000'000'000;
    Bytes edited(64, 0xFF);
    for (int action = 0; action < 3; ++action, t += 1500)
        for (int i = 0; i < 20; ++i) {
            old.Write(t + 2 * i, action * 20 + i, {static_cast<std::uint8_t>(action)});
            edited[static_cast<std::size_t>(action * 20 + i)] = static_cast<std::uint8_t>(action);
        }
    WriteBytes(dir.File("old.kvj"), old.file);
    const auto c = ReadJournal(dir.File("old.kvj"));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->image, kFuelFile);
    EXPECT_FALSE(c->actionsCounted);
    EXPECT_EQ(c->EditCount(), 3u);
    EXPECT_EQ(c->edits.size(), 60u);
    EXPECT_EQ(c->EditedImage(), edited);
}

// The previous version still reads a journal written now: every record is one it knew, and the
// writes it finds give the same image (the action marks are writes of no bytes).
TEST(EditJournal, TheJournalStaysReadableByThePreviousVersion) {
    Fixture f;
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(f.journal->Record(kFuelFile, f.image, i, {0x55}, 3), "");
        f.image[static_cast<std::size_t>(i)] = 0x55;
    }
    f.Write(kFuelFile, 9, {0x99, 0x98});
    const Bytes base = ReadJournal(f.Path())->base;
    const auto writes = OldJournal::ReadAsBefore(FileBytes(f.Path()));
    ASSERT_TRUE(writes);
    Bytes image = base;
    std::size_t withBytes = 0;
    for (const auto& [address, bytes] : *writes) {
        withBytes += bytes.empty() ? 0 : 1;
        for (std::size_t i = 0; i < bytes.size(); ++i) image.at(static_cast<std::size_t>(address) + i) = bytes[i];
    }
    EXPECT_EQ(withBytes, 6u);
    EXPECT_EQ(image, f.image);
}

TEST(EditJournal, Crc32OfTheCheckString) {
    const std::string check = "123456789";
    EXPECT_EQ(Crc32(reinterpret_cast<const std::uint8_t*>(check.data()), check.size()), 0xCBF43926U);
}

} // namespace
} // namespace kv
