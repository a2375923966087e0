#pragma once

#include "ui/components/Palette.h"

#include <QPushButton>

// A filled push button for a sheet's or a list's main action, tinted with a
// palette colour read while painting (so it follows the theme); dimmed while
// disabled.
class ProminentButton final : public QPushButton {
    Q_OBJECT
public:
    explicit ProminentButton(const QString &text, Palette::Color tint = Palette::Color::blue,
                             QWidget *parent = nullptr);

    Palette::Color tint() const { return m_tint; }
    // A symbol drawn before the text, in the text's colour.
    void setSymbolName(const QString &symbolName);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Palette::Color m_tint;
    QString m_symbolName;
};
