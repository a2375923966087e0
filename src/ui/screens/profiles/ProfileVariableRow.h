#pragma once

#include "profiles/EnvironmentVariable.h"

#include <QWidget>

class StyledLabel;

// One variable in the profile detail: its key and its value, a secret value
// always masked.
class ProfileVariableRow final : public QWidget {
    Q_OBJECT
public:
    static inline const QString secretMask = QStringLiteral("••••••••");

    explicit ProfileVariableRow(const EnvironmentVariable &variable, QWidget *parent = nullptr);

    static QString keyText(const EnvironmentVariable &variable);
    static QString valueText(const EnvironmentVariable &variable);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    StyledLabel *m_key;
    StyledLabel *m_value;
};
