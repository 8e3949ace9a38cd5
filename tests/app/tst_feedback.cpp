// Every action says what happened: the status bar after saves and loads
// (path and size, or the plain cause of a failure), the settings readout's
// progress, the register table kept in view, the tool tips and the manual's
// box where no document launcher exists; the readout's line label, its
// countdown and the word when the meter stays silent.  Through the real
// window, against the simulated gateway over Modbus TCP on 127.0.0.1, or a
// silent meter on a pseudo-terminal.
#include "app/document_launcher.h"
#include "common/pty_pair.h"
#include "common/window_rig.h"
#include "core/file_outcome.h"
#include "iec/readout_tab.h"
#include "meters/meters_tab.h"
#include "transport/reply_timer.h"
#include "widgets/dialogs.h"
#include "widgets/string_grid.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStatusBar>

using namespace qvx;
using qvxtest::Link;
using qvxtest::WindowRig;

namespace {

QString shown(WindowRig &r)
{
    return r.form->statusBar()->currentMessage();
}
QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}
bool makeFile(const QString &path)
{
    QFile f(path);
    return QDir().mkpath(QFileInfo(path).absolutePath()) && f.open(QIODevice::WriteOnly);
}

} // namespace

class TstFeedback : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { setDocumentOpener({}); }

    void failureCause_data()
    {
        QTest::addColumn<bool>("mustExist");
        QTest::addColumn<bool>("fileExists");
        QTest::addColumn<bool>("folderExists");
        QTest::addColumn<bool>("writable");
        QTest::addColumn<bool>("diskFull");
        QTest::addColumn<QString>("words");
        QTest::newRow("log to be made first")
            << true << false << true << true << false << "does not exist and must be created first";
        QTest::newRow("folder missing")
            << true << false << false << true << false << "the folder /d/files is missing";
        QTest::newRow("read-only") << false << true << true << false << false << "permission denied for";
        QTest::newRow("disk full") << false << true << true << true << true << "the disk is full";
        QTest::newRow("other") << false << true << true << true << false << "(Some error)";
    }
    void failureCause()
    {
        QFETCH(bool, mustExist);
        QFETCH(bool, fileExists);
        QFETCH(bool, folderExists);
        QFETCH(bool, writable);
        QFETCH(bool, diskFull);
        QFETCH(QString, words);
        const FileFacts facts{mustExist, fileExists, folderExists, writable, diskFull};
        const QString path = QStringLiteral("/d/files/log.txt");
        const QString text = fileFailureText(fileFailureCause(facts), path, QStringLiteral("Some error"));
        QVERIFY2(text.contains(words) && text.contains(native(path)), qPrintable(text));
    }

    void fileDialogs_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("saved");
        QTest::newRow("no extension") << "/d/site"
                                      << "/d/site.csv";
        QTest::newRow("extension kept") << "/d/site.txt"
                                        << "/d/site.txt";
        QTest::newRow("dotted folder") << "/d.x/site"
                                       << "/d.x/site.csv";
    }
    void fileDialogs()
    {
        QFETCH(QString, typed);
        QFETCH(QString, saved);
        QCOMPARE(withDefaultSuffix(typed, QStringLiteral("csv")), saved);
        QCOMPARE(openDialogFilter(QStringLiteral("CSV (*.csv)")),
                 QStringLiteral("CSV (*.csv);;All files (*)"));
    }

    // Register CSV, meter data file save and load: what and where, and how big.
    void savesAndLoadsAreReported()
    {
        WindowRig r;
        const QString csv = r.dir.filePath(QStringLiteral("site.csv"));
        r.dialogs.dialogs.fileAnswers << csv;
        r.click("BitBtn8");
        QCOMPARE(
            shown(r),
            QStringLiteral("Saved 2 lines to %1 (%2 bytes)").arg(native(csv)).arg(QFileInfo(csv).size()));

        const QString data = r.dir.filePath(QStringLiteral("meters.csv"));
        r.dialogs.dialogs.fileAnswers << data << data;
        r.click("BitBtn17");
        QCOMPARE(r.dialogs.dialogs.raised.last().file.defaultSuffix, QStringLiteral("csv"));
        const QString size = groupedNumber(QFileInfo(data).size());
        QCOMPARE(shown(r), QStringLiteral("Saved 2,080 lines to %1 (%2 bytes)").arg(native(data), size));
        r.click("BitBtn18");
        QCOMPARE(shown(r), QStringLiteral("Read 2,080 lines from %1 (%2 bytes)").arg(native(data), size));
    }

    // "Save log": the file written, or why not beside the fixed log line.
    void saveLog_data()
    {
        QTest::addColumn<bool>("folder");
        QTest::newRow("written") << true;
        QTest::newRow("no files folder") << false;
    }
    void saveLog()
    {
        QFETCH(bool, folder);
        WindowRig r;
        const QString path = r.dir.filePath(QStringLiteral("files/log.txt"));
        if (folder)
            QVERIFY(QDir(r.dir.path()).mkpath(QStringLiteral("files")));
        r.session().log(QStringLiteral("one line"));
        r.click("BitBtn6");
        if (folder) {
            QVERIFY2(shown(r).startsWith(QStringLiteral("Saved 1 line to ") + native(path)),
                     qPrintable(shown(r)));
        } else {
            QCOMPARE(r.log.last(), QStringLiteral("Can not write file, no rights..."));
            QVERIFY2(shown(r).contains(
                         QStringLiteral("the folder %1 is missing").arg(native(r.dir.filePath("files")))),
                     qPrintable(shown(r)));
        }
    }

    // The values log is never created by the program: the status bar says so;
    // once it exists, its first append is reported.
    void valuesLog()
    {
        WindowRig r({.link = Link::Tcp, .timeoutMs = 300});
        const QString path = r.dir.filePath(QStringLiteral("files/logvalues.txt"));
        QVERIFY(QDir(r.dir.path()).mkpath(QStringLiteral("files")));
        r.click("Check_autoSave");
        QVERIFY(r.answered([&] { r.click("BitBtn19"); }));
        QVERIFY(r.log.contains(QStringLiteral("Can not write file, no rights...")));
        QVERIFY2(
            shown(r).contains(native(path) + QStringLiteral(" does not exist and must be created first")),
            qPrintable(shown(r)));
        QVERIFY(makeFile(path));
        QVERIFY(r.answered([&] { r.click("BitBtn19"); }));
        QVERIFY2(shown(r).startsWith(QStringLiteral("Appended 65 lines to ") + native(path)),
                 qPrintable(shown(r)));
    }

    // "k/8" in panel 3 while "Read settings " runs, emptied at its end.
    void settingsReadoutProgress()
    {
        WindowRig r({.link = Link::Tcp, .timeoutMs = 200});
        QStringList progress;
        connect(&r.session(), &Session::statusChanged, [&](int panel, const QString &text) {
            if (panel == 3)
                progress << text;
        });
        r.click("Butt_status");
        QVERIFY(QTest::qWaitFor([&] { return !progress.isEmpty() && progress.last().isEmpty(); }, 20000));
        QCOMPARE(progress, (QStringList{"1/8", "2/8", "3/8", "4/8", "5/8", "6/8", "7/8", "8/8", ""}));
    }

    // The newest register is in sight after a read; headers are not cut.
    void registerTableInView()
    {
        WindowRig r({.link = Link::Tcp, .timeoutMs = 300, .shown = true});
        auto *grid = r.child<StringGrid>("gridInputRegisters");
        QVERIFY(grid->columnWidth(0) > grid->fontMetrics().horizontalAdvance(QStringLiteral("Addr. modbus")));
        for (int read = 0; read < 2; ++read)
            QVERIFY(r.answered([&] { r.click("BitBtn3"); }));
        const int newest = grid->rowCount() - 2;
        QCOMPARE(grid->cell(0, newest), QStringLiteral("125"));
        const QRect rect = grid->visualRect(grid->gridModel()->index(newest, 0));
        QVERIFY(grid->viewport()->rect().contains(rect));
        QVERIFY(rect.top() >= grid->fixedRowView()->height());
    }

    void toolTips()
    {
        WindowRig r;
        const QString port = QStringLiteral("/dev/serial/by-id/usb-FTDI_USB_RS485_Cable_FT9ABCDE-if00-port0");
        r.setText("Combo_com2_name", port);
        QCOMPARE(r.child<QComboBox>("Combo_com2_name")->toolTip(), port);
        QVERIFY(r.child<QPushButton>("BitBtn16")->toolTip().contains(QStringLiteral("\"Activate\"")));
        QVERIFY(r.child<QLineEdit>("Edit_command")
                    ->toolTip()
                    .contains(QStringLiteral("01 03 00 07 00 01 35 CB")));
        r.form->metersTab()->meterTable().setCode(2, 5, QStringLiteral("1.8.0"));
        r.child<QSpinBox>("UD_meterNumber")->setValue(2);
        auto *values = r.child<StringGrid>("Grid_meterValue");
        QVERIFY(values->gridModel()
                    ->index(5, 1)
                    .data(Qt::ToolTipRole)
                    .toString()
                    .contains(QStringLiteral("1.8.0")));
    }

    // The readout's own files: logIEC.txt in the program folder and the
    // table's CSV export.
    void readoutFilesAreReported_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("file");
        QTest::newRow("logIEC.txt") << "Button6"
                                    << "logIEC.txt";
        QTest::newRow("table CSV") << "BitBtn21"
                                   << "iec.csv";
    }
    void readoutFilesAreReported()
    {
        QFETCH(QString, button);
        QFETCH(QString, file);
        WindowRig r;
        const QString path = r.dir.filePath(file);
        r.dialogs.dialogs.fileAnswers << path;
        r.click(qPrintable(button));
        QVERIFY2(shown(r).startsWith(QStringLiteral("Saved ")) &&
                     shown(r).contains(QStringLiteral(" to %1 (").arg(native(path))),
                 qPrintable(shown(r)));
    }

    // Under "Readout": the port and line the readout will use.
    void readoutLineLabel_data()
    {
        QTest::addColumn<QStringList>("boxes"); // speed, parity, data bits, stop bits
        QTest::addColumn<bool>("modeC");
        QTest::addColumn<bool>("start300");
        QTest::addColumn<QString>("label");
        QTest::newRow("IEC line") << QStringList{"9600", "Even", "7", "1"} << false << false
                                  << "/dev/ttyUSB0, 9600 7E1";
        QTest::newRow("Modbus line") << QStringList{"19200", "None", "8", "2"} << false << false
                                     << "/dev/ttyUSB0, 19200 8N2";
        QTest::newRow("probe, mode C") << QStringList{"9600", "Even", "7", "1"} << true << true
                                       << "/dev/ttyUSB0, 9600 7E1, sign-on at 300 7E1, mode C";
    }
    void readoutLineLabel()
    {
        QFETCH(QStringList, boxes);
        QFETCH(bool, modeC);
        QFETCH(bool, start300);
        QFETCH(QString, label);
        WindowRig r;
        r.setText("Combo_com2_name", QStringLiteral("/dev/ttyUSB0"));
        for (const char *box : {"Combo_com2_speed", "Combo_com2_parity", "Combo_dbits", "Combo_com2_stop"})
            r.setText(box, boxes.takeFirst());
        r.child<QCheckBox>("CheckBox_modeC")->setChecked(modeC);
        r.child<QCheckBox>("CheckBox_start300")->setChecked(start300);
        QCOMPARE(r.child<QLabel>("Label_readoutLine")->text(), label);
    }

    // A meter that never answers: the panel counts the window down, and its
    // end says what to check.
    void silentMeter()
    {
        WindowRig r;
        qvxtest::PtyPair pty;
        r.setText("Combo_com2_name", pty.slavePath());
        r.click("Button4");
        QVERIFY(r.portOpen());
        auto *panel = r.child<QLabel>("StatusPanelReadout");
        const QRegularExpression left(QStringLiteral("^Readout: 0 bytes, (\\d+) s left$"));
        auto secondsLeft = [&] {
            const QRegularExpressionMatch m = left.match(panel->text());
            return m.hasMatch() ? m.captured(1).toInt() : -1;
        };
        const int first = secondsLeft();
        QVERIFY2(first > 0 && first <= ReadoutTab::CaptureMs / 1000, qPrintable(panel->text()));
        QTRY_VERIFY_WITH_TIMEOUT(secondsLeft() >= 0 && secondsLeft() < first, 8000);
        r.form->readoutTab()->timerDirectRead().fireNow();
        QVERIFY(panel->isHidden());
        for (const QString &words : {QStringLiteral("The meter did not answer"), pty.slavePath(),
                                     QStringLiteral("7 data bits with even parity")})
            QVERIFY2(shown(r).contains(words), qPrintable(shown(r)));
    }

    // No document launcher: a box through the dialog seam says where the PDF is.
    void manualWithoutLauncher()
    {
        WindowRig r;
        const QString pdf = r.dir.filePath(QStringLiteral("UsrMan.pdf"));
        QVERIFY(makeFile(pdf));
        setDocumentOpener([](const QString &) { return false; });
        r.form->findChild<QAction *>(QStringLiteral("Usermanual1"))->trigger();
        QCOMPARE(r.dialogs.dialogs.raised.size(), 1);
        const qvxtest::RaisedDialog &box = r.dialogs.dialogs.raised.last();
        QCOMPARE(box.caption, QStringLiteral("User manual"));
        QVERIFY(box.text.contains(native(pdf)));
        QVERIFY(box.text.contains(QStringLiteral("any PDF viewer")));
    }
};

QTEST_MAIN(TstFeedback)
#include "tst_feedback.moc"
