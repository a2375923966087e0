#pragma once

#include <QAbstractButton>

// A row's start/stop toggle: "stop.fill" in red while the service runs,
// "play.fill" in green otherwise, on a pale rounded square of the same colour.
class MenuToggleGlyphButton : public QAbstractButton {
    Q_OBJECT
    Q_PROPERTY(QString symbolName READ symbolName)
public:
    explicit MenuToggleGlyphButton(QWidget *parent = nullptr);

    void setRunning(bool running);
    bool isRunning() const { return m_running; }
    QString symbolName() const;
    QSize sizeHint() const override { return {22, 22}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_running = false;
};
