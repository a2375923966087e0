#pragma once

#include <QWidget>

class StyledLabel;

// A caption in the tertiary colour followed by its value, side by side (the
// panel's "PID 123", the run row's figures). Built once, value updated in place:
//     auto *pid = labeledValueText(QStringLiteral("PID"), QStringLiteral("—"));
//     pid->setValue(QString::number(info.pid.value()));
class LabeledValueText : public QWidget {
    Q_OBJECT
public:
    LabeledValueText(const QString &caption, const QString &value, QWidget *parent = nullptr);

    void setValue(const QString &value);
    void setCaption(const QString &caption);
    QString caption() const;
    QString value() const;
    StyledLabel *captionLabel() const { return m_caption; }
    StyledLabel *valueLabel() const { return m_value; }
    // Both texts in one style (the surrounding font of the caller).
    void setTextFont(const QFont &font);

private:
    StyledLabel *m_caption;
    StyledLabel *m_value;
};

LabeledValueText *labeledValueText(const QString &caption, const QString &value, QWidget *parent = nullptr);
