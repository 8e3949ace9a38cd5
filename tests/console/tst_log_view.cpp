// The operator log: its line store and the view `Memo_current`.
#include "console/console_panel.h"
#include "console/log_lines.h"
#include "console/log_view.h"

#include <QApplication>
#include <QClipboard>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

using namespace qvx;

class TestLogView : public QObject {
    Q_OBJECT
private slots:
    void linesComeBackInOrderAndUnchanged_data();
    void linesComeBackInOrderAndUnchanged();
    void linesSpanManyChunks();
    void clearEmptiesEverything();

    void viewFollowsTheTailUnlessScrolledUp();
    void horizontalRangeCoversTheLongestLine();
    void selectedLinesAreCopied();
    void clearLogButtonEmptiesTheLog();
};

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

QTEST_MAIN(TestLogView)
#include "tst_log_view.moc"
