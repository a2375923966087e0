#include "app/SectionScreens.h"

#include "app/AppEnvironment.h"

#include "ui/components/StyledLabel.h"
#include "ui/components/TextStyle.h"
#include "ui/components/ThemeColor.h"

#include <QVBoxLayout>

namespace {

// A screen that has not been built yet: its title, and nothing else.
QWidget *titledPlaceholder(const QString &text, QWidget *parent)
{
    auto *page = new QWidget(parent);
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(24, 20, 24, 20);
    auto *heading = new StyledLabel(text, TextStyle::largeTitle, QFont::Bold, ThemeColor::primary(), page);
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
