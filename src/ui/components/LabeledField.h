#pragma once

#include <QWidget>

class QLabel;

// One line of a form: a label of fixed width, then the control, so the
// controls of a form line up whatever the label texts:
//     form->addWidget(new LabeledField(QStringLiteral("Name"), 110, nameField));
class LabeledField : public QWidget {
    Q_OBJECT
public:
    LabeledField(const QString &label, int labelWidth, QWidget *content, QWidget *parent = nullptr);

    QLabel *label() const { return m_label; }
    QWidget *content() const { return m_content; }

private:
    QLabel *m_label;
    QWidget *m_content;
};
