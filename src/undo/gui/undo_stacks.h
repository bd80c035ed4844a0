#pragma once
// The images' undo histories on Qt's undo framework: a QUndoStack per image in one QUndoGroup
// (the stack of the image on show is the active one), one command per history step. The
// commands only move the history: a step is already made when its command is pushed, so the
// first redo does nothing.
#include <QObject>
#include <QWidget>

#include <map>

class QUndoGroup;
class QUndoStack;
class QUndoView;

namespace kv {

class EPROM;
class EditHistories;

class UndoStacks final : public QObject {
    Q_OBJECT
public:
    // Follows `history` (which must outlive this object) from now on.
    explicit UndoStacks(EditHistories& history, QObject* parent = nullptr);
    ~UndoStacks() override;

    QUndoGroup* Group() const { return group_; }
    // The stack of an image (made on first use).
    QUndoStack* StackOf(const EPROM& image);
    // The stack that Edit > Undo / Redo and the History window act on; null = none.
    void SetActive(const EPROM* image);
    const EPROM* Active() const { return active_; }
    // While held (a long action such as a live tuning run is still making its step), no stack
    // is active: Undo, Redo and the History window have nothing to act on.
    void SetHeld(bool held);

signals:
    // An undo or redo wrote the image's bytes: what shows them must be filled again.
    void imageRestored(kv::EPROM* image);

private:
    EditHistories& history_;
    QUndoGroup* group_;
    std::map<const EPROM*, QUndoStack*> stacks_;
    const EPROM* active_ = nullptr;
    bool held_ = false;
};

// frmHistory: the steps of the active image (the first line is the image before its first edit);
// clicking a line undoes or redoes up to it.
class HistoryWindow final : public QWidget {
    Q_OBJECT
public:
    HistoryWindow(QUndoGroup& group, QWidget* parent = nullptr);
    QUndoView* View() const { return view_; }

private:
    QUndoView* view_;
};

} // namespace kv
