#include "ui/menubar/MenuServiceRow.h"

#include "ui/components/HoverButton.h"
#include "ui/components/NameRule.h"
#include "ui/components/Palette.h"
#include "ui/components/StatusDot.h"
#include "ui/components/StyledLabel.h"
#include "ui/components/SymbolView.h"
#include "ui/menubar/MenuToggleGlyphButton.h"
#include "ui/menubar/MenuUsageLine.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The open part of the row: a flat button whose content is the row's
// content, faintly tinted under the pointer.
class RowOpenButton : public HoverButton {
public:
    explicit RowOpenButton(QWidget *parent)
        : HoverButton({QPalette::Text, 0.05, 0.1, QMargins(4, 2, 4, 2), 5, 5}, parent)
    {
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    }
    QSize sizeHint() const override { return layout() ? layout()->sizeHint() : QSize(); }
    QSize minimumSizeHint() const override { return layout() ? layout()->minimumSize() : QSize(); }
};

ThemeColor stateColor(ServiceLifecycleState state)
{
    switch (state) {
    case ServiceLifecycleState::running:
        return Palette::Color::green;
    case ServiceLifecycleState::notResponding:
        return Palette::Color::orange;
    case ServiceLifecycleState::stopped:
        return ThemeColor::secondary();
    }
    return ThemeColor::secondary();
}

} // namespace

MenuServiceRow::MenuServiceRow(const ManagedService &service, QWidget *parent)
    : QWidget(parent),
      m_service(service)
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(12, 6, 12, 6);
    row->setSpacing(10);

    m_open = new RowOpenButton(this);
    m_contentLayout = new QHBoxLayout(m_open);
    m_contentLayout->setContentsMargins(0, 0, 0, 0);
    m_contentLayout->setSpacing(10);
    // The 7-point state dot, coloured by the service's state.
    m_dot = new StatusDot(7, stateColor(ServiceLifecycleState::stopped), m_open);
    // The dot stays beside the name line, also above a running row's usage line.
    auto *dotColumn = new QVBoxLayout;
    dotColumn->setSpacing(0);
    m_contentLayout->addLayout(dotColumn);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto *nameLine = new QHBoxLayout;
    nameLine->setSpacing(5);
    m_name = new StyledLabel(NameRule::oneLine(service.name), TextStyle::callout, m_open);
    m_name->setElideMode(Qt::ElideRight);
    m_dotTopPadding = std::max(0, (m_name->sizeHint().height() - 7) / 2);
    m_dotAbove = new QSpacerItem(0, 0, QSizePolicy::Fixed, QSizePolicy::Expanding);
    m_dotBelow = new QSpacerItem(0, 0, QSizePolicy::Fixed, QSizePolicy::Expanding);
    dotColumn->addSpacerItem(m_dotAbove);
    dotColumn->addWidget(m_dot);
    dotColumn->addSpacerItem(m_dotBelow);
    m_dotColumn = dotColumn;
    nameLine->addWidget(m_name, 0);
    m_marker = new SymbolView(QString(), symbolPixelSize(TextStyle::caption2), Palette::Color::orange, m_open);
    m_marker->hide();
    nameLine->addWidget(m_marker);
    nameLine->addStretch(1);
    texts->addLayout(nameLine);
    m_usage = new MenuUsageLine(m_open);
    m_usage->hide();
    texts->addWidget(m_usage);
    m_contentLayout->addLayout(texts, 1);
    for (QWidget *child : m_open->findChildren<QWidget *>())
        child->setAttribute(Qt::WA_TransparentForMouseEvents);
    row->addWidget(m_open, 1);

    m_toggle = new MenuToggleGlyphButton(this);
    row->addWidget(m_toggle, 0, Qt::AlignVCenter);

    connect(m_open, &QAbstractButton::clicked, this, [this] { Q_EMIT openRequested(m_service.id); });
    connect(m_toggle, &QAbstractButton::clicked, this, [this] { Q_EMIT toggleRequested(m_service); });
    setTabOrder(m_open, m_toggle);
}

QString MenuServiceRow::markerSymbol() const
{
    return m_marker->isHidden() ? QString() : m_marker->symbolName();
}

bool MenuServiceRow::showService(const ManagedService &service, const ServiceRuntimeInfo &runtime,
                                 const QString &markerSymbol)
{
    m_service = service;
    const QString name = NameRule::oneLine(service.name);
    if (m_name->text() != name)
        m_name->setText(name);
    if (markerSymbol != this->markerSymbol()) {
        m_marker->setSymbolName(markerSymbol);
        m_marker->setVisible(!markerSymbol.isEmpty());
    }
    const bool running = runtime.state == ServiceLifecycleState::running;
    const QString help =
        running ? name + QStringLiteral(" — ") + MenuUsageLine::details(runtime) : QStringLiteral("Open ") + name;
    if (m_open->toolTip() != help) {
        m_open->setToolTip(help);
        m_open->setAccessibleName(running ? name : help);
    }
    m_toggle->setRunning(running);
    m_toggle->setServiceName(name);
    if (running)
        m_usage->setRuntime(runtime);

    const bool stateChanged = m_state != runtime.state;
    if (stateChanged) {
        m_state = runtime.state;
        m_dot->setColor(stateColor(runtime.state));
        m_usage->setVisible(running);
        // Centred beside a lone name line; beside the name, not the usage line, when running.
        m_dotAbove->changeSize(0, running ? m_dotTopPadding : 0, QSizePolicy::Fixed,
                               running ? QSizePolicy::Fixed : QSizePolicy::Expanding);
        m_dotColumn->invalidate();
    }
    return stateChanged;
}
