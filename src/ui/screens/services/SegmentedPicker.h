#pragma once

#include <QStringList>
#include <QWidget>

// A row of mutually exclusive segments with the chosen one raised, painted in
// the colours of the current theme. Click or the arrow keys choose.
class SegmentedPicker final : public QWidget {
    Q_OBJECT
public:
    explicit SegmentedPicker(QStringList labels, QWidget *parent = nullptr);

    const QStringList &labels() const { return m_labels; }
    int currentIndex() const { return m_current; }
    // Emits nothing; the owner sets what its state says.
    void setCurrentIndex(int index);
    QRect segmentRect(int index) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

Q_SIGNALS:
    // Only for the user's own choice.
    void activated(int index);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void choose(int index);

    QStringList m_labels;
    int m_current = 0;
};
