#pragma once

#include "records/ServiceRunRecord.h"
#include "ui/components/SurfaceCard.h"
#include "ui/components/ThemeColor.h"

class QAbstractButton;
class QHBoxLayout;
class StatusBadge;
class StyledLabel;
class SymbolView;

namespace ServiceDetailStyle {
class CapsuleBadge;
}

// The palette colour of outcomeColor, for the row's and the output sheet's badges.
Palette::Color outcomePaletteColor(const ServiceRunRecord &record);

// One recorded run as a card: when it started, how it ended, its security
// verdict and figures; expanded, its findings, profile and variables. Secret
// values arrive masked in the record and are shown as stored. The row keeps no
// state of its own beyond what its section gives it.
class ServiceRunHistoryRow : public SurfaceCard {
    Q_OBJECT

public:
    explicit ServiceRunHistoryRow(const ServiceRunRecord &record, QWidget *parent = nullptr);

    // Redraws only when the record differs from the shown one.
    void setRecord(const ServiceRunRecord &record);
    void setExpanded(bool expanded, bool animated = false);
    void setNew(bool isNew);

    const ServiceRunRecord &record() const { return m_record; }
    bool isExpanded() const { return m_expanded; }
    bool isNew() const { return m_isNew; }

Q_SIGNALS:
    void toggleExpandRequested();
    void deleteRequested();
    void viewOutputRequested();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void buildTopLine();
    void refreshSummary(bool animated = false);
    void rebuildDetails();
    QWidget *buildFiguresLine();
    QWidget *buildSecurityBlock();
    QWidget *buildVariables();

    ServiceRunRecord m_record;
    bool m_expanded = false;
    bool m_isNew = false;
    bool m_detailsStale = true;

    QAbstractButton *m_summaryButton = nullptr;
    StyledLabel *m_dateLabel = nullptr;
    StatusBadge *m_outcomeBadge = nullptr;
    QWidget *m_securityBadge = nullptr;
    SymbolView *m_securitySymbol = nullptr;
    StyledLabel *m_securityText = nullptr;
    ServiceDetailStyle::CapsuleBadge *m_newBadge = nullptr;
    StyledLabel *m_exitLabel = nullptr;
    SymbolView *m_chevron = nullptr;
    QWidget *m_secondLine = nullptr;
    QWidget *m_secondLineHost = nullptr;
    QAbstractButton *m_outputButton = nullptr;
    QAbstractButton *m_deleteButton = nullptr;
    QWidget *m_divider = nullptr;
    QWidget *m_details = nullptr;
};
