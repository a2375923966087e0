#pragma once

#include <QObject>
#include <QPointer>

class QWidget;

// Ends text editing when the user clicks outside the field being edited: a
// left press anywhere else in one of our windows commits the typed text and
// takes the focus from the field, after the press itself was handled (so a
// click into another field just moves there). The press always goes on to its
// target. The main window and the Settings window both call
// installClickOutsideEditingMonitor() when they appear; it installs once.
void installClickOutsideEditingMonitor();
// Commits any edit in the active window and leaves it without a focus widget.
void endEditingInKeyWindow();

class ClickOutsideEditingMonitor : public QObject {
    Q_OBJECT
public:
    // The installed monitor, or none.
    static ClickOutsideEditingMonitor *installed();

    bool eventFilter(QObject *watched, QEvent *event) override;

    // The text input being edited in `window` (a line edit, or the scroll
    // area of a text view), or none.
    static QWidget *activeEditingControl(QWidget *window);
    static bool isStillEditing(QWidget *control, QWidget *window);
    static void endEditingIfStillActive(QWidget *control, QWidget *window);
    // How many presses the monitor has looked at (each once).
    int handledPresses() const { return m_handledPresses; }

private:
    explicit ClickOutsideEditingMonitor(QObject *parent);
    friend void installClickOutsideEditingMonitor();
    void handleMouseDownForEditing(QWidget *window, const QPointF &windowPosition);

    int m_handledPresses = 0;
};
