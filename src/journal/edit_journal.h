#pragma once
// The edit journal: every byte written to an image of a slot (fuel or ignition) is appended to a
// journal file in the user's data folder and flushed to disk before the write goes on to the
// running unit. A journal starts with the image as it was before its first edit (with the file
// the image belongs to and that file's fingerprint), followed by one record per write. A save or
// a close of the image clears its journal; a journal that a run of the program left behind holds
// exactly the edits that were not saved.
//
// Records carry their length and a CRC-32: a record cut short by a crash, and everything after
// a damaged record, is ignored and never applied. Growth is bounded by compaction: after
// kCompactAfter records the journal is written anew with the current image as its start.
//
// An edit is one user action (a typed value, a click of a step button, a paste), however many
// writes and bytes it takes: each action begins with an action mark, a write record of no bytes
// at address kActionMark, so that a reader that knows only writes applies nothing for it. Journals
// of the previous version carry no marks; their edits are counted from the writes' times.
//
// Each journal object writes journal files of its own ("<slot>-<pid>-<start>-<n>.kvj", n counting
// the journals of the process) and holds a lock on them while they are open, so that another
// running copy of the program never takes them for the leftovers of a crash.
#include "platform/file_io.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kv {

enum class JournalSlot { Fuel = 1, Ignition = 2 };

// What the edits belong to.
struct JournalImage {
    JournalSlot slot = JournalSlot::Fuel;
    std::string path;              // the file the image was opened from or saved to; empty when none
    std::uint64_t fingerprint = 0; // ContentFingerprint of that file as opened or saved
    int fileFormat = 0;            // its file format code (0 = none)

    bool operator==(const JournalImage&) const = default;
};

struct JournalEdit {
    std::int64_t timeMs = 0; // wall-clock time, milliseconds since 1970
    std::int32_t address = 0;
    std::vector<std::uint8_t> bytes;
};

// Writes that follow each other within this time belong to one action in a journal without
// action marks (the writes of one action come a device exchange apart; a user's actions, even a
// held key's repeats, further).
inline constexpr std::int64_t kOneActionMs = 30;

// A journal as read back from its file.
struct JournalContents {
    JournalImage image;
    std::int64_t startedMs = 0;
    std::vector<std::uint8_t> base; // the image before the first edit of this journal
    std::uint32_t foldedEdits = 0;  // edits already contained in `base` (by compaction)
    std::vector<JournalEdit> edits; // every write, in order
    std::size_t actions = 0;        // user actions among `edits`
    // True when the journal marks its actions; false for a journal of the previous version,
    // whose `actions` are counted from the writes' times and whose `foldedEdits` are writes.
    bool actionsCounted = false;
    bool damagedTail = false; // bytes after the last whole record were ignored

    std::size_t EditCount() const { return foldedEdits + actions; }
    // Time of the last edit (of the start when only folded edits remain).
    std::int64_t LastEditMs() const { return edits.empty() ? startedMs : edits.back().timeMs; }
    // `base` with every edit applied in order (bytes outside it are dropped).
    std::vector<std::uint8_t> EditedImage() const;
};

// The journal file's content; nullopt when it holds no whole first record (no file, an empty file
// or a start record cut short: then no edit ever went further than the image).
std::optional<JournalContents> ReadJournal(const std::string& path);

// CRC-32 (reflected polynomial 0xEDB88320, initial and final value 0xFFFFFFFF).
std::uint32_t Crc32(const std::uint8_t* data, std::size_t size);

class EditJournal {
public:
    using WallClock = std::function<std::int64_t()>; // milliseconds since 1970

    static constexpr std::size_t kCompactAfter = 4096;
    static constexpr const char* kExtension = ".kvj";
    static constexpr std::int32_t kActionMark = -1;

    // `folder` is made when the first journal starts. Without `now` the system clock is used. A
    // journal is compacted after `compactAfter` write records.
    explicit EditJournal(std::string folder, WallClock now = {}, std::size_t compactAfter = kCompactAfter);
    ~EditJournal();
    EditJournal(const EditJournal&) = delete;
    EditJournal& operator=(const EditJournal&) = delete;

    // Appends one write of `bytes` at `address` to the slot's journal and flushes it to disk.
    // `imageBefore` is the image's whole buffer before the write: a journal starts with it (when
    // the slot's journal is empty, belongs to another image, or is compacted). `action` is the
    // number of the user action the write belongs to: a write of another action than the one
    // before begins an edit, and so does every write of action 0 (a write on its own). "" when
    // the record is on disk, otherwise why not.
    std::string Record(const JournalImage& image, const std::vector<std::uint8_t>& imageBefore, std::int32_t address,
                       const std::vector<std::uint8_t>& bytes, std::uint64_t action = 0);
    // Forgets the slot's edits: its journal file of this run is removed.
    void Clear(JournalSlot slot);

    // Journal files in the folder that no running copy of the program holds (left by a run that
    // ended without saving or closing), oldest first.
    std::vector<std::string> Leftovers() const;
    // Removes a leftover journal file.
    static bool Discard(const std::string& path);

    const std::string& Folder() const { return folder_; }
    // This run's journal file of a slot (it exists only while the slot has unsaved edits).
    std::string PathOf(JournalSlot slot) const;

private:
    struct Open {
        std::unique_ptr<HeldFile> file;
        JournalImage image;
        std::size_t records = 0;  // records after the start record
        std::uint32_t edits = 0;  // edits in the journal, folded ones included
        std::uint64_t action = 0; // the action of the last write (0: none or a write on its own)
    };
    std::string Start(Open& open, const JournalImage& image, const std::vector<std::uint8_t>& base,
                      std::uint32_t folded, JournalSlot slot);
    void Close(Open& open);

    std::string folder_;
    WallClock now_;
    std::size_t compactAfter_;
    std::string session_; // "<pid>-<start ms>-<number of the journal in this process>"
    std::array<Open, 2> open_{};
};

} // namespace kv
