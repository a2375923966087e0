#pragma once

#include <QPointer>
#include <QWidget>

// An invisible widget that takes a window's initial keyboard focus, so that no
// text field shows a cursor when a window or sheet opens. Put it first among
// the window's widgets; once the window is active it claims the focus once,
// under the window's title as its accessible name, and lifts the focus rule
// of every text input in the window. Tab then moves into
// the first field; a click goes straight to the field clicked:
//     layout->addWidget(new InitialFocusSink);   // first, before the fields
class InitialFocusSink : public QWidget {
    Q_OBJECT
public:
    explicit InitialFocusSink(QWidget *parent = nullptr);

    bool didSetInitialFocus() const { return m_didSetInitialFocus; }
    // Whether the sink takes the focus from `current` (the window's focus widget).
    bool shouldTakeFocus(const QWidget *current) const;

    QSize sizeHint() const override { return {0, 0}; }

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void claimInitialFocus();
    void claimFocusOnce();
    void stopObserving();

    bool m_didSetInitialFocus = false;
    QPointer<QWidget> m_observedWindow;
};
