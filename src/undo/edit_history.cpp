#include "undo/edit_history.h"

#include "eprom/eprom_image.h"

#include <utility>

namespace kv {

namespace {

const EditHistory& EmptyHistory() {
    static const EditHistory empty;
    return empty;
}

// The bytes that differ from before the step, neighbours joined into one change.
std::vector<ByteChange> NetChanges(const std::map<std::int32_t, std::pair<std::uint8_t, std::uint8_t>>& bytes) {
    std::vector<ByteChange> changes;
    for (const auto& [address, values] : bytes) {
        if (values.first == values.second) continue;
        if (changes.empty() ||
            changes.back().address + static_cast<std::int32_t>(changes.back().oldBytes.size()) != address)
            changes.push_back({address, {}, {}});
        changes.back().oldBytes.push_back(values.first);
        changes.back().newBytes.push_back(values.second);
    }
    return changes;
}

} // namespace

std::string EditHistory::UndoName() const { return CanUndo() ? steps_[done_ - 1].name : std::string(); }

std::string EditHistory::RedoName() const { return CanRedo() ? steps_[done_].name : std::string(); }

EditHistories::EditHistories(EpromContext& context) : context_(context) { context_.edits = this; }

EditHistories::~EditHistories() {
    if (context_.edits == this) context_.edits = nullptr;
}

const EditHistory& EditHistories::Of(const EPROM& image) const {
    const auto it = histories_.find(&image);
    return it == histories_.end() ? EmptyHistory() : it->second;
}

void EditHistories::BeginStep(const std::string& name) {
    if (depth_++ == 0) {
        ++action_;
        pendingName_ = name;
        pending_.clear();
    }
}

void EditHistories::EndStep() {
    if (depth_ == 0 || --depth_ > 0) return;
    auto pending = std::move(pending_);
    pending_.clear();
    for (const auto& [image, bytes] : pending) {
        std::vector<ByteChange> changes = NetChanges(bytes);
        if (changes.empty()) continue;
        EditHistory& history = histories_[image];
        history.steps_.resize(history.done_); // a new action ends what could be redone
        history.steps_.push_back({pendingName_, std::move(changes)});
        history.done_ = history.steps_.size();
        if (stepAdded) stepAdded(*image, history.steps_.back());
    }
}

void EditHistories::Changing(EPROM& image, std::int32_t address, const std::vector<std::uint8_t>& oldBytes,
                             const std::vector<std::uint8_t>& newBytes) {
    if (depth_ == 0 || replaying_) return;
    PendingBytes& bytes = pending_[&image];
    for (std::size_t i = 0; i < oldBytes.size() && i < newBytes.size(); ++i) {
        const std::int32_t at = address + static_cast<std::int32_t>(i);
        // The first write of the step keeps the byte from before; later ones only the new value.
        const auto [it, fresh] = bytes.try_emplace(at, oldBytes[i], newBytes[i]);
        if (!fresh) it->second.second = newBytes[i];
    }
}

void EditHistories::Replay(EPROM& image, const HistoryStep& step, bool forward) {
    replaying_ = true;
    ++action_;
    for (const ByteChange& change : step.changes)
        image.WriteBlock(change.address, forward ? change.newBytes : change.oldBytes);
    replaying_ = false;
    if (replayed) replayed(image);
}

bool EditHistories::Undo(EPROM& image) {
    if (depth_ > 0) return false;
    const auto it = histories_.find(&image);
    if (it == histories_.end() || !it->second.CanUndo()) return false;
    EditHistory& history = it->second;
    --history.done_;
    Replay(image, history.steps_[history.done_], false);
    return true;
}

bool EditHistories::Redo(EPROM& image) {
    if (depth_ > 0) return false;
    const auto it = histories_.find(&image);
    if (it == histories_.end() || !it->second.CanRedo()) return false;
    EditHistory& history = it->second;
    ++history.done_;
    Replay(image, history.steps_[history.done_ - 1], true);
    return true;
}

void EditHistories::Forget(const EPROM& image) {
    if (const auto it = pending_.find(&image); it != pending_.end()) pending_.erase(it);
    const bool had = histories_.erase(&image) > 0;
    if (had && forgotten) forgotten(&image);
}

void EditHistories::ForgetAll() {
    pending_.clear();
    auto histories = std::move(histories_);
    histories_.clear();
    for (const auto& [image, history] : histories)
        if (forgotten) forgotten(image);
}

} // namespace kv
