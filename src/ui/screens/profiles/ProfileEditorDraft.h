#pragma once

#include "profiles/EnvironmentProfile.h"
#include "ui/screens/profiles/ProfileEditorMode.h"

#include <QList>
#include <QStringList>
#include <QUuid>

#include <optional>

// The profile editor's private copy of the profile and its pending
// confirmations, with the rules that decide what a save hands on.
class ProfileEditorDraft {
public:
    explicit ProfileEditorDraft(const ProfileEditorMode &mode);

    EnvironmentProfile draft;
    std::optional<QUuid> confirmDeleteVariableID;
    std::optional<QList<int>> confirmDeleteOffsets;

    // Keys that break the key rule, as typed, in variable order; blank keys
    // are not invalid.
    static QStringList invalidKeys(const EnvironmentProfile &profile);
    QStringList invalidKeys() const { return invalidKeys(draft); }
    bool canSave() const;
    // Keys trimmed and blank ones dropped; everything else as typed.
    EnvironmentProfile normalizedDraft() const;

    void addVariable();
    bool isConfirmingVariableDeletion() const { return confirmDeleteVariableID || confirmDeleteOffsets; }
    QString variableDeletionTarget() const;
    QString variableDeletionMessage() const;
    // Removes what the pending confirmation names; both fields are cleared.
    void confirmVariableDeletion();
    void cancelVariableDeletion();

    QString profileDeletionMessage() const;
};
