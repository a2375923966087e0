#include "ui/components/ConsoleOutputView.h"

#include "ui/components/SymbolView.h"
#include "ui/components/TextStyle.h"
#include "ui/components/ThemeColor.h"
#include "ui/components/ThemeManager.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPropertyAnimation>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStackedLayout>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <initializer_list>

namespace {

constexpr qreal cornerRadius = 12;
// The text area sits this far inside the frame: far enough for its square
// corners to stay inside the rounded ones, so it can paint its own opaque
// background and never makes the frame repaint beneath it.
constexpr int frameInset = 4;
constexpr int textInset = 14;
constexpr int scrollerWidth = 10;
// Enough of the new text's start to find where it lies in the old text.
constexpr qsizetype cutProbeLength = 64;
constexpr int cutProbeAttempts = 8;

// Marks the view's own moves, so they do not count as the user scrolling.
class ProgrammaticScroll {
public:
    explicit ProgrammaticScroll(bool &flag)
        : m_flag(flag),
          m_previous(flag)
    {
        m_flag = true;
    }
    ~ProgrammaticScroll() { m_flag = m_previous; }
    ProgrammaticScroll(const ProgrammaticScroll &) = delete;
    ProgrammaticScroll &operator=(const ProgrammaticScroll &) = delete;

private:
    bool &m_flag;
    bool m_previous;
};

} // namespace

ConsoleOutputView::ConsoleOutputView(QWidget *parent)
    : QWidget(parent)
{
    m_stack = new QStackedLayout(this);
    m_stack->setContentsMargins(0, 0, 0, 0);

    m_placeholder = new QWidget(this);
    m_placeholder->setAccessibleName(QStringLiteral("No output"));
    auto *placeholderLayout = new QVBoxLayout(m_placeholder);
    placeholderLayout->setSpacing(10);
    m_placeholderSymbol = new SymbolView(QStringLiteral("terminal"), 22, ThemeColor::quaternary(), m_placeholder);
    placeholderLayout->addWidget(m_placeholderSymbol, 0, Qt::AlignCenter);
    m_stack->addWidget(m_placeholder);

    m_textPage = new QWidget(this);
    auto *textPageLayout = new QVBoxLayout(m_textPage);
    textPageLayout->setContentsMargins(frameInset, frameInset, frameInset, frameInset);
    m_textView = new QPlainTextEdit(m_textPage);
    textPageLayout->addWidget(m_textView);
    m_textView->setReadOnly(true);
    m_textView->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_textView->setFrameShape(QFrame::NoFrame);
    m_textView->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_textView->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    m_textView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_textView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_textView->setBackgroundVisible(false);
    m_textView->setAutoFillBackground(false);
    // An opaque text area: appending and scrolling repaint only it (scrolls
    // are moved rather than redrawn), not the rounded frame behind it.
    m_textView->viewport()->setAutoFillBackground(true);
    applyTextBackground();
    connect(&ThemeManager::instance(), &ThemeManager::isDarkChanged, this, [this] {
        applyTextBackground();
        m_frameCache = QPixmap();
        update();
    });
    m_textView->setFont(monospacedFont(TextStyle::callout));
    m_textView->document()->setDocumentMargin(textInset - frameInset);
    m_textView->document()->setUndoRedoEnabled(false);
    m_stack->addWidget(m_textPage);
    m_stack->setCurrentWidget(m_placeholder);

    // The text view's own bar stays hidden; this one floats over the text and
    // shows only while the user scrolls.
    m_scroller = new QScrollBar(Qt::Vertical, this);
    m_scroller->setStyleSheet(
        QStringLiteral("QScrollBar:vertical { background: transparent; width: 10px; margin: 0; }"
                       "QScrollBar::handle:vertical { background: rgba(128, 128, 128, 150); border-radius: 3px;"
                       " min-height: 24px; margin: 2px; }"
                       "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
                       "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }"));
    m_scroller->hide();
    QScrollBar *textBar = m_textView->verticalScrollBar();
    connect(textBar, &QScrollBar::rangeChanged, m_scroller, [this, textBar](int minimum, int maximum) {
        const QSignalBlocker blocker(m_scroller);
        m_scroller->setRange(minimum, maximum);
        m_scroller->setPageStep(textBar->pageStep());
        m_scroller->setValue(textBar->value());
    });
    connect(textBar, &QScrollBar::valueChanged, this, [this](int value) {
        {
            const QSignalBlocker blocker(m_scroller);
            m_scroller->setValue(value);
        }
        onTextScrolled();
    });
    connect(m_scroller, &QScrollBar::valueChanged, textBar, &QScrollBar::setValue);

    m_scrollTimer = new QTimer(this);
    m_scrollTimer->setSingleShot(true);
    m_scrollTimer->setInterval(scrollDelayMs);
    connect(m_scrollTimer, &QTimer::timeout, this, &ConsoleOutputView::scrollToBottom);

    m_hideScrollerTimer = new QTimer(this);
    m_hideScrollerTimer->setSingleShot(true);
    m_hideScrollerTimer->setInterval(scrollerHideDelayMs);
    connect(m_hideScrollerTimer, &QTimer::timeout, this, [this] { setScrollerVisible(false); });

    m_wholeTextTimer = new QTimer(this);
    m_wholeTextTimer->setSingleShot(true);
    m_wholeTextTimer->setInterval(wholeTextDelayMs);
    connect(m_wholeTextTimer, &QTimer::timeout, this, &ConsoleOutputView::showWholeText);
    // Whatever the user does with the text (scroll, select, copy, search)
    // needs all of it.
    m_textView->installEventFilter(this);
    m_textView->viewport()->installEventFilter(this);

    m_scrollAnimation = new QPropertyAnimation(textBar, "value", this);
    m_scrollAnimation->setDuration(scrollAnimationMs);
    m_scrollAnimation->setEasingCurve(QEasingCurve::InOutQuad);
    connect(m_scrollAnimation, &QPropertyAnimation::finished, this, [this] {
        // Lines laid out during the animation may have moved the end further.
        QScrollBar *bar = m_textView->verticalScrollBar();
        bar->setValue(bar->maximum());
        m_isProgrammaticScroll = false;
        setScrollerVisible(false);
    });

    setMinimumSize(60, 40);
}

ConsoleOutputView::~ConsoleOutputView()
{
    // Nothing pending may run against a half-destroyed view.
    m_scrollAnimation->stop();
    m_scrollTimer->stop();
    m_hideScrollerTimer->stop();
    m_wholeTextTimer->stop();
}

bool ConsoleOutputView::isShowingPlaceholder() const
{
    return m_placeholderShown;
}

bool ConsoleOutputView::isScrollerVisible() const
{
    return m_scroller->isVisibleTo(this);
}

void ConsoleOutputView::setContent(const QString &text, bool autoScroll)
{
    const bool previousAutoScroll = m_autoScroll;
    m_autoScroll = autoScroll;
    if (!autoScroll)
        showWholeText();
    if (text == m_text) {
        m_lastPath = UpdatePath::none;
        if (!previousAutoScroll && autoScroll && !m_placeholderShown)
            scheduleScrollToBottom();
        return;
    }
    applyText(text);
}

void ConsoleOutputView::followOutput(const QString &text, qsizetype droppedFromFront)
{
    droppedFromFront = std::clamp<qsizetype>(droppedFromFront, 0, m_text.size());
    const qsizetype kept = m_text.size() - droppedFromFront;
    if (kept > text.size()) {
        setText(text);
        return;
    }
    if (droppedFromFront == 0 && kept == text.size())
        return;
    if (kept == 0) {
        applyText(text);
        return;
    }
    takeFollowingText(text, droppedFromFront, kept);
}

void ConsoleOutputView::takeFollowingText(const QString &text, qsizetype dropped, qsizetype kept)
{
    if (m_placeholderShown || text.isEmpty()) {
        applyText(text);
        return;
    }
    if (dropped > 0 && !removeFromDocumentFront(dropped)) {
        replaceDocument(text);
    } else {
        appendToDocument(QStringView(text).mid(kept));
        m_lastPath = dropped > 0 ? UpdatePath::cutAndAppend : UpdatePath::append;
    }
    m_text = text;
    if (m_autoScroll)
        scheduleScrollToBottom();
}

void ConsoleOutputView::applyText(const QString &text)
{
    if (text.isEmpty()) {
        m_text.clear();
        showPlaceholder(true);
        m_lastPath = UpdatePath::reset;
        return;
    }
    if (m_placeholderShown) {
        // The first output after none is shown from the top; following the
        // end starts with the next change.
        resetDocument(text, false);
        m_text = text;
        showPlaceholder(false);
        m_lastPath = UpdatePath::reset;
        return;
    }
    if (text.size() > m_text.size() && text.startsWith(m_text)) {
        appendToDocument(text.mid(m_text.size()));
        m_lastPath = UpdatePath::append;
    } else if (const qsizetype cut = findCutOffset(m_text, text); cut > 0 && removeFromDocumentFront(cut)) {
        appendToDocument(text.mid(m_text.size() - cut));
        m_lastPath = UpdatePath::cutAndAppend;
    } else {
        replaceDocument(text);
    }
    m_text = text;
    if (m_autoScroll)
        scheduleScrollToBottom();
}

qsizetype ConsoleOutputView::findCutOffset(const QString &oldText, const QString &newText) const
{
    if (oldText.isEmpty() || newText.isEmpty())
        return -1;
    const QStringView oldView(oldText);
    const QStringView newView(newText);
    const QStringView head = newView.left(std::min(cutProbeLength, newView.size()));
    // new = old.mid(k) + added, so k is at least old.size() - new.size().
    qsizetype from = std::max<qsizetype>(1, oldView.size() - newView.size());
    for (int attempt = 0; attempt < cutProbeAttempts; ++attempt) {
        const qsizetype k = oldView.indexOf(head, from);
        if (k < 0)
            return -1;
        const qsizetype overlap = oldView.size() - k;
        if (overlap <= newView.size() && oldView.mid(k) == newView.left(overlap))
            return k;
        from = k + 1;
    }
    return -1;
}

void ConsoleOutputView::resetDocument(const QString &text, bool keepScrollValue)
{
    const ProgrammaticScroll guard(m_isProgrammaticScroll);
    QScrollBar *bar = m_textView->verticalScrollBar();
    const int value = bar->value();
    m_textView->setPlainText(text);
    m_documentStart = 0;
    m_wholeTextTimer->stop();
    // setPlainText jumps to the top; a view that is not following stays put.
    bar->setValue(keepScrollValue ? value : 0);
}

void ConsoleOutputView::replaceDocument(const QString &text)
{
    const qsizetype start = m_autoScroll ? tailStart(text) : 0;
    if (start == 0) {
        resetDocument(text, true);
        m_lastPath = UpdatePath::reset;
        return;
    }
    {
        const ProgrammaticScroll guard(m_isProgrammaticScroll);
        m_textView->setPlainText(text.mid(start));
        QScrollBar *bar = m_textView->verticalScrollBar();
        bar->setValue(bar->maximum());
    }
    m_documentStart = start;
    m_wholeTextTimer->start();
    m_lastPath = UpdatePath::tailReset;
}

qsizetype ConsoleOutputView::tailStart(const QString &text) const
{
    if (text.size() <= tailOnlyAbove)
        return 0;
    // Two views' height of lines, so that the end fills the view whether or
    // not the lines wrap; never reaching back further than the limit.
    const int lineHeight = std::max(1, m_textView->fontMetrics().lineSpacing());
    const qsizetype wanted = 2 * (m_textView->viewport()->height() / lineHeight + 1) + 8;
    const qsizetype earliest = text.size() - tailOnlyAbove;
    qsizetype start = 0;
    qsizetype from = text.size() - 1;
    for (qsizetype lines = 0; lines < wanted && from >= 0; ++lines) {
        const qsizetype lineEnd = text.lastIndexOf(QLatin1Char('\n'), from);
        if (lineEnd < earliest)
            break;
        start = lineEnd + 1;
        from = lineEnd - 1;
    }
    // Without a line end in reach (one endless line) there is no end to show alone.
    return start < text.size() ? start : 0;
}

void ConsoleOutputView::showWholeText()
{
    if (m_documentStart == 0)
        return;
    // The end was shown and followed; it stays in view.
    m_scrollAnimation->stop();
    resetDocument(m_text, false);
    {
        const ProgrammaticScroll guard(m_isProgrammaticScroll);
        QScrollBar *bar = m_textView->verticalScrollBar();
        bar->setValue(bar->maximum());
    }
    m_isProgrammaticScroll = false;
}

bool ConsoleOutputView::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::Wheel:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::ContextMenu:
    case QEvent::KeyPress:
    case QEvent::ShortcutOverride:
        showWholeText();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void ConsoleOutputView::appendToDocument(QStringView suffix)
{
    QStringView added = suffix;
    // The document turns CR LF into one line break; a pair split across two
    // updates must not become two.
    if (!m_text.isEmpty() && m_text.back() == QLatin1Char('\r') && added.startsWith(QLatin1Char('\n')))
        added = added.mid(1);
    if (added.isEmpty())
        return;
    const ProgrammaticScroll guard(m_isProgrammaticScroll);
    QTextCursor cursor(m_textView->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(added.toString());
}

bool ConsoleOutputView::removeFromDocumentFront(qsizetype units)
{
    if (units <= 0)
        return true;
    if (units >= m_text.size())
        return false;
    // A cut between CR and LF would split the one line break the document has.
    if (m_text[units - 1] == QLatin1Char('\r') && m_text[units] == QLatin1Char('\n'))
        return false;
    // What the document leaves out goes without touching it.
    if (units <= m_documentStart) {
        m_documentStart -= units;
        return true;
    }
    const qsizetype fromDocument = units - m_documentStart;
    const qsizetype documentUnits =
        fromDocument - QStringView(m_text).mid(m_documentStart, fromDocument).count(u"\r\n");
    m_documentStart = 0;

    const ProgrammaticScroll guard(m_isProgrammaticScroll);
    QScrollBar *bar = m_textView->verticalScrollBar();
    const QTextBlock top = m_textView->document()->findBlockByLineNumber(bar->value());
    const int topPosition = top.position();
    const int lineInTop = bar->value() - top.firstLineNumber();

    QTextCursor cursor(m_textView->document());
    cursor.setPosition(0);
    cursor.setPosition(int(documentUnits), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();

    // Keep the line that was at the top at the top; when it was cut away,
    // the new start is.
    if (topPosition >= documentUnits) {
        const QTextBlock block = m_textView->document()->findBlock(int(topPosition - documentUnits));
        bar->setValue(block.firstLineNumber() + std::max(0, lineInTop));
    } else {
        bar->setValue(0);
    }
    return true;
}

void ConsoleOutputView::showPlaceholder(bool placeholder)
{
    if (placeholder == m_placeholderShown)
        return;
    m_placeholderShown = placeholder;
    if (placeholder) {
        m_scrollTimer->stop();
        m_scrollAnimation->stop();
        m_wholeTextTimer->stop();
        m_documentStart = 0;
        m_isProgrammaticScroll = false;
        setScrollerVisible(false);
        m_stack->setCurrentWidget(m_placeholder);
        const ProgrammaticScroll guard(m_isProgrammaticScroll);
        m_textView->clear();
    } else {
        m_stack->setCurrentWidget(m_textPage);
    }
    update();
}

void ConsoleOutputView::setOutputName(const QString &name)
{
    for (QWidget *part : std::initializer_list<QWidget *> {this, m_textPage, m_textView})
        part->setAccessibleName(name);
}

void ConsoleOutputView::scrollToEnd()
{
    m_scrollAnimation->stop();
    const ProgrammaticScroll guard(m_isProgrammaticScroll);
    QScrollBar *bar = m_textView->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void ConsoleOutputView::scheduleScrollToBottom()
{
    setScrollerVisible(false);
    // Changes within the delay share one scroll, which goes to the end as it
    // is when the scroll starts. The pending scroll is not pushed back by
    // later changes: output arriving more often than the delay would
    // otherwise never be followed.
    if (!m_scrollTimer->isActive())
        m_scrollTimer->start();
}

void ConsoleOutputView::scrollToBottom()
{
    QScrollBar *bar = m_textView->verticalScrollBar();
    setScrollerVisible(false);
    // While output keeps arriving within one animation's time, each scroll
    // would restart the animation before it ends and repaint the view on
    // every frame; following the end directly shows the same thing for a
    // fraction of the work.
    const bool streaming = m_lastScroll.isValid() && m_lastScroll.elapsed() < scrollAnimationMs;
    m_lastScroll.start();
    m_scrollAnimation->stop();
    if (streaming) {
        {
            const ProgrammaticScroll guard(m_isProgrammaticScroll);
            bar->setValue(bar->maximum());
        }
        m_isProgrammaticScroll = false;
        return;
    }
    m_isProgrammaticScroll = true;
    m_scrollAnimation->setStartValue(bar->value());
    m_scrollAnimation->setEndValue(std::max(0, bar->maximum()));
    m_scrollAnimation->start();
}

void ConsoleOutputView::setScrollerVisible(bool visible)
{
    visible = visible || (m_pointerInside && !m_placeholderShown && m_scroller->maximum() > m_scroller->minimum());
    if (visible) {
        layoutScroller();
        m_scroller->raise();
    } else {
        m_hideScrollerTimer->stop();
    }
    m_scroller->setVisible(visible);
}

void ConsoleOutputView::enterEvent(QEnterEvent *event)
{
    QWidget::enterEvent(event);
    m_pointerInside = true;
    setScrollerVisible(m_scroller->isVisible());
}

void ConsoleOutputView::leaveEvent(QEvent *event)
{
    QWidget::leaveEvent(event);
    m_pointerInside = false;
    if (m_scroller->isVisible())
        scheduleHideScroller();
}

void ConsoleOutputView::scheduleHideScroller()
{
    m_hideScrollerTimer->start();
}

void ConsoleOutputView::onTextScrolled()
{
    if (m_isProgrammaticScroll)
        return;
    setScrollerVisible(true);
    scheduleHideScroller();
}

void ConsoleOutputView::layoutScroller()
{
    m_scroller->setGeometry(width() - scrollerWidth - 2, 6, scrollerWidth, std::max(0, height() - 12));
}

void ConsoleOutputView::applyTextBackground()
{
    QPalette palette = m_textView->viewport()->palette();
    palette.setColor(QPalette::Base, ThemeColor::textBackground().resolve(this));
    m_textView->viewport()->setPalette(palette);
}

void ConsoleOutputView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutScroller();
}

void ConsoleOutputView::paintEvent(QPaintEvent *event)
{
    const qreal ratio = devicePixelRatioF();
    if (m_frameCache.isNull() || m_frameCache.deviceIndependentSize() != QSizeF(size())
        || m_frameCache.devicePixelRatio() != ratio || m_frameCacheEmpty != m_placeholderShown) {
        m_frameCache = drawnFrame(ratio);
        m_frameCacheEmpty = m_placeholderShown;
    }
    QPainter painter(this);
    painter.drawPixmap(event->rect(), m_frameCache,
                       QRectF(QRectF(event->rect()).topLeft() * ratio, QSizeF(event->rect().size()) * ratio));
}

QPixmap ConsoleOutputView::drawnFrame(qreal ratio) const
{
    QPixmap pixmap(size() * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool empty = m_placeholderShown;
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setBrush(empty ? withOpacity(ThemeColor::controlBackground().resolve(this), 0.55)
                           : ThemeColor::textBackground().resolve(this));
    painter.setPen(QPen(withOpacity(ThemeColor::separator().resolve(this), empty ? 0.55 : 1.0), 1));
    painter.drawRoundedRect(frame, cornerRadius - 0.5, cornerRadius - 0.5);
    return pixmap;
}
