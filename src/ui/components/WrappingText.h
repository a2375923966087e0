#pragma once

#include "ui/components/TextStyle.h"

#include <QTextEdit>

// Read-only, selectable text that wraps at word boundaries and, where a token
// is longer than the line (a bearer token, a 10,000-character command),
// anywhere inside it, so it never makes its view wider than the window. Its
// height follows its width; copying gives the text exactly as set.
//     auto *command = new WrappingText(TextStyle::body, /*monospaced=*/true);
//     command->setText(service.command);
class WrappingText final : public QTextEdit {
    Q_OBJECT
public:
    explicit WrappingText(TextStyle style = TextStyle::body, bool monospaced = false, QWidget *parent = nullptr);

    void setText(const QString &text);
    QString text() const { return m_text; }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    QString m_text;
    // Layouts ask for the same width many times; the text is laid out once per width.
    mutable int m_measuredWidth = -1;
    mutable int m_measuredHeight = 0;
};
