#include "support/FakeSecretStore.h"

void FakeSecretStore::throwIfFailing(Operation operation, const QString &account) const
{
    for (const Failure &failure : m_failures) {
        if (failure.operation == operation && (!failure.account || *failure.account == account))
            throw failure.error;
    }
}

std::optional<QString> FakeSecretStore::readSecret(const QString &account)
{
    const std::lock_guard lock(m_mutex);
    ++m_calls[Operation::read];
    throwIfFailing(Operation::read, account);
    const auto found = m_items.constFind(account);
    if (found == m_items.cend())
        return std::nullopt;
    return *found;
}

void FakeSecretStore::saveSecret(const QString &account, const QString &value)
{
    const std::lock_guard lock(m_mutex);
    ++m_calls[Operation::save];
    throwIfFailing(Operation::save, account);
    m_items.insert(account, value);
}

void FakeSecretStore::deleteSecret(const QString &account)
{
    const std::lock_guard lock(m_mutex);
    ++m_calls[Operation::remove];
    throwIfFailing(Operation::remove, account);
    m_items.remove(account);
}

QStringList FakeSecretStore::allAccounts()
{
    const std::lock_guard lock(m_mutex);
    ++m_calls[Operation::list];
    try {
        throwIfFailing(Operation::list, QString());
    } catch (const KeychainError &) {
        return {};
    }
    return m_items.keys();
}

void FakeSecretStore::failOn(Operation operation, const KeychainError &error, const std::optional<QString> &account)
{
    const std::lock_guard lock(m_mutex);
    m_failures.append({operation, account, error});
}

void FakeSecretStore::clearFailures()
{
    const std::lock_guard lock(m_mutex);
    m_failures.clear();
}

QMap<QString, QString> FakeSecretStore::items() const
{
    const std::lock_guard lock(m_mutex);
    return m_items;
}

void FakeSecretStore::setItem(const QString &account, const QString &value)
{
    const std::lock_guard lock(m_mutex);
    m_items.insert(account, value);
}

int FakeSecretStore::callCount(Operation operation) const
{
    const std::lock_guard lock(m_mutex);
    return m_calls.value(operation);
}
