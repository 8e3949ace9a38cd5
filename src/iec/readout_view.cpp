#include "iec/readout_view.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

namespace qvx {
namespace {

// Screen readers read the text as it shows, one line after another; the
// selected lines are the selection.  Nothing here is computed until asked.
class ReadoutViewAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit ReadoutViewAccessible(ReadoutView *view) : QAccessibleWidget(view, QAccessible::EditableText) {}

    void *interface_cast(QAccessible::InterfaceType t) override
    {
        return t == QAccessible::TextInterface ? static_cast<QAccessibleTextInterface *>(this)
                                               : QAccessibleWidget::interface_cast(t);
    }
    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Value ? all() : QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        s.multiLine = true;
        s.selectableText = true;
        return s;
    }

    void selection(int selectionIndex, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = 0;
        const auto [first, last] = view()->selectedRange();
        if (selectionIndex != 0 || first < 0)
            return;
        qsizetype offset = 0;
        for (qsizetype i = 0; i < first; ++i)
            offset += view()->store().line(i).size() + 1;
        qsizetype length = last - first;
        for (qsizetype i = first; i <= last; ++i)
            length += view()->store().line(i).size();
        *startOffset = static_cast<int>(offset);
        *endOffset = static_cast<int>(offset + length);
    }
    int selectionCount() const override { return view()->selectedRange().first < 0 ? 0 : 1; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QString text(int startOffset, int endOffset) const override
    {
        return all().mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return static_cast<int>(all().size()); }
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint &) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = offset;
        return {};
    }

private:
    ReadoutView *view() const { return static_cast<ReadoutView *>(widget()); }
    QString all() const
    {
        const IecLines &lines = view()->store();
        QString out;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (i)
                out += QLatin1Char('\n');
            out += iecDisplayText(lines.line(i));
        }
        return out;
    }
};

QAccessibleInterface *readoutViewAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String("qvx::ReadoutView") && object && object->isWidgetType())
        return new ReadoutViewAccessible(static_cast<ReadoutView *>(object));
    return nullptr;
}

} // namespace

ReadoutView::ReadoutView(QWidget *parent) : QAbstractScrollArea(parent)
{
    static const bool accessibleInstalled = [] {
        QAccessible::installFactory(readoutViewAccessible);
        return true;
    }();
    Q_UNUSED(accessibleInstalled);
    // Fixed pitch: the columns in sight follow from the scroll position alone.
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setFocusPolicy(Qt::StrongFocus);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    viewport()->setCursor(Qt::IBeamCursor);
    // The screen catches up with the lines at most about 30 times a second,
    // however many receive events come in meanwhile: a fast line with small
    // events would otherwise repaint for every few bytes.
    m_settle.setSingleShot(true);
    m_settle.setInterval(SettleMs);
    connect(&m_settle, &QTimer::timeout, this, &ReadoutView::settle);
}

void ReadoutView::capture(QByteArrayView bytes, int &lineIndex)
{
    m_lines.capture(bytes, lineIndex);
    changed();
}

void ReadoutView::clear()
{
    m_lines.clear();
    m_anchor = m_current = -1;
    changed();
}

void ReadoutView::changed()
{
    if (!m_settle.isActive())
        m_settle.start();
}

QStringList ReadoutView::lines() const
{
    QStringList out;
    out.reserve(m_lines.size());
    for (qsizetype i = 0; i < m_lines.size(); ++i)
        out << lineText(i);
    return out;
}

void ReadoutView::settle()
{
    QScrollBar *v = verticalScrollBar();
    // Follow the tail while the operator looks at it; stay where they
    // scrolled to read.
    const bool atEnd = v->value() >= v->maximum();
    updateScrollBars();
    if (atEnd)
        v->setValue(v->maximum());
    viewport()->update();
}

int ReadoutView::lineHeight() const
{
    return fontMetrics().lineSpacing();
}

int ReadoutView::charWidth() const
{
    return qMax(1, fontMetrics().horizontalAdvance(QLatin1Char('0')));
}

int ReadoutView::visibleLines() const
{
    return qMax(1, viewport()->height() / lineHeight());
}

void ReadoutView::updateScrollBars()
{
    const int page = visibleLines();
    QScrollBar *v = verticalScrollBar();
    v->setRange(0, static_cast<int>(qMax<qsizetype>(0, m_lines.size() - page)));
    v->setPageStep(page);
    v->setSingleStep(1);

    const qsizetype contentWidth = qMin<qsizetype>(m_lines.longest() * charWidth() + 8, 1 << 30);
    QScrollBar *h = horizontalScrollBar();
    h->setRange(0, static_cast<int>(qMax<qsizetype>(0, contentWidth - viewport()->width())));
    h->setPageStep(viewport()->width());
    h->setSingleStep(charWidth() * 4);
}

void ReadoutView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    settle();
}

void ReadoutView::paintEvent(QPaintEvent *)
{
    QPainter p(viewport());
    const int h = lineHeight();
    const int cw = charWidth();
    const int ascent = fontMetrics().ascent();
    const int scrollX = horizontalScrollBar()->value();
    // Only the columns in sight are drawn, one more on either side.
    const qsizetype firstCol = qMax(0, scrollX / cw - 1);
    const qsizetype cols = viewport()->width() / cw + 3;
    const int x = 4 + static_cast<int>(firstCol) * cw - scrollX;
    const qsizetype first = verticalScrollBar()->value();
    const qsizetype last = qMin(m_lines.size(), first + visibleLines() + 1);
    const qsizetype selFirst = qMin(m_anchor, m_current);
    const qsizetype selLast = qMax(m_anchor, m_current);
    const QPalette &pal = palette();
    for (qsizetype i = first; i < last; ++i) {
        const int y = static_cast<int>(i - first) * h;
        const bool selected = m_anchor >= 0 && i >= selFirst && i <= selLast;
        if (selected) {
            p.fillRect(QRect(0, y, viewport()->width(), h), pal.highlight());
            p.setPen(pal.color(QPalette::HighlightedText));
        } else {
            p.setPen(pal.color(QPalette::Text));
        }
        p.drawText(x, y + ascent, iecDisplayText(m_lines.line(i), firstCol, cols));
    }
}

qsizetype ReadoutView::lineAt(int y) const
{
    const qsizetype i = verticalScrollBar()->value() + qMax(0, y) / lineHeight();
    return qMin(i, m_lines.size() - 1);
}

void ReadoutView::ensureVisible(qsizetype i)
{
    QScrollBar *v = verticalScrollBar();
    if (i < v->value())
        v->setValue(static_cast<int>(i));
    else if (i >= v->value() + visibleLines())
        v->setValue(static_cast<int>(i - visibleLines() + 1));
}

void ReadoutView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || m_lines.isEmpty())
        return QAbstractScrollArea::mousePressEvent(event);
    const qsizetype i = lineAt(event->position().toPoint().y());
    if (!(event->modifiers() & Qt::ShiftModifier) || m_anchor < 0)
        m_anchor = i;
    m_current = i;
    viewport()->update();
}

void ReadoutView::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton) || m_anchor < 0)
        return QAbstractScrollArea::mouseMoveEvent(event);
    m_current = lineAt(event->position().toPoint().y());
    ensureVisible(m_current);
    viewport()->update();
}

void ReadoutView::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Copy)) {
        copy();
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
        return;
    }
    if (event->matches(QKeySequence::Paste)) {
        paste(QApplication::clipboard()->text());
        return;
    }
    if (event->key() == Qt::Key_Delete) {
        removeSelectedLines();
        return;
    }
    if (!m_lines.isEmpty() && (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) &&
        (event->modifiers() & Qt::ShiftModifier)) {
        if (m_anchor < 0)
            m_anchor = m_current = verticalScrollBar()->value();
        m_current =
            qBound<qsizetype>(0, m_current + (event->key() == Qt::Key_Up ? -1 : 1), m_lines.size() - 1);
        ensureVisible(m_current);
        viewport()->update();
        return;
    }
    if (event->key() == Qt::Key_Home && (event->modifiers() & Qt::ControlModifier)) {
        verticalScrollBar()->setValue(0);
        return;
    }
    if (event->key() == Qt::Key_End && (event->modifiers() & Qt::ControlModifier)) {
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

std::pair<qsizetype, qsizetype> ReadoutView::selectedRange() const
{
    if (m_anchor < 0 || m_lines.isEmpty())
        return {-1, -1};
    return {qMin(m_anchor, m_current), qMax(m_anchor, m_current)};
}

QString ReadoutView::selectedText() const
{
    if (m_anchor < 0 || m_lines.isEmpty())
        return {};
    QStringList out;
    for (qsizetype i = qMin(m_anchor, m_current); i <= qMax(m_anchor, m_current); ++i)
        out << lineText(i);
    return out.join(QLatin1Char('\n'));
}

void ReadoutView::selectAll()
{
    if (m_lines.isEmpty())
        return;
    m_anchor = 0;
    m_current = m_lines.size() - 1;
    viewport()->update();
}

void ReadoutView::copy() const
{
    const QString text = selectedText();
    if (!text.isEmpty())
        QApplication::clipboard()->setText(text);
}

void ReadoutView::paste(const QString &text)
{
    if (text.isEmpty())
        return;
    // Pasted text starts a line of its own below what is there.
    if (!m_lines.isEmpty() && !m_lines.line(m_lines.size() - 1).isEmpty()) {
        int last = static_cast<int>(m_lines.size() - 1);
        m_lines.capture("\n", last);
    }
    int line = static_cast<int>(qMax<qsizetype>(0, m_lines.size() - 1));
    m_lines.capture(text.toLatin1(), line);
    changed();
}

void ReadoutView::removeSelectedLines()
{
    if (m_anchor < 0)
        return;
    m_lines.removeLines(qMin(m_anchor, m_current), qMax(m_anchor, m_current));
    m_anchor = m_current = -1;
    changed();
}

} // namespace qvx
