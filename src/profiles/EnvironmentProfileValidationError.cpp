#include "profiles/EnvironmentProfileValidationError.h"

namespace {
QString describe(const QString &key)
{
    return QStringLiteral("Invalid environment variable key “") + key
           + QStringLiteral("”. Keys must start with a letter or underscore and contain only letters, numbers, "
                            "and underscores.");
}
} // namespace

EnvironmentProfileValidationError::EnvironmentProfileValidationError(Case errorCase, QString key)
    : std::runtime_error(describe(key).toStdString()),
      m_case(errorCase),
      m_key(std::move(key))
{}

EnvironmentProfileValidationError EnvironmentProfileValidationError::invalidVariableKey(const QString &key)
{
    return EnvironmentProfileValidationError(Case::invalidVariableKey, key);
}

QString EnvironmentProfileValidationError::message() const
{
    return describe(m_key);
}
