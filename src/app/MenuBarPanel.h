#pragma once

#include <QPointer>
#include <QWidget>

// The tray panel's window: frameless, a tool window that stays on top and
// takes the keyboard focus (its content holds the sudo password field), and
// never becomes the main window. It hosts one content view at a time.
class MenuBarPanel : public QWidget {
    Q_OBJECT
public:
    static constexpr int panelWidth = 320;
    static constexpr int minimumHeight = 80;

    explicit MenuBarPanel(QWidget *parent = nullptr);

    // Replaces (and releases) the earlier content.
    void setContent(QWidget *content);
    void releaseContent();
    QWidget *content() const { return m_content.data(); }
    // The content's height at the panel's width, at least minimumHeight.
    int fittingHeight() const;

Q_SIGNALS:
    void deactivated();

protected:
    bool event(QEvent *event) override;

private:
    QPointer<QWidget> m_content;
};
