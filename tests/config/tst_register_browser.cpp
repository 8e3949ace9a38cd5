// The register browser driven through its controls, with the test playing the
// device at the other end of a real pseudo-terminal.
#include "common/hex.h"
#include "widgets/dialogs.h"
#include "widgets/string_grid.h"
#include "widgets/typing_limit.h"
#include "common/pty_pair.h"
#include "common/window_rig.h"
#include "config/register_browser.h"
#include "config/settings_tab.h"
#include "transport/modbus.h"
#include "transport/reply_timer.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <memory>

using qvxtest::hex;

using namespace qvx;

namespace {

QByteArray good(const char *s)
{
    return withCrc(hex(s));
}

constexpr int RequestLength = 8;
// Long enough for one 1000 ms window on a busy machine.
constexpr int WindowWaitMs = 5000;

// The browser in the main window, whose serial port is the terminal side of a
// fresh pty pair; the test is the device on the peer side.
struct Rig : qvxtest::WindowRig {
    qvxtest::PtyPair pty;
    RegisterBrowser &browser = *form->settingsTab()->registerBrowser();
    QSignalSpy windowEnds{&browser.timerModbus(), &ReplyTimer::timeout};

    Rig()
    {
        setText("Combo_com2_parity", QStringLiteral("None")); // a pty refuses even parity
        openPort(pty.slavePath());
        log.clear();
    }
    QLineEdit *edit(const char *name) { return child<QLineEdit>(name); }
    QCheckBox *check(const char *name) { return child<QCheckBox>(name); }
    StringGrid &grid() { return browser.registerGrid(); }
    QStringList row(int r)
    {
        QStringList cells;
        for (int c = 0; c < grid().colCount(); ++c)
            cells << grid().cell(c, r);
        return cells;
    }
    // The device waits for one request and returns it.
    QByteArray request() { return pty.read(RequestLength, WindowWaitMs); }
    // Nothing reaches the device for a while.
    bool deviceHearsNothing() { return pty.read(1, 300).isEmpty(); }
};

QString respond(const QByteArray &reply)
{
    return QStringLiteral("Respond:") + hexBytes(reply);
}

} // namespace

class TstRegisterBrowser : public QObject {
    Q_OBJECT
    std::unique_ptr<Rig> rig;

private slots:
    void init()
    {
        rig = std::make_unique<Rig>();
        QVERIFY(rig->pty.isValid());
        QVERIFY(rig->portOpen());
    }
    void cleanup() { rig.reset(); }

    // --- the controls ----------------------------------------------------------

    void controlsCarryTheirNamesAndDefaults()
    {
        Rig &r = *rig;
        QVERIFY(!r.check("checkInput")->isChecked());
        QVERIFY(r.check("checkHolding")->isChecked());
        QCOMPARE(r.edit("EditInputAddress")->text(), QStringLiteral("1"));
        QCOMPARE(typingLimit(r.edit("EditInputAddress")), 5);
        QCOMPARE(r.edit("EditInputCount")->text(), QStringLiteral("125"));
        QCOMPARE(typingLimit(r.edit("EditInputCount")), 3);
        QCOMPARE(r.edit("EditInputCount")->accessibleName(), QStringLiteral("Count"));
        QCOMPARE(r.child<QPushButton>("BitBtn3")->text(), QStringLiteral("Read registers"));
        QCOMPARE(r.child<QPushButton>("BitBtn4")->text(), QStringLiteral("Clear grid"));
        QCOMPARE(r.child<QPushButton>("BitBtn8")->text(), QStringLiteral("Export"));

        auto *timeout = r.child<QSpinBox>("UD_modbusTimeout");
        QCOMPARE(timeout->findChild<QLineEdit *>(), r.edit("EditTimeoutModbus"));
        QVERIFY(r.edit("EditTimeoutModbus")->isReadOnly());
        QCOMPARE(r.edit("EditTimeoutModbus")->accessibleName(), QStringLiteral("Timeout, ms"));
        QCOMPARE(r.browser.modbusTimeout(), 600); // the settings file's default
        timeout->stepUp();
        QCOMPARE(r.browser.modbusTimeout(), 650);
        QCOMPARE(timeout->minimum(), 50);
        QCOMPARE(timeout->maximum(), 20000);

        auto *unit = r.child<QSpinBox>("UDmodbusAddress");
        QCOMPARE(unit->findChild<QLineEdit *>(), r.edit("EditAddressModbus"));
        QCOMPARE(r.browser.unitAddress(), uint8_t(1));
        QCOMPARE(unit->maximum(), 255);
        QCOMPARE(r.edit("EditAddressModbus")->maxLength(), 3);

        auto *grid = r.child<StringGrid>("gridInputRegisters");
        QCOMPARE(grid, &r.grid());
        QCOMPARE(grid->rowCount(), 2);
        QCOMPARE(r.row(0),
                 (QStringList{"Addr. modbus", "High ", "Notes/Decode ", "Low ", "Notes/Decode ", "Time "}));
        const QList<int> widths = {72, 77, 141, 74, 147, 64};
        for (int c = 0; c < 6; ++c)
            QCOMPARE(grid->columnWidth(c), widths.at(c));
        QCOMPARE(grid->rowHeight(1), 18);
        QCOMPARE(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
        QVERIFY(!grid->accessibleName().isEmpty());
    }

    // A click on one box moves the check; exactly one is checked at all times.
    void inputAndHoldingToggle_data()
    {
        QTest::addColumn<QString>("clicks");
        QTest::addColumn<bool>("input");
        QTest::newRow("Input") << "I" << true;
        QTest::newRow("Input twice") << "II" << false;
        QTest::newRow("checked Holding") << "H" << true;
        QTest::newRow("Holding twice") << "HH" << false;
        QTest::newRow("Input then Holding") << "IH" << false;
    }
    void inputAndHoldingToggle()
    {
        QFETCH(QString, clicks);
        QFETCH(bool, input);
        for (QChar c : clicks)
            rig->click(c == QLatin1Char('I') ? "checkInput" : "checkHolding");
        QCOMPARE(rig->check("checkInput")->isChecked(), input);
        QCOMPARE(rig->check("checkHolding")->isChecked(), !input);
    }

    // --- requests ------------------------------------------------------------------

    void requestFollowsTheFields_data()
    {
        QTest::addColumn<bool>("input");
        QTest::addColumn<int>("unit");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("count");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("holding") << false << 1 << "0"
                                 << "10" << hex("01 03 00 00 00 0A C5 CD");
        QTest::newRow("input, unit 7") << true << 7 << "300"
                                       << "2" << rtuFrame(7, pduReadInput(300, 2));
        QTest::newRow("count 200 unchanged") << false << 1 << "1"
                                             << "200" << rtuFrame(1, pduReadHolding(1, 200));
        QTest::newRow("start above 16 bits") << false << 1 << "65537"
                                             << "1" << rtuFrame(1, pduReadHolding(1, 1));
    }
    void requestFollowsTheFields()
    {
        QFETCH(bool, input);
        QFETCH(int, unit);
        QFETCH(QString, start);
        QFETCH(QString, count);
        QFETCH(QByteArray, frame);
        Rig &r = *rig;
        if (input)
            r.click("checkInput");
        r.child<QSpinBox>("UDmodbusAddress")->setValue(unit);
        r.edit("EditInputAddress")->setText(start);
        r.edit("EditInputCount")->setText(count);
        r.click("BitBtn3");
        QCOMPARE(r.request().toHex(' '), frame.toHex(' '));
        QVERIFY(r.browser.timerModbus().isEnabled());
        // Only the input read writes its "SENT:" line.
        QCOMPARE(r.log, input ? QStringList{QStringLiteral("SENT:") + hexBytes(frame)} : QStringList{});
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("line");
        QTest::newRow("no link") << "noLink"
                                 << "Serial or TCP port for modbus is not open...";
        QTest::newRow("empty start") << "emptyStart"
                                     << "Enter proper initial conditions...";
        QTest::newRow("empty count") << "emptyCount"
                                     << "Enter proper initial conditions...";
        QTest::newRow("no register type")
            << "noType"
            << "Select type of registers you want to read - Input or Holding...";
    }
    void refusals()
    {
        QFETCH(QString, situation);
        QFETCH(QString, line);
        Rig &r = *rig;
        if (situation == "noLink") {
            r.click("Butt_open_port2"); // closes the port
            r.log.clear();
        }
        if (situation == "emptyStart")
            r.edit("EditInputAddress")->clear();
        if (situation == "emptyCount")
            r.edit("EditInputCount")->clear();
        if (situation == "noType")
            r.check("checkHolding")->setChecked(false);
        r.click("BitBtn3");
        QCOMPARE(r.log, QStringList{line});
        QVERIFY(!r.browser.timerModbus().isEnabled());
        QVERIFY(r.deviceHearsNothing());
    }

    // Text pasted past the key filter: the standard error box, nothing sent.
    void pastedTextIsAConversionError_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::newRow("letters in start") << "EditInputAddress"
                                          << "1x";
        QTest::newRow("space in start") << "EditInputAddress"
                                        << " 7";
        QTest::newRow("sign in count") << "EditInputCount"
                                       << "-5";
    }
    void pastedTextIsAConversionError()
    {
        QFETCH(QString, field);
        QFETCH(QString, text);
        Rig &r = *rig;
        r.edit(field.toLatin1().constData())->setText(text);
        r.click("BitBtn3");
        QCOMPARE(r.dialogs.dialogs.raised.size(), 1);
        const qvxtest::RaisedDialog &box = r.dialogs.dialogs.raised.constFirst();
        QCOMPARE(box.kind, QStringLiteral("message"));
        QCOMPARE(box.icon, DialogIcon::Error);
        QVERIFY2(box.text.contains(text), qPrintable(box.text));
        QVERIFY(r.log.isEmpty());
        QVERIFY(!r.browser.timerModbus().isEnabled());
        QVERIFY(r.deviceHearsNothing());
    }

    // --- the reply window ------------------------------------------------------------

    void deviceAnswerBecomesRows()
    {
        Rig &r = *rig;
        r.edit("EditInputAddress")->setText("100");
        r.edit("EditInputCount")->setText("2");
        r.click("BitBtn3");
        QCOMPARE(r.request(), rtuFrame(1, pduReadHolding(100, 2)));
        const QByteArray reply = good("01 03 04 00 0A 01 02");
        QVERIFY(r.pty.write(reply));
        QVERIFY(r.windowEnds.wait(WindowWaitMs));

        QCOMPARE(r.grid().rowCount(), 4);
        QCOMPARE(r.row(1).mid(0, 5), (QStringList{"100", "00", "", "0A", ""}));
        QCOMPARE(r.row(2).mid(0, 5), (QStringList{"101", "01", "", "02", ""}));
        QCOMPARE(r.row(3), QStringList(6, QString()));
        // Both rows carry the decoding time, a clock time without a date.
        QVERIFY(QRegularExpression(QStringLiteral("\\d{1,2}:\\d\\d:\\d\\d"))
                    .match(r.grid().cell(5, 1))
                    .hasMatch());
        QCOMPARE(r.grid().cell(5, 2), r.grid().cell(5, 1));
        // "Respond:" and nine groups, each ended by a space.
        QCOMPARE(r.log, QStringList{respond(reply)});
        QCOMPARE(respond(reply).count(QLatin1Char(' ')), 9);
        QVERIFY(!r.browser.timerModbus().isEnabled());
    }

    void successiveReadsAppendAndClearGridEmpties()
    {
        Rig &r = *rig;
        r.edit("EditInputAddress")->setText("10");
        for (const char *reply : {"01 03 02 00 01", "01 03 04 00 02 00 03"}) {
            r.edit("EditInputCount")->setText(QString::number(hex(reply).at(2) / 2));
            r.click("BitBtn3");
            QCOMPARE(r.request().size(), RequestLength);
            QVERIFY(r.pty.write(good(reply)));
            QVERIFY(r.windowEnds.wait(WindowWaitMs));
        }
        QCOMPARE(r.grid().rowCount(), 5);
        QCOMPARE(r.row(1).mid(0, 4), (QStringList{"10", "00", "", "01"}));
        QCOMPARE(r.row(2).mid(0, 4), (QStringList{"10", "00", "", "02"}));
        QCOMPARE(r.row(3).mid(0, 4), (QStringList{"11", "00", "", "03"}));

        const QStringList header = r.row(0);
        r.click("BitBtn4");
        QCOMPARE(r.grid().rowCount(), 2);
        QCOMPARE(r.row(0), header);
        QCOMPARE(r.row(1), QStringList(6, QString()));
    }

    // Failed checks: their lines stand above the "Respond:" line, no rows.
    void failedChecksAreLoggedAboveTheReply_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("line");
        QTest::newRow("exception") << hex("01 83 02 C0 F1") << "Error - ILLEGAL DATA ADDRESS\r";
        QTest::newRow("crc") << hex("01 03 02 00 0A 00 01") << "Error in CRC field\r";
        QTest::newRow("leading zero") << good("00 03 02 00 0A") << "Garbage leading bytes in the telegram";
    }
    void failedChecksAreLoggedAboveTheReply()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, line);
        Rig &r = *rig;
        r.click("BitBtn3");
        QCOMPARE(r.request().size(), RequestLength);
        QVERIFY(r.pty.write(reply));
        QVERIFY(r.windowEnds.wait(WindowWaitMs));
        QCOMPARE(r.log, (QStringList{line, respond(reply)}));
        QCOMPARE(r.grid().rowCount(), 2);
    }

    void crcFailureStaysOnPanelTwo()
    {
        Rig &r = *rig;
        r.edit("EditInputCount")->setText("1");
        for (const QByteArray &reply : {hex("01 03 02 00 0A 00 01"), good("01 03 02 00 0A")}) {
            r.click("BitBtn3");
            QCOMPARE(r.request().size(), RequestLength);
            QVERIFY(r.pty.write(reply));
            QVERIFY(r.windowEnds.wait(WindowWaitMs));
            QCOMPARE(r.session().status(2), QStringLiteral("Error in CRC field"));
        }
        QCOMPARE(r.grid().rowCount(), 3); // the good reply was decoded
    }

    void noAnswerGivesRespondAlone()
    {
        Rig &r = *rig;
        r.click("BitBtn3");
        QCOMPARE(r.request().size(), RequestLength);
        QVERIFY(r.windowEnds.wait(WindowWaitMs));
        QCOMPARE(r.log, QStringList{QStringLiteral("Respond:")});
        QCOMPARE(r.grid().rowCount(), 2);
    }

    void lateAnswerIsDiscardedByTheNextRequest()
    {
        Rig &r = *rig;
        r.edit("EditInputCount")->setText("1");
        r.click("BitBtn3");
        QCOMPARE(r.request().size(), RequestLength);
        QVERIFY(r.windowEnds.wait(WindowWaitMs));
        const QByteArray late = good("01 03 02 00 0A");
        QVERIFY(r.pty.write(late));
        QTest::qWait(300); // it arrives after the window
        QCOMPARE(r.grid().rowCount(), 2);

        r.click("BitBtn3");
        QCOMPARE(r.request().size(), RequestLength);
        const QByteArray reply = good("01 03 02 00 0B");
        QVERIFY(r.pty.write(reply));
        QVERIFY(r.windowEnds.wait(WindowWaitMs));
        QCOMPARE(r.log, (QStringList{"Respond:", respond(reply)}));
        QCOMPARE(r.grid().rowCount(), 3);
        QCOMPARE(r.grid().cell(3, 1), QStringLiteral("0B"));
    }

    // A second press inside the window sends again but leaves the window
    // running: it ends once, with what came for the second request.
    void secondPressDoesNotRestartTheWindow()
    {
        Rig &r = *rig;
        r.edit("EditInputCount")->setText("1");
        r.click("BitBtn3");
        QCOMPARE(r.request().size(), RequestLength);
        QVERIFY(r.browser.timerModbus().isEnabled());
        r.click("BitBtn3");
        QCOMPARE(r.request().size(), RequestLength);
        const QByteArray reply = good("01 03 02 00 0A");
        QVERIFY(r.pty.write(reply));
        QVERIFY(r.windowEnds.wait(WindowWaitMs));
        QCOMPARE(r.log, QStringList{respond(reply)});
        QVERIFY(!r.windowEnds.wait(1500));
        QCOMPARE(r.windowEnds.count(), 1);
        QCOMPARE(r.grid().rowCount(), 3);
    }

    // The window of a device write shows its reply but never decodes it.
    void writeReplyIsOnlyLogged()
    {
        Rig &r = *rig;
        r.click("BitBtn13"); // the readout interval: a device write
        QCOMPARE(r.request(), rtuFrame(1, hex("06 00 64 00 02")));
        const QByteArray reply = good("01 06 00 64 00 02");
        QVERIFY(r.pty.write(reply));
        QVERIFY(r.windowEnds.wait(WindowWaitMs));
        QCOMPARE(r.log.last(), respond(reply));
        QCOMPARE(r.grid().rowCount(), 2);
    }

    void windowEndsSilentlyWhenTheLinkClosed()
    {
        Rig &r = *rig;
        r.click("BitBtn13");
        QCOMPARE(r.request().size(), RequestLength);
        r.click("Butt_open_port2"); // closes the port inside the write's window
        r.log.clear();
        QVERIFY(r.windowEnds.wait(WindowWaitMs));
        QVERIFY(r.log.isEmpty());
    }

    // --- the owner-drawn look -----------------------------------------------------------

    void cellsAreWhiteWithBlackTextAndNoHighlight()
    {
        Rig &r = *rig;
        r.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(r.form.get()));
        StringGrid &grid = r.grid();
        grid.setCell(0, 1, QStringLiteral("MMMM"));
        grid.selectAll();
        grid.setCurrentIndex(grid.model()->index(1, 0));

        const QImage image = grid.viewport()->grab().toImage();
        const QRect header = grid.visualRect(grid.model()->index(0, 2));
        const QRect text = grid.visualRect(grid.model()->index(1, 0));
        const QRect empty = grid.visualRect(grid.model()->index(1, 2));
        const QColor buttonFace = grid.palette().color(QPalette::Button);

        QCOMPARE(image.pixelColor(header.right() - 2, header.bottom() - 2), buttonFace);
        QCOMPARE(image.pixelColor(empty.center()), QColor(Qt::white));
        QCOMPARE(image.pixelColor(text.right() - 2, text.bottom() - 2), QColor(Qt::white));

        // The text starts at the cell's left edge (no inset) and is black.
        int firstInk = -1;
        int darkest = 255;
        for (int x = text.left(); x < text.left() + 12 && x <= text.right(); ++x)
            for (int y = text.top(); y <= text.bottom(); ++y) {
                const int gray = qGray(image.pixel(x, y));
                darkest = qMin(darkest, gray);
                if (gray < 128 && firstInk < 0)
                    firstInk = x - text.left();
            }
        QVERIFY2(firstInk >= 0 && firstInk <= 2, qPrintable(QString::number(firstInk)));
        QVERIFY(darkest < 60);
    }
};

QTEST_MAIN(TstRegisterBrowser)
#include "tst_register_browser.moc"
