#pragma once

#include "profiles/EnvironmentProfile.h"

#include <QAbstractListModel>
#include <QSet>

class ProfilesController;

// The profiles the list shows, in display order, one row per profile id.
class ProfilesListModel final : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        IdRole = Qt::UserRole + 1,
        CaptionRole,
        LockSymbolRole, // "lock.fill", "lock.open.fill" or empty for an unprotected profile
        SelectedRole,
    };

    explicit ProfilesListModel(ProfilesController &controller, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

    // The caption under a profile's name.
    static QString captionText(const EnvironmentProfile &profile, bool isLocked);
    QModelIndex indexOf(const QUuid &id) const;

    // Recomputes the rows: the same order only updates them, another one resets.
    void refresh();

private:
    ProfilesController &m_controller;
    QList<EnvironmentProfile> m_profiles;
};
