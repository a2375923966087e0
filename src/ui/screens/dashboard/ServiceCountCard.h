#pragma once

#include <QAbstractButton>
#include <QColor>

// A count card of the dashboard: title, count and chevron on a card, drawn
// highlighted while its popover is open.
class ServiceCountCard final : public QAbstractButton {
    Q_OBJECT
public:
    ServiceCountCard(const QString &title, QColor tint, QWidget *parent = nullptr);

    void setCount(int count);
    int count() const { return m_count; }
    void setHighlighted(bool highlighted);
    bool isHighlighted() const { return m_highlighted; }
    void setTint(QColor tint);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_title;
    QColor m_tint;
    int m_count = 0;
    bool m_highlighted = false;
};
