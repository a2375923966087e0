#pragma once

#include <QWidget>

class QPushButton;
class StyledLabel;
class SymbolView;

// An orange notice box with the keyring problem (wrapped, never cut, shown as
// plain text) and a "Try Again" button. The screen shows it while the profile
// manager publishes guidance, updates the message in place and connects
// retryRequested to its reload:
//     auto *banner = new KeychainAccessBanner(guidance, KeychainAccessBanner::Style::regular);
//     connect(banner, &KeychainAccessBanner::retryRequested, this, [=] { controller->reloadProfiles(); });
class KeychainAccessBanner : public QWidget {
    Q_OBJECT
public:
    enum class Style { regular, compact };

    KeychainAccessBanner(const QString &message, Style style, QWidget *parent = nullptr);

    void setMessage(const QString &message);
    QString message() const;
    Style style() const { return m_style; }
    QPushButton *retryButton() const { return m_retry; }
    StyledLabel *messageLabel() const { return m_message; }
    QSize sizeHint() const override;

Q_SIGNALS:
    void retryRequested();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    Style m_style;
    SymbolView *m_icon;
    StyledLabel *m_message;
    QPushButton *m_retry;
};
