#include "ui/menubar/MenuUsageLine.h"

#include "ui/components/DisplayFormatting.h"
#include "ui/components/LabeledValueText.h"
#include "ui/components/StyledLabel.h"
#include "ui/components/TextStyle.h"

#include <QHBoxLayout>

namespace {
const QString dash = QStringLiteral("—");
}

MenuUsageLine::MenuUsageLine(QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    const QString captions[4] = {QStringLiteral("PID"), QStringLiteral("CPU"), QStringLiteral("RAM"),
                                 QStringLiteral("Up")};
    for (int index = 0; index < 4; ++index) {
        m_pairs[index] = labeledValueText(captions[index], dash, this);
        m_pairs[index]->setTextFont(monospacedFont(TextStyle::caption2));
        m_pairs[index]->valueLabel()->setColor(ThemeColor::secondary());
        layout->addWidget(m_pairs[index]);
    }
    layout->addStretch(1);
}

QString MenuUsageLine::pidText(const ServiceRuntimeInfo &runtime)
{
    return runtime.pid ? QString::number(*runtime.pid) : dash;
}

QString MenuUsageLine::cpuText(double percent)
{
    return QString::asprintf("%.1f%%", percent);
}

QString MenuUsageLine::uptimeText(const ServiceRuntimeInfo &runtime)
{
    return runtime.uptime ? formatDuration(runtime.uptime) : dash;
}

QString MenuUsageLine::details(const ServiceRuntimeInfo &runtime)
{
    return QStringLiteral("PID ") + pidText(runtime) + QStringLiteral(" · CPU ") + cpuText(runtime.cpuPercent)
           + QStringLiteral(" · RAM ") + formatMemoryBytes(runtime.memoryBytes) + QStringLiteral(" · ")
           + uptimeText(runtime);
}

void MenuUsageLine::setRuntime(const ServiceRuntimeInfo &runtime)
{
    const QString values[4] = {pidText(runtime), cpuText(runtime.cpuPercent), formatMemoryBytes(runtime.memoryBytes),
                               uptimeText(runtime)};
    bool changed = false;
    for (int index = 0; index < 4; ++index) {
        if (m_pairs[index]->value() != values[index]) {
            m_pairs[index]->setValue(values[index]);
            changed = true;
        }
    }
    if (changed)
        chooseLayout();
}

bool MenuUsageLine::showsUptime() const
{
    return !m_pairs[3]->isHidden();
}

QString MenuUsageLine::pairValue(int index) const
{
    return m_pairs[index]->value();
}

QSize MenuUsageLine::minimumSizeHint() const
{
    // The compact line: PID, CPU and RAM.
    int width = 0;
    for (int index = 0; index < 3; ++index)
        width += m_pairs[index]->sizeHint().width();
    return {width + 2 * 6, m_pairs[0]->sizeHint().height()};
}

void MenuUsageLine::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    chooseLayout();
}

void MenuUsageLine::chooseLayout()
{
    int full = 3 * 6;
    for (LabeledValueText *pair : m_pairs)
        full += pair->sizeHint().width();
    const bool fits = full <= width();
    if (m_pairs[3]->isHidden() == fits)
        m_pairs[3]->setVisible(fits);
}
