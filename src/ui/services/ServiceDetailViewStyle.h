#pragma once

#include <QColor>
#include <QDateTime>
#include <QFont>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QWidget>

#include <optional>

class QHBoxLayout;
class QPlainTextEdit;

// The look shared by the service detail view, its run history and the run
// output sheet: theme colours read at paint time, text styles, symbols, the
// card and badge shapes, and the value texts.
namespace ServiceDetailStyle {

enum class Tone { slate, steel, blue, green, orange, red, secondary };

bool isDark(const QWidget *widget);
QColor color(Tone tone, bool dark);
QColor color(Tone tone, const QWidget *widget);

enum class TextStyle { largeTitle, title2, title3, headline, body, callout, caption, caption2 };
QFont styleFont(TextStyle style, QFont::Weight weight = QFont::Normal);
QFont monospacedFont(TextStyle style, QFont::Weight weight = QFont::Normal);

// The themed icon of a symbol name; `symbolName` is kept on widgets as a property.
QIcon symbol(const QString &symbolName);
QPixmap symbolPixmap(const QString &symbolName, int size, const QColor &tint);

QString formatOptionalDate(const std::optional<QDateTime> &date);
QString formatDuration(std::optional<double> seconds);
QString formatMemoryBytes(qint64 bytes);
QString formatPercent(double percent);

// A rounded surface (radius 14) that frames a group of content.
class Card : public QFrame {
public:
    explicit Card(int padding, QWidget *parent = nullptr);
    // An outline drawn inside the edge, or none.
    void setOutline(std::optional<Tone> tone);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::optional<Tone> m_outline;
};

// A capsule with a tinted fill; with a dot it is the status badge, without it a
// small label badge ("New", counts).
class Badge : public QWidget {
public:
    enum class Kind { status, label, count };
    Badge(Kind kind, QWidget *parent = nullptr);
    void setText(const QString &text);
    void setTone(Tone tone);
    void setSymbolName(const QString &symbolName);
    QString text() const { return m_text; }
    Tone tone() const { return m_tone; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Kind m_kind;
    QString m_text;
    Tone m_tone = Tone::secondary;
    QString m_symbolName;
};

// A label that paints a symbol in a tone; keeps its symbol name as a property.
class SymbolLabel : public QLabel {
public:
    SymbolLabel(const QString &symbolName, int size, std::optional<Tone> tone = std::nullopt,
                QWidget *parent = nullptr);
    void setSymbolName(const QString &symbolName);
    void setTone(std::optional<Tone> tone);
    QString symbolName() const { return m_symbolName; }
    std::optional<Tone> tone() const { return m_tone; }

protected:
    void changeEvent(QEvent *event) override;

private:
    void refresh();
    QString m_symbolName;
    int m_size;
    std::optional<Tone> m_tone;
};

// A plain label for data: no rich text, and its colour from a tone or an alpha of the text colour.
QLabel *textLabel(const QString &text, TextStyle style, QFont::Weight weight = QFont::Normal,
                  QWidget *parent = nullptr);
void setTextAlpha(QLabel *label, double alpha);
void setTextTone(QLabel *label, Tone tone);

// A flat button whose whole rectangle takes clicks, holding a row of widgets.
class RowButton : public QPushButton {
public:
    explicit RowButton(QWidget *parent = nullptr);
    QHBoxLayout *row() const { return m_row; }
    void addToRow(QWidget *widget);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

private:
    QHBoxLayout *m_row;
};

// Gives a button its symbol and keeps the symbol name for tests.
void setButtonSymbol(QAbstractButton *button, const QString &symbolName);
// Text colour of a button (its tint), kept across theme switches.
void setButtonTone(QAbstractButton *button, Tone tone);

// A one-line label that elides its text (kept whole in text()) to its width.
class ElidedLabel : public QLabel {
public:
    ElidedLabel(Qt::TextElideMode mode, QWidget *parent = nullptr);
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Qt::TextElideMode m_mode;
};

// Captured output in a monospaced, selectable, read-only text view; a quiet
// placeholder while there is none. New output that extends the shown text is
// appended; while auto-scroll is on the view follows the end.
class Console : public QWidget {
public:
    explicit Console(QWidget *parent = nullptr);
    void setText(const QString &text);
    void setAutoScroll(bool autoScroll);
    QString text() const { return m_text; }
    QPlainTextEdit *textView() const { return m_textView; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void scrollToBottom();
    QString m_text;
    bool m_autoScroll = true;
    QPlainTextEdit *m_textView;
    QWidget *m_placeholder;
};

// Colours set from tones follow a theme switch when the owner calls this on its palette change.
void reapplyTones(QWidget *root);

} // namespace ServiceDetailStyle
