#pragma once

#include <QAbstractButton>

// A row's start/stop toggle: "stop.fill" in red while the service runs,
// "play.fill" in green otherwise, on a pale rounded square of the same colour.
// Its tooltip is "Stop" or "Start"; its accessible name adds the service's name.
class MenuToggleGlyphButton : public QAbstractButton {
    Q_OBJECT
    Q_PROPERTY(QString symbolName READ symbolName)
public:
    explicit MenuToggleGlyphButton(QWidget *parent = nullptr);

    void setRunning(bool running);
    bool isRunning() const { return m_running; }
    // The service it starts or stops, for its accessible name ("Start Web server").
    void setServiceName(const QString &name);
    QString symbolName() const;
    QSize sizeHint() const override { return {22, 22}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void updateAccessibleName();

    bool m_running = false;
    QString m_serviceName;
};
