#pragma once

class QScrollArea;
class QWidget;

// Scrolling a control that took the keyboard focus into view.
namespace FocusReveal {

// Scrolls `area` so that `focused`, a control in its content, shows whole
// (with a little room around it where the viewport has it), or as much of it
// as the viewport holds, from its start. QScrollArea::ensureWidgetVisible
// shows a text field's cursor rather than the field, one line of a tall
// console, and moves along an axis whose scroll bar is off, where a shift
// hides the content's edge with no way back; here such an axis never moves.
void reveal(QScrollArea &area, QWidget &focused);

} // namespace FocusReveal
