#include "undo/gui/undo_stacks.h"

#include "eprom/eprom_image.h"
#include "undo/edit_history.h"

#include <QUndoCommand>
#include <QUndoGroup>
#include <QUndoStack>
#include <QUndoView>
#include <QVBoxLayout>

namespace kv {

namespace {

class StepCommand final : public QUndoCommand {
public:
    StepCommand(EditHistories& history, EPROM& image, const std::string& name)
        : QUndoCommand(QString::fromStdString(name)), history_(history), image_(image) {}

    void undo() override { history_.Undo(image_); }
    void redo() override {
        // Pushing the command: the edit is in the image already.
        if (pushed_) {
            pushed_ = false;
            return;
        }
        history_.Redo(image_);
    }

private:
    EditHistories& history_;
    EPROM& image_;
    bool pushed_ = true;
};

} // namespace

UndoStacks::UndoStacks(EditHistories& history, QObject* parent)
    : QObject(parent), history_(history), group_(new QUndoGroup(this)) {
    history_.stepAdded = [this](EPROM& image, const HistoryStep& step) {
        StackOf(image)->push(new StepCommand(history_, image, step.name));
    };
    history_.forgotten = [this](const EPROM* image) {
        const auto it = stacks_.find(image);
        if (it == stacks_.end()) return;
        QUndoStack* stack = it->second;
        stacks_.erase(it);
        if (active_ == image) active_ = nullptr;
        delete stack; // leaves the group, which then has no active stack if it was this one
    };
    history_.replayed = [this](EPROM& image) { emit imageRestored(&image); };
}

UndoStacks::~UndoStacks() {
    history_.stepAdded = nullptr;
    history_.forgotten = nullptr;
    history_.replayed = nullptr;
}

QUndoStack* UndoStacks::StackOf(const EPROM& image) {
    auto [it, fresh] = stacks_.try_emplace(&image, nullptr);
    if (fresh) {
        it->second = new QUndoStack(group_);
        group_->addStack(it->second);
        if (active_ == &image && !held_) group_->setActiveStack(it->second);
    }
    return it->second;
}

void UndoStacks::SetActive(const EPROM* image) {
    active_ = image;
    group_->setActiveStack(image != nullptr && !held_ ? StackOf(*image) : nullptr);
}

void UndoStacks::SetHeld(bool held) {
    held_ = held;
    SetActive(active_);
}

HistoryWindow::HistoryWindow(QUndoGroup& group, QWidget* parent) : QWidget(parent, Qt::Tool) {
    setObjectName("frmHistory");
    setWindowTitle("History");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    view_ = new QUndoView(&group, this);
    view_->setObjectName("lstHistory");
    view_->setEmptyLabel("Before the first edit");
    layout->addWidget(view_);
    resize(280, 360);
}

} // namespace kv
