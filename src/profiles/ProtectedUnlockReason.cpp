#include "profiles/ProtectedUnlockReason.h"

#include "records/OneLineText.h"

namespace {
QString quoted(const QString &name)
{
    return QStringLiteral("“") + OneLineText::of(name) + QStringLiteral("”");
}
} // namespace

ProtectedUnlockReason ProtectedUnlockReason::viewProfile(const QString &profileName)
{
    return {Case::viewProfile, {}, profileName};
}

ProtectedUnlockReason ProtectedUnlockReason::editProfile(const QString &profileName)
{
    return {Case::editProfile, {}, profileName};
}

ProtectedUnlockReason ProtectedUnlockReason::profileUsedBy(const QString &serviceName, const QString &profileName)
{
    return {Case::profileUsedBy, serviceName, profileName};
}

ProtectedUnlockReason ProtectedUnlockReason::launchService(const QString &serviceName, const QString &profileName)
{
    return {Case::launchService, serviceName, profileName};
}

ProtectedUnlockReason ProtectedUnlockReason::migrateLegacyServices()
{
    return {Case::migrateLegacyServices, {}, {}};
}
ProtectedUnlockReason ProtectedUnlockReason::enableProtection()
{
    return {Case::enableProtection, {}, {}};
}
ProtectedUnlockReason ProtectedUnlockReason::disableProtection()
{
    return {Case::disableProtection, {}, {}};
}

QString ProtectedUnlockReason::text() const
{
    switch (reasonCase) {
    case Case::viewProfile:
        return QStringLiteral("unlock the protected environment profile ") + quoted(profileName);
    case Case::editProfile:
        return QStringLiteral("edit the protected profile ") + quoted(profileName);
    case Case::profileUsedBy:
        return QStringLiteral("unlock the protected environment profile ") + quoted(profileName)
               + QStringLiteral(" used by ") + quoted(serviceName);
    case Case::launchService:
        return QStringLiteral("unlock the protected environment profile ") + quoted(profileName)
               + QStringLiteral(" to launch ") + quoted(serviceName);
    case Case::migrateLegacyServices:
        return QStringLiteral("migrate previously protected services to profile-only protection");
    case Case::enableProtection:
        return QStringLiteral("enable Protected Profiles");
    case Case::disableProtection:
        return QStringLiteral("disable protection");
    }
    return {};
}
