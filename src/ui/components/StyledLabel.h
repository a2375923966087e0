#pragma once

#include "ui/components/TextStyle.h"
#include "ui/components/ThemeColor.h"

#include <QLabel>

class QTextLayout;

// A label in one of the text styles and theme colours. Plain text by default
// (data never turns into markup). Secondary and tertiary colours follow the
// text colour the label inherits, so inside a selected sidebar row they take
// the row's tint. With an elide mode the label stays on one line and ends in
// an ellipsis when it is too narrow. A wrapping label that is not selectable
// also breaks inside a word longer than its line (a token, a path), so a long
// word never makes its view wider:
//     auto *name = new StyledLabel(service.name, TextStyle::headline);
//     auto *when = new StyledLabel(text, TextStyle::caption, QFont::Normal, ThemeColor::tertiary());
class StyledLabel : public QLabel {
    Q_OBJECT
public:
    explicit StyledLabel(const QString &text = QString(), TextStyle style = TextStyle::body, QWidget *parent = nullptr);
    StyledLabel(const QString &text, TextStyle style, QFont::Weight weight, ThemeColor color = ThemeColor::primary(),
                QWidget *parent = nullptr);

    void setTextStyle(TextStyle style, QFont::Weight weight);
    void setTextStyle(TextStyle style);
    void setMonospaced(bool monospaced);
    // Digits of equal width, so changing figures keep their place.
    void setTabularDigits(bool tabular);
    TextStyle textStyle() const { return m_style; }

    void setColor(ThemeColor color);
    ThemeColor color() const { return m_color; }
    // The colour the label draws its text with right now.
    QColor resolvedColor() const;

    void setElideMode(Qt::TextElideMode mode);
    Qt::TextElideMode elideMode() const { return m_elideMode; }
    // At most this many lines when wrapping (0: no limit); the rest is cut.
    void setMaximumLineCount(int lines);

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void applyFont();
    void applyColor();
    QColor inheritedForeground() const;
    void applyLineLimit();
    // Wrapping at word boundaries, or anywhere inside a word too long for the line.
    bool wrapsAnywhere() const;
    void layOutAnywhere(QTextLayout &layout, int width) const;

    TextStyle m_style = TextStyle::body;
    std::optional<QFont::Weight> m_weight;
    bool m_monospaced = false;
    bool m_tabularDigits = false;
    ThemeColor m_color = ThemeColor::primary();
    Qt::TextElideMode m_elideMode = Qt::ElideNone;
    int m_maximumLines = 0;
    bool m_applyingColor = false;
    mutable int m_measuredWidth = -1;
    mutable int m_measuredHeight = 0;
    mutable QString m_measuredText;
};
