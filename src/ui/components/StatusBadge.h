#pragma once

#include "ui/components/ThemeColor.h"

#include <QWidget>

class QPainter;

// A capsule with a dot and a short state text, all in one colour:
//     auto *badge = new StatusBadge(QStringLiteral("Running"), Palette::Color::green);
//     badge->setState(QStringLiteral("Stopped"), ThemeColor::secondary());   // on a tick
class StatusBadge : public QWidget {
    Q_OBJECT
public:
    explicit StatusBadge(const QString &text = QString(), ThemeColor color = ThemeColor::secondary(),
                         QWidget *parent = nullptr);

    QString text() const { return m_text; }
    ThemeColor color() const { return m_color; }
    void setState(const QString &text, ThemeColor color);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    // The same capsule for views that draw their rows themselves (list delegates).
    static QSize capsuleSize(const QString &text);
    // The text and dot take the shade of `color` that reads on the capsule over
    // each of `backdrops` (by default every surface of the theme).
    static void paintCapsule(QPainter &painter, const QRectF &capsule, const QString &text, const QColor &color,
                             const QList<QColor> &backdrops = {});

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
    ThemeColor m_color;
};
