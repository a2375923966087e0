#pragma once

#include "profiles/EnvironmentProfile.h"

#include <QWidget>

class QPushButton;

// The read-only detail of one profile: a card asking to authenticate while
// it is locked, otherwise its variables with secret values masked.
class ProfileDetailView final : public QWidget {
    Q_OBJECT
public:
    ProfileDetailView(const EnvironmentProfile &profile, bool isLocked, QWidget *parent = nullptr);

    // The line under the title: "Protected profile" while locked, else the count.
    static QString summaryText(const EnvironmentProfile &profile, bool isLocked);
    static QString summarySymbol(const EnvironmentProfile &profile, bool isLocked);

Q_SIGNALS:
    void unlockRequested();
    void editRequested();

private:
    QWidget *makeHeader(const EnvironmentProfile &profile, bool isLocked);
    QWidget *makeLockedCard();
    QWidget *makeVariablesBlock(const EnvironmentProfile &profile);
};
