#pragma once
// The undo history of the images: one list of steps per image, a step being one user action (its
// name as the user knows it, e.g. "Paste") with the bytes it changed. The histories listen to the
// images' one write path (EditListener): every write inside an EditStep bracket is gathered into
// the step, and when the outermost bracket closes the step joins the history of each image it
// changed. A step that changed no byte in the end (a value stepped up and down again) is not kept.
//
// Undo writes the step's old bytes back through the image's write path, and redo its new bytes, so
// both reach the running unit like any edit, go into the edit journal, and a write the unit does
// not acknowledge is recorded as unconfirmed (the image keeps the bytes either way, and the history
// moves on). A new step after an undo drops the steps that could have been redone.
#include "eprom/edit_step.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kv {

class EPROM;
struct EpromContext;

// Bytes that one step changed at one place of the image (one copy of it).
struct ByteChange {
    std::int32_t address = 0;
    std::vector<std::uint8_t> oldBytes;
    std::vector<std::uint8_t> newBytes;
    friend bool operator==(const ByteChange&, const ByteChange&) = default;
};

struct HistoryStep {
    std::string name;
    // In address order; neighbouring changed bytes form one change.
    std::vector<ByteChange> changes;
};

// The steps of one image and how many of them are done (the rest can be redone).
class EditHistory {
public:
    const std::vector<HistoryStep>& Steps() const { return steps_; }
    std::size_t DoneCount() const { return done_; }
    bool CanUndo() const { return done_ > 0; }
    bool CanRedo() const { return done_ < steps_.size(); }
    // Names of the step that undo / redo would take back / make again ("" when none).
    std::string UndoName() const;
    std::string RedoName() const;

private:
    friend class EditHistories;
    std::vector<HistoryStep> steps_;
    std::size_t done_ = 0;
};

class EditHistories final : public EditListener {
public:
    // Becomes the context's edit listener until destroyed.
    explicit EditHistories(EpromContext& context);
    ~EditHistories() override;
    EditHistories(const EditHistories&) = delete;
    EditHistories& operator=(const EditHistories&) = delete;

    // The image's history (empty for an image without steps).
    const EditHistory& Of(const EPROM& image) const;

    // Takes back the last done step of the image / makes the next undone one again. False when
    // there is none, or while a user action is still open (its step is not complete yet).
    bool Undo(EPROM& image);
    bool Redo(EPROM& image);

    // The image is about to be replaced or closed: its history goes (also a step still open on it).
    void Forget(const EPROM& image);
    void ForgetAll();

    // True while an EditStep bracket is open.
    bool StepOpen() const { return depth_ > 0; }
    // The user action that writes now: each outermost bracket and each undo or redo is one action
    // with a number of its own (counting from 1); 0 outside them (a write that is an action on
    // its own).
    std::uint64_t ActionNow() const { return depth_ > 0 || replaying_ ? action_ : 0; }

    // Told after a step joined an image's history, after an image's history was emptied by
    // Forget, and after an undo or redo wrote the image.
    std::function<void(EPROM& image, const HistoryStep& step)> stepAdded;
    // (`forgotten` gets the image's address only: the image may be gone already.)
    std::function<void(const EPROM* image)> forgotten;
    std::function<void(EPROM& image)> replayed;

    // EditListener
    void BeginStep(const std::string& name) override;
    void EndStep() override;
    void Changing(EPROM& image, std::int32_t address, const std::vector<std::uint8_t>& oldBytes,
                  const std::vector<std::uint8_t>& newBytes) override;

private:
    // Per image: each changed address with its byte before the step and its byte now.
    using PendingBytes = std::map<std::int32_t, std::pair<std::uint8_t, std::uint8_t>>;

    void Replay(EPROM& image, const HistoryStep& step, bool forward);

    EpromContext& context_;
    std::map<const EPROM*, EditHistory> histories_;
    std::map<EPROM*, PendingBytes, std::less<>> pending_;
    std::string pendingName_;
    int depth_ = 0;
    bool replaying_ = false;
    std::uint64_t action_ = 0;
};

} // namespace kv
