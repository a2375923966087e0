#include "ui/components/NumericTextTransition.h"

#include <QLabel>
#include <QRegularExpression>
#include <QVariantAnimation>

std::optional<NumericTextTransition::Figure> NumericTextTransition::parse(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral(R"(^([^\d-]*)(-?\d+)(?:\.(\d+))?([^\d]*)$)"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    Figure figure;
    figure.prefix = match.captured(1);
    figure.decimals = int(match.capturedLength(3));
    bool ok = false;
    const QString number =
        figure.decimals > 0 ? match.captured(2) + QLatin1Char('.') + match.captured(3) : match.captured(2);
    figure.value = number.toDouble(&ok);
    figure.suffix = match.captured(4);
    if (!ok)
        return std::nullopt;
    return figure;
}

QString NumericTextTransition::format(const Figure &figure, double value)
{
    return figure.prefix + QString::number(value, 'f', figure.decimals) + figure.suffix;
}

NumericTextTransition::NumericTextTransition(QLabel *label)
    : QObject(label),
      m_label(label),
      m_target(label->text()),
      m_count(new QVariantAnimation(this))
{
    m_count->setDuration(durationMs);
    m_count->setEasingCurve(QEasingCurve::OutCubic);
    if (const std::optional<Figure> shown = parse(m_target))
        m_shownValue = shown->value;
}

bool NumericTextTransition::isCounting() const
{
    return m_count->state() == QAbstractAnimation::Running;
}

void NumericTextTransition::setText(const QString &text)
{
    if (text == m_target)
        return;
    const std::optional<Figure> from = parse(m_target);
    const std::optional<Figure> to = parse(text);
    m_target = text;
    m_count->stop();
    m_count->disconnect(this);
    if (!from || !to || from->prefix != to->prefix || from->suffix != to->suffix || !m_label->isVisible()) {
        if (to)
            m_shownValue = to->value;
        m_label->setText(text);
        return;
    }
    m_count->setStartValue(m_shownValue);
    m_count->setEndValue(to->value);
    connect(m_count, &QVariantAnimation::valueChanged, this, [this, target = *to](const QVariant &value) {
        m_shownValue = value.toDouble();
        m_label->setText(format(target, m_shownValue));
    });
    connect(m_count, &QVariantAnimation::finished, this, [this] { m_label->setText(m_target); });
    m_count->start();
}
