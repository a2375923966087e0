#include "ui/screens/profiles/ProfileEditorDraft.h"

#include "ui/components/NameRule.h"

#include <QDateTime>

#include <algorithm>

namespace {

QString quoted(const QString &text)
{
    return QChar(0x201C) + text + QChar(0x201D);
}

EnvironmentProfile newProfile()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    return {QUuid::createUuid(), QString(), {}, false, now, now};
}

} // namespace

ProfileEditorDraft::ProfileEditorDraft(const ProfileEditorMode &mode)
    : draft(mode.isEdit() ? mode.profile : newProfile())
{}

QStringList ProfileEditorDraft::invalidKeys(const EnvironmentProfile &profile)
{
    QStringList keys;
    for (const EnvironmentVariable &variable : profile.variables) {
        if (EnvironmentVariable::trimmedKey(variable.key).isEmpty())
            continue;
        if (!EnvironmentVariable::isValidKey(variable.key))
            keys.append(variable.key);
    }
    return keys;
}

bool ProfileEditorDraft::canSave() const
{
    return !draft.name.trimmed().isEmpty() && !NameRule::hasControlCharacters(draft.name) && invalidKeys().isEmpty();
}

EnvironmentProfile ProfileEditorDraft::normalizedDraft() const
{
    EnvironmentProfile normalized = draft;
    normalized.variables.clear();
    for (EnvironmentVariable variable : draft.variables) {
        variable.key = EnvironmentVariable::trimmedKey(variable.key);
        if (!variable.key.isEmpty())
            normalized.variables.append(std::move(variable));
    }
    return normalized;
}

void ProfileEditorDraft::addVariable()
{
    draft.variables.append({QUuid::createUuid(), QString(), QString(), false});
}

QString ProfileEditorDraft::variableDeletionTarget() const
{
    if (confirmDeleteVariableID) {
        const auto &variables = draft.variables;
        const auto found = std::find_if(variables.begin(), variables.end(), [this](const auto &variable) {
            return variable.id == *confirmDeleteVariableID;
        });
        if (found != variables.end())
            return found->key.isEmpty() ? QStringLiteral("this variable") : quoted(NameRule::oneLine(found->key));
    }
    if (!confirmDeleteOffsets)
        return QStringLiteral("this variable");
    QList<int> offsets = *confirmDeleteOffsets;
    std::sort(offsets.begin(), offsets.end());
    QStringList keys;
    for (const int offset : offsets) {
        if (offset < 0 || offset >= draft.variables.size())
            continue;
        const QString &key = draft.variables.at(offset).key;
        if (!key.isEmpty())
            keys.append(quoted(NameRule::oneLine(key)));
    }
    return keys.isEmpty() ? QStringLiteral("the selected variables") : keys.join(QStringLiteral(", "));
}

QString ProfileEditorDraft::variableDeletionMessage() const
{
    return QStringLiteral("Remove ") + variableDeletionTarget()
           + QStringLiteral(" from this profile? Changes apply when you save.");
}

void ProfileEditorDraft::confirmVariableDeletion()
{
    if (confirmDeleteVariableID) {
        const QUuid id = *confirmDeleteVariableID;
        draft.variables.removeIf([&id](const EnvironmentVariable &variable) { return variable.id == id; });
    } else if (confirmDeleteOffsets) {
        QList<int> offsets = *confirmDeleteOffsets;
        std::sort(offsets.begin(), offsets.end(), std::greater<>());
        offsets.erase(std::unique(offsets.begin(), offsets.end()), offsets.end());
        for (const int offset : offsets) {
            if (offset >= 0 && offset < draft.variables.size())
                draft.variables.removeAt(offset);
        }
    }
    cancelVariableDeletion();
}

void ProfileEditorDraft::cancelVariableDeletion()
{
    confirmDeleteVariableID.reset();
    confirmDeleteOffsets.reset();
}

QString ProfileEditorDraft::profileDeletionMessage() const
{
    const QString name = draft.name.isEmpty() ? QStringLiteral("This profile") : NameRule::oneLine(draft.name);
    return QChar(0x201C) + name
           + QStringLiteral("” and its variables will be removed permanently. Secret values stored in the keyring "
                            "for this profile will also be deleted.");
}
