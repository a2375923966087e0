#include "app/MenuBarPanel.h"

#include "ui/components/AccessibleRole.h"

#include <QEvent>
#include <QLayout>

#include <algorithm>

MenuBarPanel::MenuBarPanel(QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setAccessibleRole(this, QAccessible::Dialog);
    setAttribute(Qt::WA_ShowWithoutActivating, false);
    // Not a Tab stop: the panel draws no focus of its own, its controls do.
    setFocusPolicy(Qt::ClickFocus);
    setAccessibleName(QStringLiteral("Velmora"));
    resize(panelWidth, 120);
}

void MenuBarPanel::setContent(QWidget *content)
{
    releaseContent();
    m_content = content;
    content->setParent(this);
    content->move(0, 0);
    content->show();
}

void MenuBarPanel::releaseContent()
{
    QWidget *content = m_content.data();
    if (!content)
        return;
    // Released later: the content may be the one whose button closed the panel.
    content->hide();
    content->deleteLater();
    m_content = nullptr;
}

int MenuBarPanel::fittingHeight() const
{
    QWidget *content = m_content.data();
    if (!content)
        return minimumHeight;
    if (QLayout *layout = content->layout())
        layout->activate();
    int height = content->hasHeightForWidth() ? content->heightForWidth(panelWidth) : content->sizeHint().height();
    height = std::max(height, content->minimumSizeHint().height());
    return std::max(minimumHeight, height);
}

bool MenuBarPanel::event(QEvent *event)
{
    if (event->type() == QEvent::WindowDeactivate)
        Q_EMIT deactivated();
    return QWidget::event(event);
}
