#include "support/KeyringTestLock.h"

#include "platform/SecretServiceClient.h"
#include "profiles/KeychainSecretStore.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <stdexcept>

bool KeyringTestLock::available()
{
    return qEnvironmentVariableIsSet("VELMORA_PRIVATE_TEST_KEYRING") && qEnvironmentVariableIsSet("XDG_RUNTIME_DIR")
           && qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS");
}

QString KeyringTestLock::unavailableReason()
{
    return QStringLiteral("needs the private keyring of scripts/with-test-session.sh");
}

KeyringTestLock::KeyringTestLock()
{
    if (!available())
        throw std::runtime_error("KeyringTestLock outside the private test keyring");
    const QByteArray path =
        QFile::encodeName(qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/velmora-keyring-tests.lock"));
    m_fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0 || ::flock(m_fd, LOCK_EX) != 0)
        throw std::runtime_error("cannot take the keyring test lock");
    removeAllItems();
}

KeyringTestLock::~KeyringTestLock()
{
    try {
        removeAllItems();
    } catch (...) {
        // The next holder starts by removing them again.
    }
    ::close(m_fd); // releases the lock
}

void KeyringTestLock::removeAllItems()
{
    const SecretServiceClient keyring(KeychainSecretStore::serviceName);
    for (const QString &account : keyring.accounts())
        keyring.clear(account);
}
