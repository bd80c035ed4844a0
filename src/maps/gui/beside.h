#pragma once
// Tool windows of the map tabs ("Auto tune", the comparison summary) open beside the map they
// work on, not over it.
class QWidget;

namespace kv {

// Moves the window `tool` next to `anchor` (right of it, else left of it, else below it, else
// above it, on the screen that shows the anchor); where none of these has room, to the side with
// the most room, kept on the screen.
void PlaceBeside(QWidget& tool, const QWidget& anchor);

} // namespace kv
