#pragma once

#include <QIcon>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QToolButton>

class QSystemTrayIcon;

// The application's place on the desktop's panel, from which the tray panel
// hangs: the tray icon when the desktop has a tray, otherwise a button in the
// main window's toolbar. Either reports a click as `activated` and tells where
// the panel goes through `anchorRect`.
class StatusItem : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // In global coordinates; null when the item cannot tell.
    virtual QRect anchorRect() const = 0;
    // Whether a press at `globalPosition` lands on the item itself (its own
    // activation then toggles the panel).
    virtual bool contains(const QPoint &globalPosition) const;
    virtual void setHighlighted(bool highlighted);

Q_SIGNALS:
    void activated();
};

// The tray icon (StatusNotifierItem or XEmbed): tooltip "Velmora", no context
// menu; a left, right or middle click activates it.
class TrayStatusItem : public StatusItem {
    Q_OBJECT
public:
    explicit TrayStatusItem(const QIcon &icon, QObject *parent = nullptr);
    ~TrayStatusItem() override;

    // Its geometry when the tray reports one, else a small box around the
    // pointer at the last activation (StatusNotifierItem hosts report none).
    QRect anchorRect() const override;
    QSystemTrayIcon *trayIcon() const { return m_tray; }

private:
    QSystemTrayIcon *m_tray;
    QPoint m_lastActivationPosition;
};

// The main window's stand-in while no tray is available: a tool button with
// the status symbol that toggles the same panel under itself.
class ToolButtonStatusItem : public StatusItem {
    Q_OBJECT
public:
    ToolButtonStatusItem(const QIcon &icon, QObject *parent = nullptr);
    ~ToolButtonStatusItem() override;

    QRect anchorRect() const override;
    void setHighlighted(bool highlighted) override;
    // The button, to be placed in the main window (which then owns it).
    QToolButton *button() const { return m_button.data(); }

private:
    QPointer<QToolButton> m_button;
};
