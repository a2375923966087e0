#pragma once

#include "profiles/EnvironmentProfile.h"

#include <QCoroTask>
#include <QWidget>

#include <functional>

class QPushButton;

// The read-only detail of one profile: a card asking to authenticate while
// it is locked, otherwise its variables with secret values masked.
class ProfileDetailView final : public QWidget {
    Q_OBJECT
public:
    using UnlockAction = std::function<QCoro::Task<>()>;
    using EditAction = std::function<void()>;

    ProfileDetailView(const EnvironmentProfile &profile, bool isLocked, UnlockAction onUnlock, EditAction onEdit,
                      QWidget *parent = nullptr);

    // The line under the title: "Protected profile" while locked, else the count.
    static QString summaryText(const EnvironmentProfile &profile, bool isLocked);
    static QString summarySymbol(const EnvironmentProfile &profile, bool isLocked);

private:
    QWidget *makeHeader(const EnvironmentProfile &profile, bool isLocked);
    QWidget *makeLockedCard();
    QWidget *makeVariablesBlock(const EnvironmentProfile &profile);

    UnlockAction m_onUnlock;
    EditAction m_onEdit;
};
