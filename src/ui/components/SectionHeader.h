#pragma once

#include <QWidget>

#include <optional>

class StyledLabel;
class SymbolView;

// The title line of a group of content, with an optional symbol 8 before it:
//     layout->addWidget(new SectionHeader(QStringLiteral("Services"), QStringLiteral("shippingbox.fill")));
class SectionHeader : public QWidget {
    Q_OBJECT
public:
    explicit SectionHeader(const QString &title, const std::optional<QString> &systemImage = std::nullopt,
                           QWidget *parent = nullptr);

    StyledLabel *titleLabel() const { return m_title; }
    SymbolView *symbol() const { return m_symbol; }

private:
    SymbolView *m_symbol = nullptr;
    StyledLabel *m_title;
};
