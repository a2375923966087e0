#pragma once

#include "ui/screens/dashboard/DashboardController.h"

#include <QFrame>
#include <QPointer>

#include <optional>

class QScrollArea;

// The popover of one count card: the services it counted when it opened.
// A press on its own card closes it without reopening it.
class SummaryPopover final : public QFrame {
    Q_OBJECT
public:
    static constexpr int popoverWidth = 360;

    SummaryPopover(ServiceSummaryFilter filter, const QList<ServiceSummaryRow> &rows, QWidget *anchor,
                   QWidget *parent = nullptr);

    ServiceSummaryFilter filter() const { return m_filter; }
    QWidget *anchor() const { return m_anchor.data(); }
    void setListHeight(double height);
    // Shows the popover under its anchor (see placement).
    void present();

    // Where a popover of `size` opened by `card` goes (all in global
    // coordinates): centred under the card, moved sideways to stay inside the
    // card's window (flush with the card's edge near the window's edge) when
    // the window is wide enough, above the card when the screen
    // has no room below, and kept on the `available` screen area.
    static QPoint placement(const QRect &card, const QSize &size, const QRect &window,
                            const std::optional<QRect> &available);

Q_SIGNALS:
    void rowActivated(const ServiceSummaryRow &row);
    void listHeightReported(double height);
    void dismissed(ServiceSummaryFilter filter);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *makeRow(const ServiceSummaryRow &row, QWidget *parent);

    ServiceSummaryFilter m_filter;
    QPointer<QWidget> m_anchor;
    QScrollArea *m_scroll = nullptr;
    QWidget *m_list = nullptr;
};
