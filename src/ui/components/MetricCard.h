#pragma once

#include "ui/components/SurfaceCard.h"
#include "ui/components/ThemeColor.h"

#include <optional>

class QLabel;
class NumericTextTransition;
class StyledLabel;
class SymbolView;
class MetricProgressBar;

// A surface card with a figure: an optional symbol tile, the title, the value
// in a large font, an optional thin progress bar and an optional two-line
// subtitle. Absent parts take no space. Screens build one per figure and
// update it in place on every tick:
//     auto *cpu = new MetricCard(QStringLiteral("CPU"), QStringLiteral("0.0%"), std::nullopt,
//                                QStringLiteral("cpu"), Palette::Color::blue, 0.0);
//     cpu->setValue(QStringLiteral("12.5%")); cpu->setProgress(0.125);
class MetricCard : public SurfaceCard {
    Q_OBJECT
public:
    MetricCard(const QString &title, const QString &value, const std::optional<QString> &subtitle = std::nullopt,
               const std::optional<QString> &systemImage = std::nullopt, ThemeColor tint = Palette::Color::slate,
               std::optional<double> progress = std::nullopt, QWidget *parent = nullptr);

    void setTitle(const QString &title);
    void setValue(const QString &value);
    void setSubtitle(const std::optional<QString> &subtitle);
    void setSystemImage(const std::optional<QString> &systemImage);
    void setTint(ThemeColor tint);
    void setProgress(std::optional<double> progress);

    QString title() const;
    QString value() const;
    std::optional<QString> subtitle() const;
    std::optional<double> progress() const { return m_progress; }
    // The bar's fill after clamping to 0...1; absent without a bar.
    std::optional<double> shownProgress() const;
    ThemeColor tint() const { return m_tint; }

private:
    ThemeColor m_tint;
    std::optional<double> m_progress;
    QWidget *m_iconTile;
    SymbolView *m_icon;
    StyledLabel *m_title;
    StyledLabel *m_value;
    NumericTextTransition *m_valueTransition = nullptr;
    MetricProgressBar *m_bar;
    StyledLabel *m_subtitle;
};

// A thin rounded bar of the tint on a faint track; the value is clamped to 0...1.
class MetricProgressBar : public QWidget {
    Q_OBJECT
public:
    explicit MetricProgressBar(ThemeColor tint, QWidget *parent = nullptr);
    void setValue(double value);
    double value() const { return m_value; }
    void setTint(ThemeColor tint);
    QSize sizeHint() const override { return {80, 6}; }
    QSize minimumSizeHint() const override { return {12, 6}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    ThemeColor m_tint;
    double m_value = 0;
};
