#include "ui/screens/services/ServiceRunOutputSheet.h"

#include "ui/components/ConsoleOutputView.h"
#include "ui/components/DisplayFormatting.h"
#include "ui/components/StatusBadge.h"
#include "ui/screens/services/ServiceDetailViewStyle.h"
#include "ui/screens/services/ServiceRunHistoryRow.h"
#include "ui/screens/services/ServiceRunHistoryRowOutcome.h"

#include <QCheckBox>
#include <QClipboard>
#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

ServiceRunOutputSheet::ServiceRunOutputSheet(const ServiceRunRecord &record, QWidget *parent)
    : QDialog(parent),
      m_record(record)
{
    setWindowModality(Qt::WindowModal);
    setFixedSize(sheetWidth, sheetHeight);
    setWindowTitle(QStringLiteral("Run Output \u2014 ") + formatOptionalDate(record.startedAt));

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(16, 12, 16, 16);
    column->setSpacing(12);

    auto *toolbar = new QHBoxLayout;
    toolbar->setSpacing(10);
    auto *badge = new StatusBadge(outcomeLabel(record), outcomePaletteColor(record), this);
    badge->setObjectName(QStringLiteral("outcomeBadge"));
    toolbar->addWidget(badge);
    toolbar->addStretch(1);

    m_autoScroll = new QCheckBox(QStringLiteral("Auto-scroll"), this);
    m_autoScroll->setChecked(true);
    toolbar->addWidget(m_autoScroll);

    m_copyButton = new QPushButton(QStringLiteral("Copy"), this);
    ServiceDetailStyle::tintButton(m_copyButton, QStringLiteral("doc.on.doc"));
    m_copyButton->setEnabled(false);
    m_copyButton->setAutoDefault(false);
    connect(m_copyButton, &QPushButton::clicked, this, &ServiceRunOutputSheet::copyOutput);
    toolbar->addWidget(m_copyButton);

    auto *closeButton = new QPushButton(QStringLiteral("Close"), this);
    closeButton->setObjectName(QStringLiteral("closeButton"));
    closeButton->setAutoDefault(false);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
    toolbar->addWidget(closeButton);
    column->addLayout(toolbar);

    m_console = new ConsoleOutputView(this);
    m_console->setObjectName(QStringLiteral("console"));
    m_console->setOutputName(QStringLiteral("Run Output"));
    column->addWidget(m_console, 1);
    m_failure = new QLabel(this);
    m_failure->setObjectName(QStringLiteral("readFailure"));
    m_failure->setWordWrap(true);
    m_failure->setAlignment(Qt::AlignCenter);
    m_failure->hide();
    column->addWidget(m_failure, 1);
    if (record.output.isHeld())
        setOutput(record.output.text());
    connect(m_autoScroll, &QCheckBox::toggled, this, [this](bool on) { m_console->setAutoScroll(on); });
}

bool ServiceRunOutputSheet::autoScroll() const
{
    return m_autoScroll->isChecked();
}

void ServiceRunOutputSheet::setOutput(const QString &output)
{
    m_output = output;
    m_console->setContent(m_output, m_autoScroll->isChecked());
    m_copyButton->setEnabled(!m_output.isEmpty());
    // The scroll range of a long text is final only once the sheet has laid it out.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_autoScroll->isChecked())
                m_console->scrollToEnd();
        },
        Qt::QueuedConnection);
}

void ServiceRunOutputSheet::showReadFailure(const QString &message)
{
    m_console->hide();
    m_failure->setText(QStringLiteral("The output couldn’t be read.\n\n%1").arg(message));
    m_failure->show();
}

void ServiceRunOutputSheet::copyOutput()
{
    if (m_output.isEmpty())
        return;
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(m_output);
}
