#pragma once

#include <QWidget>

class QVBoxLayout;

// A vertical list of rows with a hairline in the separator colour between
// each two of them, inset by `dividerIndent` from the leading edge (so it
// starts under the rows' text rather than under their symbol):
//     auto *list = new DividedList(54, QStringLiteral("rowDivider"));
//     for (const Row &row : rows)
//         list->addRow(makeRow(row, list));
class DividedList : public QWidget {
    Q_OBJECT
public:
    explicit DividedList(int dividerIndent, const QString &dividerName = QString(), QWidget *parent = nullptr);

    // Appends `row`, after a divider unless it is the first row.
    void addRow(QWidget *row);
    int rowCount() const { return m_rows; }

private:
    QVBoxLayout *m_layout;
    int m_indent;
    QString m_dividerName;
    int m_rows = 0;
};
