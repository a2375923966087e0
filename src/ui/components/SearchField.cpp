#include "ui/components/SearchField.h"

#include "ui/components/ContrastStyle.h"
#include "ui/components/FocusMark.h"
#include "ui/components/MacTextField.h"
#include "ui/components/SymbolIcon.h"
#include "ui/components/SymbolView.h"
#include "ui/components/ThemeColor.h"
#include "ui/components/ThemeManager.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QToolButton>

SearchField::SearchField(const QString &placeholder, QWidget *parent)
    : QWidget(parent)
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(8, 6, 8, 6);
    row->setSpacing(6);
    row->addWidget(new SymbolView(QStringLiteral("magnifyingglass"), 14, ThemeColor::secondary(), this));
    m_text = new MacTextField(placeholder, MacTextField::Style::plain, false, true, this);
    m_text->setObjectName(QStringLiteral("searchField"));
    m_text->setAccessibleName(placeholder);
    m_text->setFixedHeight(20);
    // The box around the field is the field's face, so it carries the focus mark.
    m_text->installEventFilter(this);
    row->addWidget(m_text, 1);
    m_clear = new QToolButton(this);
    m_clear->setObjectName(QStringLiteral("clearSearchButton"));
    m_clear->setAccessibleName(QStringLiteral("Clear search"));
    m_clear->setAutoRaise(true);
    const auto tint = [this] {
        setButtonSymbol(m_clear, QStringLiteral("xmark.circle.fill"), ThemeColor::tertiary().resolve(), 14);
    };
    tint();
    // A button icon is a picture, not painted per frame: tint it again on a theme switch.
    connect(&ThemeManager::instance(), &ThemeManager::isDarkChanged, m_clear, tint);
    m_clear->setVisible(false);
    row->addWidget(m_clear);
}

void SearchField::showText(const QString &text)
{
    if (m_text->text() != text)
        m_text->setText(text);
    m_clear->setVisible(!text.isEmpty());
}

void SearchField::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    // The edge of a text field: the box is hardly lighter or darker than the sidebar.
    painter.setPen(QPen(ContrastStyle::controlEdgeColor(palette()), 1));
    painter.setBrush(ThemeColor::textBackground().resolve(this));
    painter.drawRoundedRect(box, 8, 8);
    if (m_text->hasFocus())
        paintFocusMark(painter, QRectF(rect()), 8, this);
}

bool SearchField::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_text && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut))
        update();
    return QWidget::eventFilter(watched, event);
}
