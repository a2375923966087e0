#pragma once

#include "ui/launch/CommandThreatReviewRequest.h"

#include <QDialog>

// The command threat review sheet. It only shows the request and reports the
// user's answer; the presenting screen decides what the answer leads to and
// closes the sheet by clearing its request.
class CommandThreatReviewView final : public QDialog {
    Q_OBJECT
public:
    explicit CommandThreatReviewView(CommandThreatReviewRequest request, QWidget *parent = nullptr);

    const CommandThreatReviewRequest &request() const { return m_request; }
    // The sheet's height for its findings, between 300 and 620.
    static int preferredHeight(const CommandThreatAssessment &assessment);

Q_SIGNALS:
    void runAnywayRequested();
    // Also on Escape and the window's close button.
    void cancelRequested();

protected:
    void reject() override;

private:
    QWidget *makeHeader();
    QWidget *makeFindingsList();
    QWidget *makeFindingRow(const CommandThreatFinding &finding);
    QWidget *makeFooter();

    CommandThreatReviewRequest m_request;
};
