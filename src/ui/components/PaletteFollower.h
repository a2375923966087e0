#pragma once

#include <QObject>

#include <functional>

class QWidget;

// Runs `apply` now and again each time `widget` has taken a new palette (a
// theme switch reaches a widget as a PaletteChange once its own palette is
// resolved). Colours derived from the widget's palette must be computed then:
// on ThemeManager::isDarkChanged a widget may still hold the old palette.
// `apply` may set the widget's palette itself; that change does not call it
// again.
//     followPalette(button, [button] { setEnabledColor(button, QPalette::ButtonText, ...); });
class PaletteFollower final : public QObject {
    Q_OBJECT
public:
    PaletteFollower(QWidget *widget, std::function<void()> apply);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void run();

    std::function<void()> m_apply;
    bool m_applying = false;
};

void followPalette(QWidget *widget, std::function<void()> apply);
