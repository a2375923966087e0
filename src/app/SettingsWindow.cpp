#include "app/SettingsWindow.h"

#include "app/SectionScreens.h"
#include "ui/components/AccessibleRole.h"
#include "ui/components/ClickOutsideEditingMonitor.h"

#include <QAction>
#include <QVBoxLayout>

SettingsWindow::SettingsWindow(AppEnvironment &app, QWidget *parent)
    : QWidget(parent, Qt::Window)
{
    setAccessibleRole(this, QAccessible::Window);
    setObjectName(QStringLiteral("settings"));
    setWindowTitle(QStringLiteral("Settings"));
    setAttribute(Qt::WA_DeleteOnClose);
    setMinimumSize(minimumContentSize);
    setMaximumSize(maximumContentSize);
    resize(firstSize);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_screen = makeSettingsScreen(app, this);
    layout->addWidget(m_screen);

    auto *close = new QAction(QStringLiteral("Close"), this);
    close->setShortcut(QKeySequence::Close);
    connect(close, &QAction::triggered, this, &QWidget::close);
    addAction(close);
}

void SettingsWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    installClickOutsideEditingMonitor();
}
