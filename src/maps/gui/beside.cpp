#include "maps/gui/beside.h"

#include <QRect>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <array>

namespace kv {

void PlaceBeside(QWidget& tool, const QWidget& anchor) {
    const QScreen* screen = anchor.screen();
    if (screen == nullptr) return;
    const QRect room = screen->availableGeometry();
    const QRect map(anchor.mapToGlobal(QPoint(0, 0)), anchor.size());
    // A window never shown takes its size when it is first shown: take it now. The frame comes
    // on top of the window's own size.
    if (!tool.testAttribute(Qt::WA_Resized)) tool.adjustSize();
    QSize size = tool.frameGeometry().size();
    // Before its first showing a window has no frame yet: count one like the anchor's window has.
    if (size == tool.size()) size += anchor.window()->frameGeometry().size() - anchor.window()->size();
    constexpr int kGap = 8;
    const int top = std::clamp(map.top(), room.top(), std::max(room.top(), room.bottom() - size.height()));
    const int left = std::clamp(map.left(), room.left(), std::max(room.left(), room.right() - size.width()));
    const std::array<QRect, 4> places{
        QRect(QPoint(map.right() + kGap, top), size), QRect(QPoint(map.left() - kGap - size.width(), top), size),
        QRect(QPoint(left, map.bottom() + kGap), size), QRect(QPoint(left, map.top() - kGap - size.height()), size)};
    for (const QRect& place : places) {
        if (room.contains(place)) {
            tool.move(place.topLeft());
            return;
        }
    }
    // No side has room: the widest one, pushed onto the screen.
    const int rightRoom = room.right() - map.right(), leftRoom = map.left() - room.left();
    QPoint at = rightRoom >= leftRoom ? QPoint(room.right() - size.width(), top) : QPoint(room.left(), top);
    at.setX(std::max(at.x(), room.left()));
    tool.move(at);
}

} // namespace kv
