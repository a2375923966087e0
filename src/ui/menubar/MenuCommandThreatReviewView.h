#pragma once

#include "ui/launch/CommandThreatReviewRequest.h"

#include <QWidget>

class QPushButton;

// The panel's threat review: the findings of one command, with "Cancel" and
// "Run Anyway", or only "Close" when a finding is critical.
class MenuCommandThreatReviewView : public QWidget {
    Q_OBJECT
public:
    explicit MenuCommandThreatReviewView(const CommandThreatReviewRequest &request, QWidget *parent = nullptr);

    // One finding gives 76, three 228, four or more 260 (the rows scroll).
    static int findingsHeight(qsizetype findingCount);

    QPushButton *cancelButton() const { return m_cancel; }
    QPushButton *runAnywayButton() const { return m_runAnyway; }

Q_SIGNALS:
    void runAnywayRequested();
    // Also on Escape.
    void cancelRequested();

private:
    QPushButton *m_cancel;
    QPushButton *m_runAnyway = nullptr;
};
