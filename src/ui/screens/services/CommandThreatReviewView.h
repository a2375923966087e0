#pragma once

#include "ui/launch/CommandThreatReviewRequest.h"

#include <QDialog>

#include <functional>

// The command threat review sheet. It only shows the request and reports the
// user's answer; the presenting screen decides what the answer leads to and
// closes the sheet by clearing its request.
class CommandThreatReviewView final : public QDialog {
    Q_OBJECT
public:
    CommandThreatReviewView(CommandThreatReviewRequest request, std::function<void()> onRunAnyway,
                            std::function<void()> onCancel, QWidget *parent = nullptr);

    const CommandThreatReviewRequest &request() const { return m_request; }
    // The sheet's height for its findings, between 300 and 620.
    static int preferredHeight(const CommandThreatAssessment &assessment);

protected:
    void reject() override;

private:
    QWidget *makeHeader();
    QWidget *makeFindingsList();
    QWidget *makeFindingRow(const CommandThreatFinding &finding);
    QWidget *makeFooter();

    CommandThreatReviewRequest m_request;
    std::function<void()> m_onRunAnyway;
    std::function<void()> m_onCancel;
};
