// The operator log: its line store and the view `Memo_current`.
#include "console/console_panel.h"
#include "console/log_lines.h"
#include "console/log_view.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

#ifdef QVX_HAVE_QPA_ACCESSIBILITY
#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>
#endif

using namespace qvx;

class TestLogView : public QObject {
    Q_OBJECT
private slots:
    void linesComeBackInOrderAndUnchanged_data();
    void linesComeBackInOrderAndUnchanged();
    void linesSpanManyChunks();
    void clearEmptiesEverything();
    void offsetsAcrossChunks();

    void viewFollowsTheTailUnlessScrolledUp();
    void newLinesMarkerWhileScrolledUp();
    void horizontalRangeCoversTheLongestLine();
    void selectedLinesAreCopied();
    void clearLogButtonEmptiesTheLog();

    void accessibleTextIsTheLog();
    void appendedLinesAreAnnounced();
};

namespace {
// Switches the platform's accessibility on or off, as a screen reader that
// starts or stops listening does; false where that cannot be done.
bool setPlatformAccessibility(bool on)
{
#ifdef QVX_HAVE_QPA_ACCESSIBILITY
    QPlatformIntegration *platform = QGuiApplicationPrivate::platformIntegration();
    QPlatformAccessibility *accessibility = platform ? platform->accessibility() : nullptr;
    if (!accessibility)
        return false;
    accessibility->setActive(on);
    return QAccessible::isActive() == on;
#else
    Q_UNUSED(on);
    return false;
#endif
}

// Events the accessibility layer would hand to a screen reader.
QList<QAccessible::Event> g_events;
QStringList g_inserted;
QList<int> g_positions;
void recordEvent(QAccessibleEvent *event)
{
    g_events << event->type();
    if (event->type() == QAccessible::TextInserted) {
        auto *insert = static_cast<QAccessibleTextInsertEvent *>(event);
        g_inserted << insert->textInserted();
        g_positions << insert->changePosition();
    }
}
} // namespace

void TestLogView::linesComeBackInOrderAndUnchanged_data()
{
    QTest::addColumn<QString>("line");
    QTest::newRow("empty") << QString();
    QTest::newRow("trailing space") << QStringLiteral("Respond:01 03 02 00 0A ");
    QTest::newRow("latin-1") << QStringLiteral("Z\u00e4hler \u00b5s");
    QTest::newRow("beyond latin-1") << QStringLiteral("\u20ac \U0001F600");
    QTest::newRow("longer than a chunk") << QString(1 << 21, u'A');
}

void TestLogView::linesComeBackInOrderAndUnchanged()
{
    QFETCH(QString, line);
    LogLines log;
    log.append(QStringLiteral("before"));
    log.append(line);
    log.append(QStringLiteral("after"));
    QCOMPARE(log.all(), (QStringList{"before", line, "after"}));
    QCOMPARE(log.last(), QStringLiteral("after"));
    QCOMPARE(log.longest(), qMax<qsizetype>(6, line.size()));
}

void TestLogView::linesSpanManyChunks()
{
    LogLines log;
    const int n = 20000; // about 3 MB: several chunks
    for (int i = 0; i < n; ++i)
        log.append(QStringLiteral("SENT:%1 ").arg(i) + QString(140, u'F'));
    QCOMPARE(log.size(), n);
    for (int i : {0, 1, 6000, 6001, 13999, n - 1})
        QCOMPARE(log.line(i), QStringLiteral("SENT:%1 ").arg(i) + QString(140, u'F'));
    QCOMPARE(log.line(n), QString());
    QCOMPARE(log.line(-1), QString());
}

void TestLogView::clearEmptiesEverything()
{
    LogLines log;
    log.append(QStringLiteral("x"));
    log.clear();
    QVERIFY(log.isEmpty());
    QCOMPARE(log.all(), QStringList());
    QCOMPARE(log.longest(), 0);
    log.append(QStringLiteral("y"));
    QCOMPARE(log.all(), QStringList{"y"});
}

void TestLogView::offsetsAcrossChunks()
{
    // Past the lines a chunk holds, and past its bytes.
    LogLines log;
    const int n = 140000;
    for (int i = 0; i < n; ++i)
        log.append(QString(i % 7, u'x'));
    log.append(QString(1 << 20, u'y'));
    log.append(QStringLiteral("end"));
    qsizetype start = 0;
    for (int i = 0; i < n + 2; ++i) {
        if (i % 9973 == 0 || i >= n - 2) {
            QCOMPARE(log.lineStart(i), start);
            QCOMPARE(log.lineAtOffset(start), i);
            QCOMPARE(log.lineAtOffset(start + log.lineLength(i)), i);
        }
        start += log.lineLength(i) + 1;
    }
    QCOMPARE(log.characterCount(), start - 1);
    QCOMPARE(log.text(log.characterCount() - 5, log.characterCount()), QStringLiteral("y\nend"));
}

void TestLogView::viewFollowsTheTailUnlessScrolledUp()
{
    LogView view;
    view.resize(400, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    for (int i = 0; i < 500; ++i)
        view.appendLine(QStringLiteral("line %1").arg(i));
    QScrollBar *v = view.verticalScrollBar();
    QTRY_VERIFY(v->maximum() > 0);
    QCOMPARE(v->value(), v->maximum());

    v->setValue(10);
    for (int i = 0; i < 100; ++i)
        view.appendLine(QStringLiteral("more %1").arg(i));
    const int max = v->maximum();
    QTRY_VERIFY(v->maximum() > max);
    QCOMPARE(v->value(), 10);
}

// Lines that arrive out of sight are pointed at; the pointer brings the tail
// back and goes, and at the end the view follows again without it.
void TestLogView::newLinesMarkerWhileScrolledUp()
{
    LogView view;
    view.resize(400, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    auto *marker = view.findChild<QToolButton *>(QStringLiteral("Button_newLinesBelow"));
    QVERIFY(marker);
    QCOMPARE(marker->accessibleName(), marker->text());
    QCOMPARE(marker->text(), QStringLiteral("New lines below"));
    for (int i = 0; i < 200; ++i)
        view.appendLine(QStringLiteral("line %1").arg(i));
    QScrollBar *v = view.verticalScrollBar();
    QTRY_VERIFY(v->maximum() > 0);
    QVERIFY(marker->isHidden());

    v->setValue(10);
    view.appendLine(QStringLiteral("below"));
    QVERIFY(marker->isVisible());
    QVERIFY(view.viewport()->geometry().contains(marker->geometry()));
    QTest::mouseClick(marker, Qt::LeftButton);
    QCOMPARE(view.lineAtViewportY(view.lineRect(view.lineCount() - 1).center().y()), view.lineCount() - 1);
    QVERIFY(marker->isHidden());

    view.appendLine(QStringLiteral("followed"));
    QTRY_COMPARE(view.lineAtViewportY(view.lineRect(view.lineCount() - 1).center().y()),
                 view.lineCount() - 1);
    QVERIFY(marker->isHidden());
}

void TestLogView::horizontalRangeCoversTheLongestLine()
{
    LogView view;
    view.resize(200, 100);
    view.show();
    view.appendLine(QStringLiteral("short"));
    QTRY_COMPARE(view.lineCount(), 1);
    QApplication::processEvents();
    QCOMPARE(view.horizontalScrollBar()->maximum(), 0);
    view.appendLine(QString(400, u'0'));
    QTRY_VERIFY(view.horizontalScrollBar()->maximum() >=
                400 * view.fontMetrics().horizontalAdvance(u'0') - 200);
}

void TestLogView::selectedLinesAreCopied()
{
    LogView view;
    view.resize(400, 200);
    view.show();
    for (const char *l : {"one", "two", "three"})
        view.appendLine(QLatin1String(l));
    QCOMPARE(view.selectedText(), QString());
    QTest::keySequence(&view, QKeySequence::SelectAll);
    QCOMPARE(view.selectedText(), QStringLiteral("one\ntwo\nthree"));
    QTest::keySequence(&view, QKeySequence::Copy);
    if (QApplication::clipboard()->text() != QLatin1String("one\ntwo\nthree"))
        QSKIP("this platform has no clipboard");
}

void TestLogView::clearLogButtonEmptiesTheLog()
{
    ConsolePanel console;
    console.log()->appendLine(QStringLiteral("Serial port for modbus closed"));
    QTest::mouseClick(console.findChild<QPushButton *>("BitBtn5"), Qt::LeftButton);
    QCOMPARE(console.log()->lineCount(), 0);
    QCOMPARE(console.log()->lines(), QStringList());
}

void TestLogView::accessibleTextIsTheLog()
{
    LogView view;
    view.resize(400, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    for (const char *l : {"Respond:01 03 ", "two words", "three"})
        view.appendLine(QLatin1String(l));
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(&view);
    QVERIFY(iface);
    QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Log"));
    QCOMPARE(iface->role(), QAccessible::EditableText);
    QVERIFY(iface->state().readOnly);
    QVERIFY(iface->state().multiLine);
    QAccessibleTextInterface *text = iface->textInterface();
    QVERIFY(text);
    const QString all = QStringLiteral("Respond:01 03 \ntwo words\nthree");
    QCOMPARE(text->characterCount(), all.size());
    QCOMPARE(text->text(0, text->characterCount()), all);

    int s = -1, e = -1;
    QCOMPARE(text->textAtOffset(19, QAccessible::WordBoundary, &s, &e), QStringLiteral("words"));
    QCOMPARE(s, 19);
    // Lines end after their line feed, as in Qt's own text views.
    QCOMPARE(text->textAtOffset(14, QAccessible::LineBoundary, &s, &e), QStringLiteral("Respond:01 03 \n"));
    QCOMPARE(text->textAfterOffset(-1, QAccessible::LineBoundary, &s, &e), QString());
    QCOMPARE(text->textBeforeOffset(20, QAccessible::LineBoundary, &s, &e),
             QStringLiteral("Respond:01 03 \n"));
    QCOMPARE(e, 15);
    // Selecting through the interface selects whole lines in the view.
    QCOMPARE(text->selectionCount(), 0);
    text->setSelection(0, 16, 17);
    QCOMPARE(view.selectedText(), QStringLiteral("two words"));
    text->selection(0, &s, &e);
    QCOMPARE(s, 15);
    QCOMPARE(e, 24);

    // A character's place on screen and back.
    const QRect r = text->characterRect(15);
    QVERIFY(r.isValid());
    QCOMPARE(text->offsetAtPoint(r.center()), 15);
}

void TestLogView::appendedLinesAreAnnounced()
{
    LogView view;
    view.appendLine(QStringLiteral("first"));
    g_events.clear();
    g_inserted.clear();
    g_positions.clear();
    if (!setPlatformAccessibility(true))
        QSKIP("the platform's accessibility cannot be switched on here");
    const QAccessible::UpdateHandler previous = QAccessible::installUpdateHandler(recordEvent);
    view.appendLine(QStringLiteral("Respond:"));
    view.appendLine(QString());
    view.clear();
    view.appendLine(QStringLiteral("again"));
    // A log too long to be told back as text is said to have changed.
    view.appendLine(QString(LogView::RemovalTextLimit, u'0'));
    view.clear();
    setPlatformAccessibility(false);
    QAccessible::installUpdateHandler(previous);
    view.appendLine(QStringLiteral("unheard"));

    QCOMPARE(g_events,
             (QList<QAccessible::Event>{QAccessible::TextInserted, QAccessible::TextInserted,
                                        QAccessible::TextRemoved, QAccessible::TextInserted,
                                        QAccessible::TextInserted, QAccessible::VisibleDataChanged}));
    QCOMPARE(g_inserted.mid(0, 3), (QStringList{"\nRespond:", "\n", "again"}));
    QCOMPARE(g_positions, (QList<int>{5, 14, 0, 5}));
}

QTEST_MAIN(TestLogView)
#include "tst_log_view.moc"
