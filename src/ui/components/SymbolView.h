#pragma once

#include "ui/components/ThemeColor.h"

#include <QWidget>

// One symbol drawn in a theme colour, centred in a fixed box; repaints itself
// on a theme switch. Its name is in the "symbolName" property:
//     auto *icon = new SymbolView(QStringLiteral("terminal"), 22, ThemeColor::quaternary());
class SymbolView : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString symbolName READ symbolName WRITE setSymbolName)
public:
    explicit SymbolView(const QString &symbolName = QString(), int symbolSize = 16,
                        ThemeColor color = ThemeColor::primary(), QWidget *parent = nullptr);

    QString symbolName() const { return m_symbolName; }
    void setSymbolName(const QString &name);
    void setColor(ThemeColor color);
    ThemeColor color() const { return m_color; }
    // For a symbol that alone tells a state (a secret's lock): its colour in the
    // shade that keeps `ratio` on every surface of the theme.
    void setMinimumContrast(qreal ratio);
    // The box may be larger than the symbol (e.g. a 16 symbol in a 28 frame).
    void setSymbolSize(int size);
    void setBoxSize(QSize size);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_symbolName;
    int m_symbolSize;
    QSize m_boxSize;
    ThemeColor m_color;
    qreal m_minimumContrast = 1;
};
