#pragma once

#include "ui/components/Palette.h"
#include "ui/components/ThemeColor.h"

#include <QPushButton>
#include <QString>
#include <QWidget>

#include <optional>

class QAbstractButton;
class QHBoxLayout;
class QVariantAnimation;

// Small pieces shared by the service detail view, its run history and the run
// output sheet that the shared components do not offer.
namespace ServiceDetailStyle {

// A capsule label in one colour on a faint fill of it, optionally with a
// symbol: the "New" and "New run" marks and the run count.
class CapsuleBadge : public QWidget {
public:
    CapsuleBadge(const QString &text, ThemeColor color, int horizontalPadding, QWidget *parent = nullptr);
    void setText(const QString &text);
    void setSymbolName(const QString &symbolName);
    QString text() const { return m_text; }
    // Shows or hides the badge; on screen, it fades in growing from 0.94 of its
    // size (0.18 seconds) and fades out shrinking back (0.2 seconds).
    void setShown(bool shown);
    bool isShown() const { return m_shown; }
    static constexpr int appearMs = 180;
    static constexpr int disappearMs = 200;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
    ThemeColor m_color;
    int m_horizontalPadding;
    QString m_symbolName;
    bool m_shown = true;
    // 0 (gone) … 1 (fully there), drawn as opacity and scale.
    qreal m_appearance = 1;
    QVariantAnimation *m_appearing = nullptr;
};

// A flat button whose whole rectangle takes clicks, holding a row of widgets
// (the disclosure toggles and the run row's summary).
class RowButton : public QPushButton {
    Q_OBJECT
public:
    explicit RowButton(QWidget *parent = nullptr);
    QHBoxLayout *row() const { return m_row; }
    void addToRow(QWidget *widget, int stretch = 0);
    // For a row that opens and closes a section: assistive technologies read
    // it as expanded or collapsed. A row never set is neither.
    void setExpanded(bool expanded);
    std::optional<bool> isExpanded() const { return m_expanded; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QHBoxLayout *m_row;
    std::optional<bool> m_expanded;
};

// Shows or hides a section's content. Animated, it unfolds or folds over 0.15
// seconds with an ease-in-out curve; unanimated, it jumps there, unless an
// animation towards the same state is already running, which then finishes.
void setRevealed(QWidget *content, bool revealed, bool animated);
constexpr int revealDurationMs = 150;

// Gives a button its symbol and, with a tint, its text and symbol colour; the
// colours follow the button's palette, so theme switches too.
void tintButton(QAbstractButton *button, const QString &symbolName, std::optional<Palette::Color> tint = std::nullopt);

} // namespace ServiceDetailStyle
