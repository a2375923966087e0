#pragma once

#include "profiles/EnvironmentVariable.h"

#include <QWidget>

#include <functional>

class MacTextField;
class QToolButton;

// One editable variable of the profile editor: key, value and the secret
// toggle. A secret value is edited in password mode only.
class ProfileEditorVariableRow final : public QWidget {
    Q_OBJECT
public:
    ProfileEditorVariableRow(const EnvironmentVariable &variable, QWidget *parent = nullptr);

    const EnvironmentVariable &variable() const { return m_variable; }
    MacTextField *keyField() const { return m_key; }
    MacTextField *valueField() const { return m_value; }
    QToolButton *secretToggle() const { return m_secret; }
    QToolButton *deleteButton() const { return m_delete; }

Q_SIGNALS:
    void variableEdited(const EnvironmentVariable &variable);
    void deleteRequested(const QUuid &variableId);
    // The desktop's delete gesture for a list row, Ctrl+Delete, pressed
    // anywhere in the row (a plain Delete belongs to its text fields).
    void deleteGestureMade();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showSecretState();

    EnvironmentVariable m_variable;
    MacTextField *m_key;
    MacTextField *m_value;
    QToolButton *m_secret;
    QToolButton *m_delete;
};
