#pragma once

#include <QElapsedTimer>
#include <QPixmap>
#include <QString>
#include <QWidget>

class QPlainTextEdit;
class QPropertyAnimation;
class QScrollBar;
class QStackedLayout;
class QTimer;
class SymbolView;

// The captured output of a service: monospaced, wrapped, selectable, read-only,
// in a rounded frame; a quiet "terminal" placeholder while there is none. With
// auto-scroll on it follows new output to the end; with it off it never moves
// by itself. Its scroll bar shows only while the user scrolls.
//
// Screens hand in the whole output on every change (setContent / setText): the
// view works out whether the text only grew or was also cut at the front and
// then appends the new end and removes the dropped start, instead of setting
// the whole text again. A caller that knows how the text moved on skips the
// comparison: followOutput() takes the new text with the units cut from the
// front of the old one (and keeps the caller's string, sharing it rather than
// copying it). Either way text() equals the caller's text; setting the same
// text again costs one comparison.
//
// A long text that replaces the whole output while auto-scroll is on (output
// arriving faster than the runtime keeps it, so every update is new from its
// first character) goes into the document only from the last few hundred
// lines on: that is all that can be seen at the end, and building the whole
// document many times a second would cost the main thread a good share of a
// core. The rest follows once output rests for a moment, or at once when the
// user scrolls, clicks or types into the view, or auto-scroll is switched off.
class ConsoleOutputView : public QWidget {
    Q_OBJECT
public:
    explicit ConsoleOutputView(QWidget *parent = nullptr);
    ~ConsoleOutputView() override;

    // One update of both values, in this order: auto-scroll, then text.
    void setContent(const QString &text, bool autoScroll);
    void setText(const QString &text) { setContent(text, m_autoScroll); }
    void setAutoScroll(bool autoScroll) { setContent(m_text, autoScroll); }
    // `text` is text() without its first `droppedFromFront` UTF-16 units,
    // followed by new output.
    void followOutput(const QString &text, qsizetype droppedFromFront);

    // What a screen reader calls the output, its text and the frame around it.
    void setOutputName(const QString &name);

    // Shows the end of the document at once, as it is laid out now.
    void scrollToEnd();

    const QString &text() const { return m_text; }
    bool autoScroll() const { return m_autoScroll; }
    bool isShowingPlaceholder() const;
    bool isScrollerVisible() const;
    QPlainTextEdit *textView() const { return m_textView; }
    QScrollBar *overlayScrollBar() const { return m_scroller; }

    static constexpr int scrollDelayMs = 50;
    static constexpr int scrollAnimationMs = 320;
    static constexpr int scrollerHideDelayMs = 900;

    static constexpr int wholeTextDelayMs = 250;
    // Texts up to this many UTF-16 units always go into the document whole.
    static constexpr qsizetype tailOnlyAbove = 32768;

    // How the last update reached the document (for tests and benchmarks).
    enum class UpdatePath { none, append, cutAndAppend, reset, tailReset };
    UpdatePath lastUpdatePath() const { return m_lastPath; }

    // Whether the document holds all of text(), not only its end.
    bool isShowingWholeText() const { return m_documentStart == 0; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    // The scroll bar also shows while the pointer is over the console, as
    // overlay scroll bars do on Linux desktops.
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void applyTextBackground();
    // The rounded frame as drawn for the current size, theme and state.
    QPixmap drawnFrame(qreal ratio) const;
    void applyText(const QString &text);
    // `text` keeps the first `kept` units after the `dropped` ones of text().
    void takeFollowingText(const QString &text, qsizetype dropped, qsizetype kept);
    void showPlaceholder(bool placeholder);
    void resetDocument(const QString &text, bool keepScrollValue);
    // A whole new text: only its end while following the output, else all of it.
    void replaceDocument(const QString &text);
    // Where the end worth laying out starts: a line start, or 0 for the whole text.
    qsizetype tailStart(const QString &text) const;
    void showWholeText();
    void appendToDocument(QStringView suffix);
    bool removeFromDocumentFront(qsizetype units);
    // Where the old text continues in the new one: new = old.mid(k) + added.
    qsizetype findCutOffset(const QString &oldText, const QString &newText) const;

    void scheduleScrollToBottom();
    void scrollToBottom();
    void setScrollerVisible(bool visible);
    void scheduleHideScroller();
    void layoutScroller();
    void onTextScrolled();

    QString m_text;
    bool m_autoScroll = false;
    bool m_isProgrammaticScroll = false;
    bool m_pointerInside = false;
    bool m_placeholderShown = true;
    UpdatePath m_lastPath = UpdatePath::none;
    // Units at the front of m_text that the document leaves out.
    qsizetype m_documentStart = 0;
    QElapsedTimer m_lastScroll;
    QPixmap m_frameCache;
    bool m_frameCacheEmpty = true;

    QStackedLayout *m_stack;
    QWidget *m_placeholder;
    SymbolView *m_placeholderSymbol;
    QWidget *m_textPage;
    QPlainTextEdit *m_textView;
    QScrollBar *m_scroller;
    QTimer *m_scrollTimer;
    QTimer *m_hideScrollerTimer;
    QTimer *m_wholeTextTimer;
    QPropertyAnimation *m_scrollAnimation;
};
