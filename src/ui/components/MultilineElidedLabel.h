#pragma once

#include "ui/components/StyledLabel.h"

class QFont;

// A styled label that wraps onto at most `maximumLines` lines (breaking
// inside a word only when a word is wider than a line) and, when the text
// needs more, cuts it in the middle with an ellipsis so that its start and
// its end both stay readable. text() keeps the whole text.
class MultilineElidedLabel : public StyledLabel {
    Q_OBJECT
public:
    MultilineElidedLabel(const QString &text, int maximumLines, TextStyle style, QFont::Weight weight, ThemeColor color,
                         QWidget *parent = nullptr);

    // `text` as it is drawn in `width` pixels with `font`: unchanged when it
    // fits in `maximumLines` lines, otherwise its longest middle-cut form that does.
    static QString fittedText(const QString &text, const QFont &font, int width, int maximumLines);
    // The number of lines `text` takes in `width` pixels.
    static int lineCount(const QString &text, const QFont &font, int width);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_maximumLines;
};
