#pragma once

#include "records/ServiceRunRecord.h"
#include "ui/screens/services/ServiceRunOutputSheet.h"

#include "ui/components/TitledMessageBox.h"
#include <QCoroTask>
#include <QHash>
#include <QList>

#include <QMessageBox>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <QUuid>
#include <QWidget>

#include <chrono>
#include <optional>

class QLabel;
class QPushButton;
class QVBoxLayout;
class ServicesController;
class ServiceRunHistoryRow;

class SurfaceCard;
class SymbolView;

namespace ServiceDetailStyle {
class CapsuleBadge;
class RowButton;
} // namespace ServiceDetailStyle

// The recorded runs of the shown service, newest first, in a collapsible
// section: a count, a "New run" mark while a run of this service has just been
// recorded, "Clear All" behind a confirmation, and one row per run. Rows are
// kept per run id and updated in place; only a change of the service's own
// records touches them.
class ServiceRunHistorySection : public QWidget {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds newRunMarkDuration {4000};

    // The controller must outlive the section.
    explicit ServiceRunHistorySection(ServicesController &controller, QWidget *parent = nullptr);
    ~ServiceRunHistorySection() override;

    // Another id starts afresh: collapsed, no expanded runs, no mark, sheet and confirmation closed.
    void setServiceId(const QUuid &serviceId);
    const QUuid &serviceId() const { return m_serviceId; }

    bool isExpanded() const { return m_isExpanded; }
    void setExpanded(bool expanded, bool animated = false);
    const QSet<QUuid> &expandedRunIDs() const { return m_expandedRunIDs; }
    std::optional<QUuid> newRunHistoryRecordID() const { return m_newRunHistoryRecordID; }
    // The rows in shown order (built only while the section is expanded).
    QList<ServiceRunHistoryRow *> rows() const;
    ServiceRunOutputSheet *outputSheet() const { return m_outputSheet; }
    TitledMessageBox *clearConfirmation() const { return m_clearConfirmation; }

    void toggleRun(const QUuid &recordId);
    void deleteRun(const QUuid &recordId);
    void viewOutput(const QUuid &recordId);
    void confirmClearHistory();

protected:
    void hideEvent(QHideEvent *event) override;

private:
    void resetState();
    void refreshRecords();
    void syncRows(bool animated = false);
    void refreshHeader();
    void markNewRun();
    QCoro::Task<> loadOutput(QPointer<ServiceRunOutputSheet> sheet, QUuid recordId);
    void endNewRunMark();

    ServicesController &m_controller;
    QUuid m_serviceId;
    QList<ServiceRunRecord> m_records;
    bool m_isExpanded = false;
    QSet<QUuid> m_expandedRunIDs;
    std::optional<QUuid> m_newRunHistoryRecordID;
    QTimer m_newRunTimer;

    QPointer<ServiceRunOutputSheet> m_outputSheet;
    QPointer<TitledMessageBox> m_clearConfirmation;

    ServiceDetailStyle::RowButton *m_toggle = nullptr;
    ServiceDetailStyle::CapsuleBadge *m_countBadge = nullptr;
    ServiceDetailStyle::CapsuleBadge *m_newRunBadge = nullptr;
    SymbolView *m_chevron = nullptr;
    QPushButton *m_clearAllButton = nullptr;
    QWidget *m_body = nullptr;
    SurfaceCard *m_emptyCard = nullptr;
    QWidget *m_rowsBox = nullptr;
    QVBoxLayout *m_rowsLayout = nullptr;
    QHash<QUuid, ServiceRunHistoryRow *> m_rows;
    QList<QUuid> m_rowOrder;
};
