#pragma once

#include <QString>

#include <stdexcept>

// A profile holds a variable whose key is not a valid environment variable name.
class EnvironmentProfileValidationError : public std::runtime_error {
public:
    enum class Case { invalidVariableKey };

    // `key` exactly as stored, untrimmed.
    static EnvironmentProfileValidationError invalidVariableKey(const QString &key);

    Case errorCase() const { return m_case; }
    const QString &key() const { return m_key; }
    QString message() const;

    friend bool operator==(const EnvironmentProfileValidationError &a, const EnvironmentProfileValidationError &b)
    {
        return a.m_case == b.m_case && a.m_key == b.m_key;
    }

private:
    EnvironmentProfileValidationError(Case errorCase, QString key);

    Case m_case;
    QString m_key;
};
