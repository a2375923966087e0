#include "ui/screens/services/ServiceRunHistorySection.h"

#include "records/FileStoreError.h"
#include "ui/components/TitledMessageBox.h"
#include "ui/components/StyledLabel.h"
#include "ui/components/SurfaceCard.h"
#include "ui/components/SymbolView.h"
#include "ui/components/TextStyle.h"
#include "ui/screens/services/ServicesController.h"
#include "ui/screens/services/ServiceDetailViewStyle.h"
#include "ui/screens/services/ServiceRunHistoryRow.h"
#include "ui/screens/services/ServiceRunOutputSheet.h"

#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

using ServiceDetailStyle::CapsuleBadge;
using ServiceDetailStyle::RowButton;

ServiceRunHistorySection::ServiceRunHistorySection(ServicesController &controller, QWidget *parent)
    : QWidget(parent),
      m_controller(controller)
{
    m_newRunTimer.setSingleShot(true);
    m_newRunTimer.setInterval(newRunMarkDuration);
    connect(&m_newRunTimer, &QTimer::timeout, this, &ServiceRunHistorySection::endNewRunMark);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);

    // The rows below are cards with shadow room at their sides; the header
    // keeps to their visible edges.
    auto *header = new QHBoxLayout;
    header->setContentsMargins(SurfaceCard::shadowMargin, 0, SurfaceCard::shadowMargin, 0);
    header->setSpacing(10);
    m_toggle = new RowButton(this);
    m_toggle->setObjectName(QStringLiteral("runHistoryToggle"));
    m_toggle->setAccessibleName(QStringLiteral("Run History"));
    m_toggle->addToRow(new SymbolView(QStringLiteral("clock.arrow.circlepath"), symbolPixelSize(TextStyle::title3),
                                      ThemeColor::secondary()));
    m_toggle->addToRow(new StyledLabel(QStringLiteral("Run History"), TextStyle::title3, QFont::DemiBold));
    m_countBadge = new CapsuleBadge(QString(), ThemeColor::secondary(), 6);
    m_countBadge->setObjectName(QStringLiteral("countBadge"));
    m_toggle->addToRow(m_countBadge);
    m_newRunBadge = new CapsuleBadge(QStringLiteral("New run"), Palette::Color::slate, 7);
    m_newRunBadge->setObjectName(QStringLiteral("newRunBadge"));
    m_newRunBadge->setSymbolName(QStringLiteral("sparkles"));
    m_toggle->addToRow(m_newRunBadge);
    m_chevron =
        new SymbolView(QStringLiteral("chevron.right"), symbolPixelSize(TextStyle::caption), ThemeColor::tertiary());
    m_toggle->addToRow(m_chevron);
    connect(m_toggle, &QPushButton::clicked, this, [this] { setExpanded(!m_isExpanded, true); });
    header->addWidget(m_toggle);
    header->addStretch(1);

    m_clearAllButton = new QPushButton(QStringLiteral("Clear All"), this);
    m_clearAllButton->setObjectName(QStringLiteral("clearAllButton"));
    m_clearAllButton->setFlat(true);
    m_clearAllButton->setFont(textStyleFont(TextStyle::callout));
    ServiceDetailStyle::tintButton(m_clearAllButton, QString(), Palette::Color::red);
    connect(m_clearAllButton, &QPushButton::clicked, this, &ServiceRunHistorySection::confirmClearHistory);
    header->addWidget(m_clearAllButton);
    column->addLayout(header);

    m_body = new QWidget(this);
    auto *bodyColumn = new QVBoxLayout(m_body);
    bodyColumn->setContentsMargins(0, 0, 0, 0);
    m_emptyCard = new SurfaceCard(16, m_body);
    m_emptyCard->setObjectName(QStringLiteral("emptyCard"));
    m_emptyCard->contentLayout()->addWidget(new StyledLabel(QStringLiteral("No runs recorded yet"), TextStyle::callout,
                                                            QFont::Normal, ThemeColor::secondary()));
    bodyColumn->addWidget(m_emptyCard);
    m_rowsBox = new QWidget(m_body);
    m_rowsLayout = new QVBoxLayout(m_rowsBox);
    m_rowsLayout->setContentsMargins(0, 0, 0, 0);
    m_rowsLayout->setSpacing(8);
    bodyColumn->addWidget(m_rowsBox);
    column->addWidget(m_body);

    connect(&controller, &ServicesController::runRecordsChanged, this, &ServiceRunHistorySection::refreshRecords);
    connect(&controller, &ServicesController::latestAddedRunRecordIDChanged, this,
            &ServiceRunHistorySection::markNewRun);
    refreshRecords();
    syncRows();
    refreshHeader();
}

ServiceRunHistorySection::~ServiceRunHistorySection()
{
    // The sheet and the confirmation are separate windows owned by this section.
    delete m_outputSheet;
    delete m_clearConfirmation;
}

void ServiceRunHistorySection::setServiceId(const QUuid &serviceId)
{
    if (serviceId == m_serviceId)
        return;
    m_serviceId = serviceId;
    resetState();
    refreshRecords();
    syncRows();
    refreshHeader();
}

void ServiceRunHistorySection::resetState()
{
    m_isExpanded = false;
    m_expandedRunIDs.clear();
    m_newRunTimer.stop();
    m_newRunHistoryRecordID.reset();
    if (m_outputSheet)
        m_outputSheet->close();
    if (m_clearConfirmation)
        m_clearConfirmation->close();
    qDeleteAll(m_rows);
    m_rows.clear();
    m_rowOrder.clear();
    m_records.clear();
}

void ServiceRunHistorySection::setExpanded(bool expanded, bool animated)
{
    if (expanded == m_isExpanded)
        return;
    m_isExpanded = expanded;
    syncRows(animated);
    refreshHeader();
}

QList<ServiceRunHistoryRow *> ServiceRunHistorySection::rows() const
{
    QList<ServiceRunHistoryRow *> rows;
    for (const QUuid &id : m_rowOrder)
        rows.append(m_rows.value(id));
    return rows;
}

void ServiceRunHistorySection::refreshRecords()
{
    QList<ServiceRunRecord> records;
    if (!m_serviceId.isNull())
        records = m_controller.runRecords(m_serviceId);
    if (records == m_records)
        return;
    m_records = std::move(records);
    syncRows();
    refreshHeader();
}

// Brings the rows in line with the records: rows of runs still listed keep
// their widgets (and their expanded state); only new runs get new rows.
void ServiceRunHistorySection::syncRows(bool animated)
{
    ServiceDetailStyle::setRevealed(m_body, m_isExpanded, animated);
    if (!m_isExpanded)
        return;
    m_emptyCard->setVisible(m_records.isEmpty());
    m_rowsBox->setVisible(!m_records.isEmpty());

    QList<QUuid> order;
    order.reserve(m_records.size());
    for (const ServiceRunRecord &record : m_records) {
        order.append(record.id);
        ServiceRunHistoryRow *row = m_rows.value(record.id);
        if (!row) {
            row = new ServiceRunHistoryRow(record, m_rowsBox);
            const QUuid id = record.id;
            connect(row, &ServiceRunHistoryRow::toggleExpandRequested, this, [this, id] { toggleRun(id); });
            connect(row, &ServiceRunHistoryRow::deleteRequested, this, [this, id] { deleteRun(id); });
            connect(row, &ServiceRunHistoryRow::viewOutputRequested, this, [this, id] { viewOutput(id); });
            m_rows.insert(id, row);
        } else {
            row->setRecord(record);
        }
        row->setExpanded(m_expandedRunIDs.contains(record.id));
        row->setNew(m_newRunHistoryRecordID == record.id);
    }
    for (auto it = m_rows.begin(); it != m_rows.end();) {
        if (!order.contains(it.key())) {
            delete it.value();
            it = m_rows.erase(it);
        } else {
            ++it;
        }
    }
    if (order != m_rowOrder) {
        for (const QUuid &id : order)
            m_rowsLayout->removeWidget(m_rows.value(id));
        for (const QUuid &id : order)
            m_rowsLayout->addWidget(m_rows.value(id));
        m_rowOrder = order;
    }
}

void ServiceRunHistorySection::refreshHeader()
{
    const qsizetype count = m_records.size();
    m_countBadge->setVisible(count > 0);
    m_countBadge->setText(QString::number(count));
    m_newRunBadge->setShown(m_newRunHistoryRecordID.has_value());
    m_chevron->setSymbolName(m_isExpanded ? QStringLiteral("chevron.down") : QStringLiteral("chevron.right"));
    m_toggle->setToolTip(m_isExpanded ? QStringLiteral("Collapse run history") : QStringLiteral("Expand run history"));
    m_toggle->setExpanded(m_isExpanded);
    m_clearAllButton->setVisible(m_isExpanded && count > 0);
}

void ServiceRunHistorySection::toggleRun(const QUuid &recordId)
{
    if (!m_expandedRunIDs.remove(recordId))
        m_expandedRunIDs.insert(recordId);
    if (ServiceRunHistoryRow *row = m_rows.value(recordId))
        row->setExpanded(m_expandedRunIDs.contains(recordId), true);
}

void ServiceRunHistorySection::deleteRun(const QUuid &recordId)
{
    m_controller.deleteRunRecord(recordId);
}

void ServiceRunHistorySection::viewOutput(const QUuid &recordId)
{
    const auto found = std::find_if(m_records.cbegin(), m_records.cend(),
                                    [&](const ServiceRunRecord &record) { return record.id == recordId; });
    if (found == m_records.cend())
        return;
    delete m_outputSheet;
    auto *sheet = new ServiceRunOutputSheet(*found, this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    m_outputSheet = sheet;
    sheet->open();
    if (!found->output.isHeld())
        loadOutput(sheet, recordId);
}

QCoro::Task<> ServiceRunHistorySection::loadOutput(QPointer<ServiceRunOutputSheet> sheet, QUuid recordId)
{
    try {
        const QString output = co_await m_controller.runOutput(recordId);
        if (sheet)
            sheet->setOutput(output);
    } catch (const FileStoreError &error) {
        if (sheet)
            sheet->showReadFailure(error.message());
    }
}

void ServiceRunHistorySection::confirmClearHistory()
{
    if (m_clearConfirmation)
        return;
    auto *confirmation = new TitledMessageBox(
        QMessageBox::Warning, QStringLiteral("Clear run history?"),
        QStringLiteral("Deletes all recorded runs for this service. This cannot be undone."), this);
    QPushButton *clearButton = confirmation->addDestructiveButton(QStringLiteral("Clear All"));
    confirmation->addCancelButton();
    confirmation->setAttribute(Qt::WA_DeleteOnClose);
    const QUuid serviceId = m_serviceId;
    connect(confirmation, &QMessageBox::buttonClicked, this, [this, clearButton, serviceId](QAbstractButton *button) {
        if (button == clearButton)
            m_controller.clearRunHistory(serviceId);
    });
    m_clearConfirmation = confirmation;
    confirmation->open();
}

// Marks a just-recorded run of this service for a while; a run of another
// service leaves the mark alone, and a newer run of this one takes it over.
void ServiceRunHistorySection::markNewRun()
{
    const std::optional<QUuid> latest = m_controller.latestAddedRunRecordID();
    if (!latest || m_serviceId.isNull())
        return;
    refreshRecords();
    const bool ownRun = std::any_of(m_records.cbegin(), m_records.cend(),
                                    [&](const ServiceRunRecord &record) { return record.id == *latest; });
    if (!ownRun)
        return;
    const std::optional<QUuid> previous = m_newRunHistoryRecordID;
    m_newRunHistoryRecordID = latest;
    m_newRunTimer.start();
    for (const std::optional<QUuid> &id : {previous, m_newRunHistoryRecordID}) {
        if (ServiceRunHistoryRow *row = id ? m_rows.value(*id) : nullptr)
            row->setNew(m_newRunHistoryRecordID == id);
    }
    refreshHeader();
}

// Leaving the screen ends a pending mark at once: a mark whose end was
// cancelled would otherwise stay for good when the view comes back.
void ServiceRunHistorySection::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (!event->spontaneous() && m_newRunTimer.isActive()) {
        m_newRunTimer.stop();
        endNewRunMark();
    }
}

void ServiceRunHistorySection::endNewRunMark()
{
    const std::optional<QUuid> marked = m_newRunHistoryRecordID;
    m_newRunHistoryRecordID.reset();
    if (ServiceRunHistoryRow *row = marked ? m_rows.value(*marked) : nullptr)
        row->setNew(false);
    refreshHeader();
}
