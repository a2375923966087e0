#pragma once

#include <QWidget>

class QHBoxLayout;
class QVBoxLayout;
class StyledLabel;

// The top of a detail page: a large bold title on one line (ending in "…" when
// too long), the actions at the trailing end at least 8 away, and free content
// below the title. Screens add their buttons and rows to the two layouts and
// change the title in place:
//     auto *header = new DetailPageHeader(service.name, 8);
//     header->actionsLayout()->addWidget(editButton);
//     header->belowTitleLayout()->addWidget(statusRow);
class DetailPageHeader : public QWidget {
    Q_OBJECT
public:
    DetailPageHeader(const QString &title, int belowTitleSpacing, QWidget *parent = nullptr);

    void setTitle(const QString &title);
    QString title() const;
    StyledLabel *titleLabel() const { return m_title; }
    QHBoxLayout *actionsLayout() const { return m_actions; }
    QVBoxLayout *belowTitleLayout() const { return m_below; }

private:
    StyledLabel *m_title;
    QHBoxLayout *m_actions;
    QVBoxLayout *m_below;
};
