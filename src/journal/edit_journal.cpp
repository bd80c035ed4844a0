#include "journal/edit_journal.h"

#include "platform/file_io.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <system_error>
#include <utility>

namespace kv {

namespace {

// Record: length of the payload (4 bytes), CRC-32 of the payload (4 bytes), payload. Numbers are
// little-endian. The payload's first byte says what it is.
constexpr std::uint8_t kStartRecord = 'S';
constexpr std::uint8_t kWriteRecord = 'W';
constexpr std::uint8_t kVersion = 1;
constexpr std::size_t kRecordHead = 8;
// No record of a journal comes near this; a larger length is damage.
constexpr std::uint32_t kMaxPayload = 1U << 24;
constexpr std::size_t kMaxJournalFile = std::size_t{1} << 28;

const char* SlotName(JournalSlot slot) { return slot == JournalSlot::Fuel ? "fuel" : "ignition"; }
std::size_t SlotIndex(JournalSlot slot) { return slot == JournalSlot::Fuel ? 0 : 1; }

class Writer {
public:
    void U8(std::uint8_t v) { out.push_back(v); }
    void U32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    void U64(std::uint64_t v) {
        for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    void Bytes(const std::vector<std::uint8_t>& b) {
        U32(static_cast<std::uint32_t>(b.size()));
        out.insert(out.end(), b.begin(), b.end());
    }
    std::vector<std::uint8_t> out;
};

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : p_(data), left_(size) {}
    bool U8(std::uint8_t& v) {
        if (left_ < 1) return false;
        v = *p_++;
        --left_;
        return true;
    }
    bool U32(std::uint32_t& v) {
        std::uint64_t w = 0;
        if (!Le(4, w)) return false;
        v = static_cast<std::uint32_t>(w);
        return true;
    }
    bool U64(std::uint64_t& v) { return Le(8, v); }
    bool Bytes(std::vector<std::uint8_t>& b) {
        std::uint32_t n = 0;
        if (!U32(n) || n > left_) return false;
        b.assign(p_, p_ + n);
        p_ += n;
        left_ -= n;
        return true;
    }
    bool AtEnd() const { return left_ == 0; }

private:
    bool Le(int n, std::uint64_t& v) {
        if (left_ < static_cast<std::size_t>(n)) return false;
        v = 0;
        for (int i = 0; i < n; ++i) v |= static_cast<std::uint64_t>(p_[i]) << (8 * i);
        p_ += n;
        left_ -= static_cast<std::size_t>(n);
        return true;
    }
    const std::uint8_t* p_;
    std::size_t left_;
};

std::vector<std::uint8_t> Framed(const std::vector<std::uint8_t>& payload) {
    Writer w;
    w.U32(static_cast<std::uint32_t>(payload.size()));
    w.U32(Crc32(payload.data(), payload.size()));
    w.out.insert(w.out.end(), payload.begin(), payload.end());
    return w.out;
}

std::vector<std::uint8_t> StartPayload(const JournalImage& image, std::int64_t startedMs,
                                       const std::vector<std::uint8_t>& base, std::uint32_t folded) {
    Writer w;
    w.U8(kStartRecord);
    w.U8(kVersion);
    w.U8(static_cast<std::uint8_t>(image.slot));
    w.U64(static_cast<std::uint64_t>(startedMs));
    w.U8(static_cast<std::uint8_t>(image.fileFormat));
    w.U64(image.fingerprint);
    w.U32(folded);
    w.Bytes(std::vector<std::uint8_t>(image.path.begin(), image.path.end()));
    w.Bytes(base);
    return w.out;
}

std::vector<std::uint8_t> WritePayload(std::int64_t timeMs, std::int32_t address,
                                       const std::vector<std::uint8_t>& bytes) {
    Writer w;
    w.U8(kWriteRecord);
    w.U64(static_cast<std::uint64_t>(timeMs));
    w.U32(static_cast<std::uint32_t>(address));
    w.Bytes(bytes);
    return w.out;
}

bool ParseStart(Reader& r, JournalContents& c) {
    std::uint8_t version = 0, slot = 0, format = 0;
    std::uint64_t started = 0;
    std::vector<std::uint8_t> path;
    if (!r.U8(version) || version != kVersion || !r.U8(slot) || (slot != 1 && slot != 2) || !r.U64(started) ||
        !r.U8(format) || !r.U64(c.image.fingerprint) || !r.U32(c.foldedEdits) || !r.Bytes(path) || !r.Bytes(c.base) ||
        !r.AtEnd())
        return false;
    c.image.slot = static_cast<JournalSlot>(slot);
    c.image.fileFormat = format;
    c.image.path.assign(path.begin(), path.end());
    c.startedMs = static_cast<std::int64_t>(started);
    return true;
}

bool ParseWrite(Reader& r, JournalEdit& e) {
    std::uint64_t time = 0;
    std::uint32_t address = 0;
    if (!r.U64(time) || !r.U32(address) || !r.Bytes(e.bytes) || !r.AtEnd()) return false;
    e.timeMs = static_cast<std::int64_t>(time);
    e.address = static_cast<std::int32_t>(address);
    return true;
}

bool IsActionMark(const JournalEdit& e) { return e.address == EditJournal::kActionMark && e.bytes.empty(); }

// The actions among the writes: a marked journal begins with a mark (compaction inside an action
// marks it again), and each mark followed by a write is one action; without marks, a write more
// than kOneActionMs after the one before begins an action.
void CountActions(JournalContents& c, const std::vector<std::size_t>& marks) {
    c.actionsCounted = !marks.empty() && marks.front() == 0;
    c.actions = 0;
    if (c.actionsCounted) {
        for (std::size_t i = 0; i < marks.size(); ++i) {
            const std::size_t next = i + 1 < marks.size() ? marks[i + 1] : c.edits.size();
            if (next > marks[i]) ++c.actions;
        }
        return;
    }
    for (std::size_t i = 0; i < c.edits.size(); ++i)
        if (i == 0 || c.edits[i].timeMs - c.edits[i - 1].timeMs > kOneActionMs) ++c.actions;
}

std::int64_t SystemNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Journals made in the same millisecond by one process still get names of their own.
std::string NewSession() {
    static std::atomic<unsigned> made{0};
    return std::to_string(ProcessId()) + "-" + std::to_string(SystemNowMs()) + "-" + std::to_string(made++);
}

} // namespace

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size) {
    std::uint32_t crc = 0xFFFFFFFFU;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320U & (0U - (crc & 1U)));
    }
    return crc ^ 0xFFFFFFFFU;
}

std::vector<std::uint8_t> JournalContents::EditedImage() const {
    std::vector<std::uint8_t> image = base;
    for (const JournalEdit& e : edits)
        for (std::size_t i = 0; i < e.bytes.size(); ++i) {
            const std::int64_t at = static_cast<std::int64_t>(e.address) + static_cast<std::int64_t>(i);
            if (at >= 0 && at < static_cast<std::int64_t>(image.size()))
                image[static_cast<std::size_t>(at)] = e.bytes[i];
        }
    return image;
}

std::optional<JournalContents> ReadJournal(const std::string& path) {
    const Parsed<std::vector<std::uint8_t>> file = ReadRegularFile(path, kMaxJournalFile);
    if (!file) return std::nullopt;
    const std::vector<std::uint8_t>& bytes = *file;
    JournalContents contents;
    std::vector<std::size_t> marks; // for each action mark, the number of writes before it
    std::size_t at = 0;
    bool started = false;
    while (at < bytes.size()) {
        Reader head(bytes.data() + at, bytes.size() - at);
        std::uint32_t length = 0, crc = 0;
        if (!head.U32(length) || !head.U32(crc) || length > kMaxPayload || length > bytes.size() - at - kRecordHead) {
            contents.damagedTail = true;
            break;
        }
        const std::uint8_t* payload = bytes.data() + at + kRecordHead;
        if (Crc32(payload, length) != crc || length == 0) {
            contents.damagedTail = true;
            break;
        }
        Reader r(payload + 1, length - 1);
        bool ok = false;
        if (!started) {
            ok = payload[0] == kStartRecord && ParseStart(r, contents);
            started = ok;
            if (!ok) return std::nullopt;
        } else if (payload[0] == kWriteRecord) {
            JournalEdit edit;
            ok = ParseWrite(r, edit);
            if (ok && IsActionMark(edit))
                marks.push_back(contents.edits.size());
            else if (ok)
                contents.edits.push_back(std::move(edit));
        }
        if (!ok) {
            contents.damagedTail = true;
            break;
        }
        at += kRecordHead + length;
    }
    if (!started) return std::nullopt;
    CountActions(contents, marks);
    return contents;
}

EditJournal::EditJournal(std::string folder, WallClock now, std::size_t compactAfter)
    : folder_(std::move(folder)), now_(now ? std::move(now) : WallClock(SystemNowMs)),
      compactAfter_(std::max<std::size_t>(compactAfter, 1)), session_(NewSession()) {}

EditJournal::~EditJournal() {
    // The files stay: edits that were neither saved nor discarded are what a next run offers.
    for (Open& o : open_) Close(o);
}

std::string EditJournal::PathOf(JournalSlot slot) const {
    return PathToUtf8(PathFromUtf8(folder_) / PathFromUtf8(std::string(SlotName(slot)) + "-" + session_ + kExtension));
}

void EditJournal::Close(Open& open) { open = Open{}; }

std::string EditJournal::Start(Open& open, const JournalImage& image, const std::vector<std::uint8_t>& base,
                               std::uint32_t folded, JournalSlot slot) {
    Close(open);
    std::error_code ec;
    std::filesystem::create_directories(PathFromUtf8(folder_), ec);
    const std::string path = PathOf(slot);
    const std::string temporary = path + ".tmp";
    RemoveFile(temporary);
    // The new journal is locked before it takes its name, so that no other copy of the program
    // ever sees it unlocked.
    std::unique_ptr<HeldFile> file = HeldFile::Create(temporary);
    const bool ok =
        file && file->Append(Framed(StartPayload(image, now_(), base, folded))) && RenameFile(temporary, path);
    if (!ok) {
        file.reset();
        RemoveFile(temporary);
        return "The edit journal cannot be written in " + folder_;
    }
    SyncFolder(folder_);
    open.file = std::move(file);
    open.image = image;
    open.records = 0;
    open.edits = folded;
    return {};
}

std::string EditJournal::Record(const JournalImage& image, const std::vector<std::uint8_t>& imageBefore,
                                std::int32_t address, const std::vector<std::uint8_t>& bytes, std::uint64_t action) {
    Open& open = open_[SlotIndex(image.slot)];
    const bool sameAction = action != 0 && open.file && open.image == image && action == open.action;
    std::string failure;
    if (!open.file || !(open.image == image))
        failure = Start(open, image, imageBefore, 0, image.slot);
    else if (open.records >= compactAfter_)
        // The action going on is marked again after the new start; the ones before are folded.
        failure = Start(open, image, imageBefore, open.edits - (sameAction ? 1 : 0), image.slot);
    if (!failure.empty()) return failure;
    const bool begins = !sameAction || open.records == 0;
    const std::int64_t now = now_();
    std::vector<std::uint8_t> records =
        begins ? Framed(WritePayload(now, kActionMark, {})) : std::vector<std::uint8_t>{};
    const std::vector<std::uint8_t> write = Framed(WritePayload(now, address, bytes));
    records.insert(records.end(), write.begin(), write.end());
    if (!open.file->Append(records)) {
        // A record that may be half on disk: the journal starts again with the next write.
        Close(open);
        return "The edit journal cannot be written in " + folder_;
    }
    open.records += begins ? 2 : 1;
    open.edits += begins ? 1 : 0;
    open.action = action;
    return {};
}

void EditJournal::Clear(JournalSlot slot) {
    Open& open = open_[SlotIndex(slot)];
    const bool had = open.file != nullptr;
    Close(open);
    std::error_code ec;
    if (had || std::filesystem::exists(PathFromUtf8(PathOf(slot)), ec)) {
        RemoveFile(PathOf(slot));
        SyncFolder(folder_);
    }
}

std::vector<std::string> EditJournal::Leftovers() const {
    std::vector<std::pair<std::filesystem::file_time_type, std::string>> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(PathFromUtf8(folder_), ec)) {
        if (entry.path().extension() != kExtension || !entry.is_regular_file(ec)) continue;
        const std::string path = PathToUtf8(entry.path());
        if (path == PathOf(JournalSlot::Fuel) || path == PathOf(JournalSlot::Ignition)) continue;
        if (IsFileFree(path)) found.emplace_back(entry.last_write_time(ec), path); // else a running copy holds it
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    for (auto& f : found) paths.push_back(std::move(f.second));
    return paths;
}

bool EditJournal::Discard(const std::string& path) { return RemoveFile(path); }

} // namespace kv
