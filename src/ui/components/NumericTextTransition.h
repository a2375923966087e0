#pragma once

#include <QObject>
#include <QString>

#include <optional>

class QLabel;
class QVariantAnimation;

// Changes a label's figure by counting to it: "12.0%" becomes "23.4%" through
// the figures between over 0.3 seconds, with the new text's decimals. A text
// whose words differ (another unit, "—") or a label off screen changes at once.
//     m_transition = new NumericTextTransition(m_valueLabel);
//     m_transition->setText(QStringLiteral("23.4%"));
class NumericTextTransition final : public QObject {
    Q_OBJECT
public:
    static constexpr int durationMs = 300;

    // A text as its words around one decimal figure.
    struct Figure {
        QString prefix;
        double value = 0;
        int decimals = 0;
        QString suffix;
    };
    static std::optional<Figure> parse(const QString &text);
    static QString format(const Figure &figure, double value);

    explicit NumericTextTransition(QLabel *label);

    void setText(const QString &text);
    // The text counted to: the label shows it once the count ends.
    const QString &text() const { return m_target; }
    bool isCounting() const;

private:
    QLabel *m_label;
    QString m_target;
    QVariantAnimation *m_count;
    double m_shownValue = 0;
};
