#include "app/SectionScreens.h"

#include "app/AppEnvironment.h"

#include <QLabel>
#include <QVBoxLayout>

namespace {

// A screen that has not been built yet: its title, and nothing else.
QWidget *titledPlaceholder(const QString &text, QWidget *parent)
{
    auto *page = new QWidget(parent);
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(24, 20, 24, 20);
    auto *heading = new QLabel(text, page);
    heading->setTextFormat(Qt::PlainText);
    QFont font = heading->font();
    font.setPointSizeF(font.pointSizeF() * 2.0);
    font.setBold(true);
    heading->setFont(font);
    heading->setAccessibleName(text);
    layout->addWidget(heading);
    layout->addStretch();
    return page;
}

} // namespace

QWidget *makeSectionScreen(AppSection section, AppEnvironment &, QWidget *parent)
{
    return titledPlaceholder(title(section), parent);
}

QWidget *makeSettingsScreen(AppEnvironment &, QWidget *parent)
{
    return titledPlaceholder(QStringLiteral("Settings"), parent);
}
