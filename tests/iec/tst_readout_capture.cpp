// The readout tab through the real window: the sign-on and the capture over a
// real pseudo-terminal with the test playing the meter, the files it writes,
// and a whole session against the simulator's meter on its own terminal.
#include "widgets/string_grid.h"
#include "widgets/typing_limit.h"
#include "common/pty_pair.h"
#include "common/window_rig.h"
#include "iec/readout_tab.h"
#include "iec/readout_view.h"
#include "sim/meter.h"
#include "sim/meter_link.h"
#include "transport/reply_timer.h"

#include <QAccessible>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>

using namespace qvx;

namespace {

const QByteArray Answer = qvxsim::buildMeterAnswer("/XXX5METER", {"1.8.0(0001234.567*kWh)", "0.0.0(4711)"});
// The lines the answer gives: the CR stays, the STX starts the first data
// line, ETX and the block check character make the last.
const QList<QByteArray> AnswerLines = {"/XXX5METER\r",
                                       "\x02"
                                       "1.8.0(0001234.567*kWh)\r",
                                       "0.0.0(4711)\r", "!\r", "\x03" + Answer.right(1)};

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The main window in a fresh program folder whose serial port is the
// terminal side of a fresh pty pair.
struct Rig : qvxtest::WindowRig {
    qvxtest::PtyPair pty;
    ReadoutTab *tab = form->readoutTab();
    QSignalSpy captureEnds{&tab->timerDirectRead(), &ReplyTimer::timeout};

    Rig() { setText("Combo_com2_name", pty.slavePath()); }

    ReadoutView *memo() { return tab->memoReadout(); }
    QList<QByteArray> lines() { return memo()->store().all(); }
    // What the readout holds: every byte captured, its lines ended by their LF.
    QByteArray captured() { return lines().join('\n'); }
    QByteArray signOn(qsizetype size) { return pty.read(size, 5000); }
    // The meter sends bytes and the readout shows them.
    void meterSends(const QByteArray &bytes)
    {
        const QByteArray before = captured();
        QVERIFY(pty.write(bytes));
        QTRY_COMPARE_WITH_TIMEOUT(captured(), before + bytes, 5000);
    }
};

} // namespace

class TstReadoutCapture : public QObject {
    Q_OBJECT
private slots:
    void controlsCarryTheirTextsAndNames()
    {
        Rig r;
        for (const char *text :
             {"Here you can read directly electricity meter through RS-485 connection. Protocol used is IEC "
              "62056-21.",
              "To do that, you should connect  Your PC to electricity meter via RS-485, or to connect PC to "
              "QVX-24S (port IEC 62056-21)",
              "Then type meter serial number of electricty meter in below Edit box and press button "
              "\"Readout\". Be sure you have selected ",
              "correct serial port in TAB \"Settings\" and proper bps and parity (9600, Even, 7 is common "
              "for "
              "IEC 62056-21).",
              "LOG is saved in main ", "directory as 'logIEC.txt'"}) {
            const auto labels = r.tab->findChildren<QLabel *>();
            QVERIFY2(std::any_of(labels.begin(), labels.end(),
                                 [&](QLabel *l) { return l->text() == QLatin1String(text); }),
                     text);
        }
        auto *address = r.child<QLineEdit>("Edit_mserial");
        QCOMPARE(typingLimit(address), 8);
        QVERIFY(address->text().isEmpty());
        QCOMPARE(address->accessibleName(), QStringLiteral("Enter meter serial number"));
        const auto labels = r.tab->findChildren<QLabel *>();
        const auto label =
            std::find_if(labels.begin(), labels.end(), [&](QLabel *l) { return l->buddy() == address; });
        QVERIFY(label != labels.end() && (*label)->font().bold());
        QCOMPARE(r.child<QPushButton>("Button4")->text(), QStringLiteral("Readout"));
        QVERIFY(r.child<QPushButton>("Button4")->font().bold());
        QCOMPARE(r.child<QPushButton>("Button5")->text(), QStringLiteral("Clear"));
        QCOMPARE(r.child<QPushButton>("Button6")->text(), QStringLiteral("Save"));
        QCOMPARE(r.child<QPushButton>("BitBtn20")->text(), QStringLiteral("Parse"));
        QCOMPARE(r.child<QPushButton>("BitBtn21")->text(), QStringLiteral("Save"));
        QVERIFY(!r.child<QPushButton>("BitBtnImportQVX")->isEnabled());
        QCOMPARE(r.child<QPushButton>("BitBtnImportQVX")->text(), QStringLiteral("Import to QVX"));
        QCOMPARE(r.child<ReadoutView>("Memo_readout"), r.memo());
        QCOMPARE(r.lines(), QList<QByteArray>{""});
        StringGrid *grid = r.child<StringGrid>("gridIEC");
        QCOMPARE(grid->rowCount(), 2);
        QCOMPARE(grid->cell(2, 0), QStringLiteral("Notes     "));
        QCOMPARE((QList<int>{grid->columnWidth(0), grid->columnWidth(1), grid->columnWidth(2)}),
                 (QList<int>{78, 86, 144}));
        QCOMPARE(r.tab->timerDirectRead().interval(), 10000);
    }

    // The port opens with the Settings tab's values and stays open; exactly
    // the request goes out; the answer arrives whole at every split and the
    // Modbus side sees the same bytes.
    void answerSplitAnywhereGivesTheSameLines()
    {
        Rig r;
        r.child<QLineEdit>("Edit_mserial")->setText(QStringLiteral("12345678"));
        QElapsedTimer sincePress;
        qsizetype ends = -1; // capture windows ended by the last press; -1: no press yet
        for (qsizetype split = 0; split < Answer.size(); ++split) {
            const bool capturing = ends == r.captureEnds.count();
            if (!capturing || sincePress.elapsed() > 6000) {
                // Leave room for a whole case inside one capture window.
                if (capturing)
                    QVERIFY(r.captureEnds.wait(15000));
                r.click("Button4");
                sincePress.start();
                ends = r.captureEnds.count();
                QVERIFY(r.portOpen());
                QCOMPARE(r.signOn(14), QByteArray("/?12345678!\r\n"));
                QVERIFY(r.pty.read(1, 50).isEmpty());
            }
            r.click("Button5");
            QCOMPARE(r.memo()->lineCount(), 0);
            r.meterSends(Answer.left(split));
            r.meterSends(Answer.mid(split));
            QCOMPARE(r.lines(), AnswerLines);
        }
        QVERIFY(r.memo()->displayText(1).startsWith(QChar(0x2402)));
        QVERIFY(r.memo()->displayText(0).endsWith(QChar(0x240D)));
        QAccessibleInterface *readable = QAccessible::queryAccessibleInterface(r.memo());
        QCOMPARE(readable->text(QAccessible::Name), QStringLiteral("Readout"));
        QCOMPARE(readable->textInterface()->text(0, 12), QStringLiteral("/XXX5METER\u240d\n"));
    }

    // A second press sends the request again but keeps the first end; the
    // capture appends below what is there and stops at its end.
    void secondPressKeepsTheFirstEnd()
    {
        Rig r;
        QElapsedTimer first;
        first.start();
        r.click("Button4");
        QCOMPARE(r.signOn(5), QByteArray("/?!\r\n"));
        r.meterSends("/A\r\n");
        QTest::qWait(2000);
        const qint64 secondAt = first.elapsed();
        r.click("Button4");
        QCOMPARE(r.signOn(5), QByteArray("/?!\r\n"));
        QVERIFY(r.captureEnds.wait(20000));
        // Reply windows are coarse timers, which may end up to 5 % early.
        QVERIFY(first.elapsed() >= 9500);
        QVERIFY(first.elapsed() < secondAt + 10000);
        QVERIFY(r.pty.write("late\r\n"));
        QTest::qWait(300);
        QCOMPARE(r.lines(), (QList<QByteArray>{"/A\r", ""}));
        QVERIFY(r.portOpen());
    }

    void clearDuringCaptureRestartsAtLineZero()
    {
        Rig r;
        r.click("Button4");
        r.meterSends("/A\r\nB");
        r.click("Button5");
        QCOMPARE(r.memo()->lineCount(), 0);
        r.meterSends("C\r\nD");
        QCOMPARE(r.lines(), (QList<QByteArray>{"C\r", "D"}));
    }

    // Copy gives the characters as they are; pasted text becomes lines of
    // its own below; Delete removes the selected lines.
    void copyPasteAndDeleteLines()
    {
        Rig r;
        r.memo()->paste(QStringLiteral("X\r\n\x02"
                                       "1.8.0(5)\r\n"));
        QCOMPARE(r.lines(), (QList<QByteArray>{"X\r",
                                               "\x02"
                                               "1.8.0(5)\r",
                                               ""}));
        r.memo()->paste(QStringLiteral("tail"));
        r.memo()->paste(QStringLiteral("more"));
        QCOMPARE(r.lines().mid(2), (QList<QByteArray>{"tail", "more"}));
        r.memo()->setFocus();
        QTest::keyClick(r.memo(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(r.memo(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("X\r\n\x02"
                                                                      "1.8.0(5)\r\ntail\nmore"));
        QTest::keyClick(r.memo(), Qt::Key_Delete);
        QCOMPARE(r.memo()->lineCount(), 0);
    }

    // A value with its unit wider than the column's first width is shown
    // whole after Parse: the column widens, and the table does not narrow it
    // when the grid is smaller.
    void parsedValuesAreShownWhole()
    {
        Rig r;
        r.memo()->paste(
            QStringLiteral("/XXX5METER\r\n1.8.0(0001234.567*kWh)\r\n96.50.1.255(ABCDEFGHIJKLMNOP)\r\n"));
        r.click("BitBtn20");
        StringGrid *grid = r.child<StringGrid>("gridIEC");
        QCOMPARE(grid->cell(1, 2), QStringLiteral("ABCDEFGHIJKLMNOP"));
        for (int row = 1; row <= 2; ++row)
            for (int col = 0; col <= 1; ++col)
                QVERIFY2(grid->columnWidth(col) > grid->fontMetrics().horizontalAdvance(grid->cell(col, row)),
                         qPrintable(grid->cell(col, row)));
        QCOMPARE(grid->ownWidth(2), 144);
    }

    void saveWritesTheBytesThatArrived()
    {
        Rig r;
        const QString path = r.dir.filePath(QStringLiteral("logIEC.txt"));
        r.click("Button4");
        r.meterSends(QByteArray("\xe9\x00\x80x\r\n", 6));
        r.click("Button6");
        QCOMPARE(readFile(path), QByteArray("\xe9\x00\x80x\r\r\n\r\n", 9));
        r.click("Button5");
        r.meterSends("2");
        r.click("Button6");
        QCOMPARE(readFile(path), QByteArray("2\r\n"));

        QVERIFY(QFile::remove(path));
        QVERIFY(QDir(r.dir.path()).mkdir(QStringLiteral("logIEC.txt")));
        r.click("Button6");
        QCOMPARE(r.log.last(), QStringLiteral("Can not write file, no rights..."));
    }

    void refusals()
    {
        // A port that cannot be opened: the toggle's own report, then ours.
        Rig missing;
        missing.setText("Combo_com2_name", QStringLiteral("/nonexistent/ttyQVX"));
        missing.click("Button4");
        QCOMPARE(missing.log.last(), QStringLiteral("Unable to open serial port, quitting..."));
        QVERIFY(!missing.dialogs.dialogs.raised.isEmpty());
        QVERIFY(!missing.portOpen());

        // A Modbus TCP connection exists: nothing is sent.
        Rig r;
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        QVERIFY(r.connectTcp(server.serverPort()));
        r.click("Button4");
        QCOMPARE(r.log.last(), QStringLiteral("Please disconnect TCP connection first to avoid confusions!"));
        QVERIFY(!r.portOpen());
        QVERIFY(r.pty.read(1, 300).isEmpty());
    }

    // The simulator's meter on its own terminal: Readout, the capture's end,
    // Parse, the table and its CSV.
    void wholeSessionAgainstTheSimulatedMeter()
    {
        Rig r;
        qvxsim::MeterLink meter(r.device);
        QVERIFY2(meter.openPty(), qPrintable(meter.errorString()));
        r.setText("Combo_com2_name", meter.slavePath());
        r.child<QLineEdit>("Edit_mserial")->setText(QStringLiteral("12345678"));
        r.click("Button4");
        QVERIFY(r.captureEnds.wait(30000));
        QCOMPARE(meter.answers(), 1);
        QVERIFY(r.lines().first().startsWith("/QVX5SIMMETER"));
        // The message ends with "!", ETX and its block check character,
        // whatever byte that is (a line feed starts one more, empty line; an
        // ETX is one too).
        const QByteArray all = r.captured();
        QVERIFY2(all.lastIndexOf("!\r\n\x03") == all.size() - 5,
                 qPrintable(QString::fromLatin1(all.right(40).toHex(' '))));

        r.click("BitBtn20");
        StringGrid *grid = r.child<StringGrid>("gridIEC");
        const QList<QByteArray> data = r.device.meters().meter(QStringLiteral("12345678")).dataLines({});
        QCOMPARE(grid->rowCount(), data.size() + 1);
        QCOMPARE(grid->cell(0, 1), QStringLiteral("\x02"
                                                  "0.0.0"));
        QCOMPARE(grid->cell(1, 1), QStringLiteral("12345678"));
        QCOMPARE(grid->cell(0, 2), QStringLiteral("1.8.0"));
        QVERIFY(
            QRegularExpression(QStringLiteral("^\\d{7}\\.\\d{3} kWh$")).match(grid->cell(1, 2)).hasMatch());
        QCOMPARE(grid->cell(0, grid->rowCount() - 1), QStringLiteral("F.F"));
        for (int row = 1; row < grid->rowCount(); ++row)
            QVERIFY(grid->cell(2, row).isEmpty());

        const QString csv = r.dir.filePath(QStringLiteral("readout.csv"));
        r.dialogs.dialogs.fileAnswers.enqueue(csv);
        r.click("BitBtn21");
        QCOMPARE(r.dialogs.dialogs.raised.last().file.fileName, QStringLiteral("iecgrid.csv"));
        const QList<QByteArray> rows = readFile(csv).split('\n');
        QCOMPARE(rows.size(), grid->rowCount() + 1);
        QCOMPARE(rows.at(0), QByteArray("OBIS code ;Value ;Notes     ;\r"));
        QCOMPARE(rows.at(1), QByteArray("\x02"
                                        "0.0.0;12345678;;\r"));
    }
};

QTEST_MAIN(TstReadoutCapture)
#include "tst_readout_capture.moc"
