#include "support/StoredProtectedProfile.h"

#include "platform/SensitiveBytes.h"
#include "profiles/EnvironmentProfilesRepository.h"
#include "profiles/ProtectedPayloadSealing.h"
#include "records/JSONFileStore.h"
#include "support/Await.h"
#include "support/ProcessMemory.h"

#include <QStringBuilder>
#include <QTimeZone>

#include <array>
#include <utility>

namespace {

using Parts = std::array<const char *, 3>;

// No literal holds a whole value: a copy in the program's data would be found too.
constexpr Parts plainParts {"VELMORA", "plain", "5678"};
constexpr Parts secretParts {"VELMORA", "secret", "1234"};
constexpr char mask = 0x5a;

QString textOf(const Parts &parts)
{
    return QLatin1String(parts[0]) % QLatin1String(parts[1]) % QLatin1String(parts[2]); // built in one block
}

QByteArray masked(const Parts &parts, bool utf16)
{
    QByteArray bytes;
    for (const char *part : parts) {
        for (const char *c = part; *c; ++c) {
            bytes.append(char(*c ^ mask));
            if (utf16)
                bytes.append(mask);
        }
    }
    return bytes;
}

} // namespace

void StoredProtectedProfile::store(const QString &path, const ProtectedPayloadCrypto &key, SecretStoring &secrets) const
{
    const QUuid secretId = QUuid::createUuid();
    QString secret = textOf(secretParts);
    secrets.saveSecret(EnvironmentProfilesRepository::secretAccount(id, secretId), secret);
    SensitiveBytes::wipe(secret);

    const QByteArray secretIdText = json::formatUuid(secretId).toLatin1();
    const QByteArray plainIdText = json::formatUuid(QUuid::createUuid()).toLatin1();
    // The payload as the application seals it: compact, keys sorted.
    const SensitiveBytes plaintext =
        SensitiveBytes::joined({"{\"variables\":[{\"id\":\"", secretIdText,
                                "\",\"isSecret\":true,\"key\":\"SECRETV\",\"value\":\"\"},{\"id\":\"", plainIdText,
                                "\",\"isSecret\":false,\"key\":\"PLAINV\",\"value\":\"", plainParts[0], plainParts[1],
                                plainParts[2], "\"}]}"});

    PersistedEnvironmentProfileRecord record;
    record.id = id;
    record.name = name;
    record.createdAt = record.updatedAt = QDateTime::fromSecsSinceEpoch(1'700'000'000, QTimeZone::utc());
    record.isProtected = true;
    record.protectionVersion = PersistedEnvironmentProfileRecord::currentProtectionVersion;
    record.encryptedPayload = sealProtectedPayload(plaintext.view(), id, ProtectedPayloadKind::profile, key);
    JSONFileStore<QList<PersistedEnvironmentProfileRecord>>(path).save({record});
}

QString StoredProtectedProfile::valueCopies()
{
    QString copies;
    for (const auto &[name, parts] : {std::pair {"plain", plainParts}, std::pair {"secret", secretParts}}) {
        for (const bool utf16 : {false, true}) {
            for (const quintptr address : writableMemoryCopies(masked(parts, utf16), mask))
                copies += QStringLiteral("%1 value as UTF-%2 at 0x%3, ")
                              .arg(QLatin1String(name), utf16 ? QStringLiteral("16") : QStringLiteral("8"))
                              .arg(address, 0, 16);
        }
    }
    return copies;
}

QString StoredProtectedProfile::valueCopiesLeft()
{
    QString copies;
    waitUntil([&] { return (copies = valueCopies()).isEmpty(); });
    return copies;
}

QString StoredProtectedProfile::plainValue()
{
    return textOf(plainParts);
}
