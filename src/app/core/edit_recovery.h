#pragma once
// The edit journal on the program's two image slots: every write to the image of a slot is
// recorded (flushed before it goes to the unit) with the user action it belongs to, a save or a
// close of the image clears its journal, and at start-up the journals that an earlier run left
// behind (a crash, a kill, a loss of power) are offered for re-applying to the files they belong
// to, counted in user actions.
#include "journal/edit_journal.h"

#include <string>

namespace kv {

class EPROM;
class EditHistories;
class FileDialogs;
class ImageWorkflows;
class UserMessages;
struct EpromContext;
struct ImageSlots;

class EditRecovery {
public:
    // All of them must outlive this object. `history` tells which user action a write belongs
    // to; `workflows` open a restored file.
    EditRecovery(EditJournal& journal, ImageSlots& slots, UserMessages& messages, FileDialogs& files,
                 const EditHistories& history, ImageWorkflows& workflows);

    // Records the writes to the slots' images and clears a slot's journal when its image is saved
    // (through the context's callbacks; images outside the slots are not recorded).
    void Connect(EpromContext& context);
    // The slot's image is closed or replaced: its unsaved edits are given up.
    void ClearSlot(bool fuelSlot);
    void ClearAll();

    // Start-up: for each journal left by an earlier run, asks whether to apply its edits to the
    // file they belong to (or, for an image that never had a file, to save it with them).
    // Yes applies them through the atomic save when the file is unchanged since the edits began,
    // removes the journal and opens the file as File > Open does; a changed or missing file, a
    // cancelled file dialog or a failed save keep it. No asks again before the edits are
    // discarded: a second No keeps them for the next start.
    void OfferRestore();

private:
    void OnWrite(const EPROM& image, std::int32_t address, const std::vector<std::uint8_t>& bytes);
    void Offer(const std::string& journalPath, const JournalContents& contents);

    EditJournal& journal_;
    ImageSlots& slots_;
    UserMessages& messages_;
    FileDialogs& files_;
    const EditHistories& history_;
    ImageWorkflows& workflows_;
    bool warned_ = false; // the user was told once that the journal cannot be written
};

// The restore question for one journal (also used by the tests to find it among the messages).
// The count of a journal of the previous version, taken from the writes' times, is "about" so
// many edits.
std::string RestoreQuestion(const JournalContents& contents);

} // namespace kv
