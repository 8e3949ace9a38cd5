// The meter tab's programming transfer through the real window, against the
// simulated QVX-24S run in-process over Modbus TCP on 127.0.0.1 or over a
// pseudo-terminal: what goes on the wire, what the device then holds, and
// what the tool shows and keeps in its meter table.
#include "common/window_rig.h"
#include "gateway/profile_dialog.h"
#include "widgets/string_grid.h"
#include "widgets/typing_limit.h"
#include "meters/meter_codec.h"
#include "meters/meters_tab.h"
#include "transport/reply_timer.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>

using namespace qvx;

namespace {

constexpr int WaitMs = 20000;
const QString NoLink = QStringLiteral("Serial or TCP port for modbus is not open...");

// The window shown on the meter tab, its Modbus window 200 ms.
struct Rig : qvxtest::WindowRig {
    MetersTab *tab = form->metersTab();

    explicit Rig(bool rtu, const qvxsim::Faults &faults = {}, bool link = true)
        : WindowRig({.timeoutMs = 200, .shown = true, .demoMeter = false, .faults = faults})
    {
        form->tabs()->setCurrentWidget(tab);
        if (link)
            this->link(rtu ? qvxtest::Link::Rtu : qvxtest::Link::Tcp);
    }
    StringGrid *grid() { return tab->gridRegisters(); }
    bool readAllDone()
    {
        return QTest::qWaitFor([&] { return child<QPushButton>("BitBtn14")->isEnabled(); }, 60000);
    }
    // Types a code into column 1 of a row as the operator does and moves on.
    void typeCode(int row, const QString &code, Qt::Key moveOn = Qt::Key_Down)
    {
        const QModelIndex cell = grid()->gridModel()->index(row, 1);
        grid()->setCurrentIndex(cell);
        grid()->edit(cell);
        auto *editor = qobject_cast<QLineEdit *>(QApplication::focusWidget());
        QVERIFY(editor && editor->parent() == grid()->viewport());
        QTest::keyClicks(editor, code);
        // The release reaches whatever has the focus once the press is done.
        QTest::keyPress(editor, moveOn);
        QApplication::processEvents();
        QTest::keyRelease(QApplication::focusWidget(), moveOn);
    }
    // Clicks a cell with the mouse, as the operator does; dx moves the
    // point across the cell (two clicks apart are not a double click).
    void clickCell(int row, int col, int dx = 0)
    {
        const QRect rect = grid()->visualRect(grid()->gridModel()->index(row, col));
        QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, rect.center() + QPoint(dx, 0));
    }
    // Keys typed at once, each to the widget that has the focus when it comes.
    static void typeKeys(const QString &text)
    {
        for (QChar c : text)
            QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
    }
    static void key(Qt::Key k) { QTest::keyClick(QApplication::focusWidget(), k); }
    bool cellEditorOpen()
    {
        auto *editor = qobject_cast<QLineEdit *>(QApplication::focusWidget());
        return editor && editor->parent() == grid()->viewport();
    }
    uint32_t holding32(int address)
    {
        return uint32_t(device.holding(address)) << 16 | device.holding(address + 1);
    }
};

// Fails the test on any warning about the grid's cell editors.
class EditorWarnings {
public:
    EditorWarnings() { s_previous = qInstallMessageHandler(&EditorWarnings::handle); }
    ~EditorWarnings() { qInstallMessageHandler(s_previous); }
    static inline QStringList seen;

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        if (text.contains(QLatin1String("commitData")) || text.contains(QLatin1String("closeEditor")) ||
            text.contains(QLatin1String("does not belong to this view")))
            seen << text;
        if (s_previous)
            s_previous(type, context, text);
    }
    static inline QtMessageHandler s_previous = nullptr;
};

} // namespace

class TstMeterProgramming : public QObject {
    Q_OBJECT

private slots:
    // Labels reach the controls, the ID's typing limit follows the mode, the
    // grid takes only the characters of an OBIS code.
    void controls()
    {
        Rig r(false);
        auto *combo = r.child<QComboBox>("Combo_meterID");
        const char *labelled[][2] = {{"Combo_meterID", "8-digit Meter ID"},
                                     {"UD_meterNumber", "No."},
                                     {"Grid_registers", "Registers, set to be read for this METER ID"}};
        for (auto &l : labelled) {
            QAccessibleInterface *a = QAccessible::queryAccessibleInterface(r.child<QWidget>(l[0]));
            QVERIFY(a->text(QAccessible::Name).startsWith(QLatin1String(l[1])));
        }
        QCOMPARE(typingLimit(combo->lineEdit()), 8);
        // The settings readout sets the box without a click.
        r.tab->check16digit()->setChecked(true);
        QCOMPARE(typingLimit(combo->lineEdit()), 16);
        // Typed characters are filtered to those of an OBIS code.
        r.typeCode(2, QStringLiteral("1a.8x.0"));
        QCOMPARE(r.grid()->cell(1, 2), QStringLiteral("1.8.0"));
    }

    void refusals_data()
    {
        QTest::addColumn<bool>("link");
        QTest::addColumn<bool>("sixteen");
        QTest::addColumn<QString>("id");
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("handler");
        QTest::addColumn<QString>("line");
        for (const char *h : {"Button3Click", "BitBtn16Click", "WriteinQVX241Click", "BitBtn15Click",
                              "ReadfromQVX241Click", "BitBtn14Click"})
            QTest::addRow("no link, %s", h) << false << false << "12345678" << 1 << h << NoLink;
        QTest::newRow("7 digits") << true << false << "1234567" << 1 << "Button3Click"
                                  << "Meter ID should be 8 digits exactly...skipped";
        QTest::newRow("8 digits in 16-digit mode") << true << true << "12345678" << 1 << "Button3Click"
                                                   << "Meter ID should be 16 digits exactly...skipped";
        QTest::newRow("write, row 64") << true << false << "" << 64 << "WriteinQVX241Click"
                                       << "Not a proper selection from grid...skipping";
        QTest::newRow("read, row 0") << true << false << "" << 0 << "ReadfromQVX241Click"
                                     << "No row selected, click with mouse...";
    }
    void refusals()
    {
        QFETCH(bool, link);
        QFETCH(bool, sixteen);
        QFETCH(QString, id);
        QFETCH(int, row);
        QFETCH(QString, handler);
        QFETCH(QString, line);
        Rig r(false, {}, link);
        QCOMPARE(r.linked(), link);
        r.log.clear();
        r.tab->check16digit()->setChecked(sixteen);
        r.tab->comboMeterId()->setEditText(id);
        r.tab->selectedRegisterRow = row;
        QMetaObject::invokeMethod(r.tab, handler.toLatin1().constData());
        QCOMPARE(r.log, QStringList{line});
        QTest::qWait(300);
        QVERIFY(r.pdus().isEmpty());
        QVERIFY(r.tab->meterTable().id(1).isEmpty());
        QVERIFY(r.child<QPushButton>("BitBtn14")->isEnabled());
    }

    // "Activate" writes the ID where the device keeps it, in both layouts.
    void activate_data()
    {
        QTest::addColumn<bool>("sixteen");
        QTest::addColumn<int>("slot");
        QTest::addColumn<QString>("id");
        QTest::addColumn<int>("address");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("slot 3") << false << 3 << "12345678" << 804 << QByteArray::fromHex("12345678");
        QTest::newRow("letters from the list")
            << false << 1 << "12AB5678" << 800 << QByteArray::fromHex("12FF5678");
        QTest::newRow("16 digits, slot 31")
            << true << 31 << "1234567890123456" << 920 << QByteArray::fromHex("1234567890123456");
        QTest::newRow("16 digits, slot 32")
            << true << 32 << "FFFFFFFF12345678" << 924 << QByteArray::fromHex("FFFFFFFF12345678");
    }
    void activate()
    {
        QFETCH(bool, sixteen);
        QFETCH(int, slot);
        QFETCH(QString, id);
        QFETCH(int, address);
        QFETCH(QByteArray, bytes);
        Rig r(false);
        QVERIFY(r.linked());
        r.tab->check16digit()->setChecked(sixteen);
        r.tab->udMeterNumber()->setValue(slot);
        r.tab->comboMeterId()->setEditText(id);
        QVERIFY(r.answered([&] { r.click("Button3"); }));
        QCOMPARE(r.pdus(), QList<QByteArray>{pduWriteMultiple(address, uint8_t(bytes.size()), bytes)});
        QCOMPARE(r.tab->meterTable().id(slot), id);
        QCOMPARE(r.tab->comboMeterId()->itemText(0), id);
    }

    // Slot 3 programmed by typing, written, then read back whole and by row.
    void programSlot3_data()
    {
        QTest::addColumn<bool>("rtu");
        QTest::newRow("tcp") << false;
        QTest::newRow("pty") << true;
    }
    void programSlot3()
    {
        QFETCH(bool, rtu);
        Rig r(rtu);
        QVERIFY(r.linked());
        r.tab->udMeterNumber()->setValue(3);
        QTest::keyClicks(r.tab->comboMeterId(), QStringLiteral("12345678"));
        QTest::keyClick(r.tab->comboMeterId(), Qt::Key_Return);
        QCOMPARE(r.tab->meterTable().id(3), QStringLiteral("12345678"));
        r.tab->checkLongObis()->setChecked(true);
        r.typeCode(1, QStringLiteral("1.8.0"), Qt::Key_Down);
        r.typeCode(2, QStringLiteral("1-1:2.8.0"), Qt::Key_Tab);
        r.typeCode(5, QStringLiteral("0-0:96.1.0.255"), Qt::Key_Return);
        QCOMPARE(r.child<QLabel>("Label_selectedRegister")->text(), QStringLiteral("0-0:96.1.0.255"));
        // What was typed is in the meter table: the slot shows it again.
        r.tab->udMeterNumber()->setValue(4);
        r.tab->udMeterNumber()->setValue(3);
        QCOMPARE(r.grid()->cell(1, 2), QStringLiteral("1-1:2.8.0"));

        QVERIFY(r.answered([&] { r.click("BitBtn16"); }));
        QCOMPARE(r.pdus().size(), 1);
        QCOMPARE(r.pdus().at(0).left(6), QByteArray::fromHex("1004E8007EFC"));
        QCOMPARE(r.holding32(1256), 0x01080000u);
        QCOMPARE(r.holding32(1258), 0x02080011u);
        QCOMPARE(r.holding32(1264), 0x60010000u);
        QCOMPARE(r.holding32(1256 + 2 * 62), 0xFF000000u);

        r.click("Butt_clearReg");
        QVERIFY(r.grid()->cell(1, 1).isEmpty());
        QCOMPARE(r.tab->meterTable().code(3, 1), QStringLiteral("1.8.0"));
        QVERIFY(r.answered([&] { r.click("BitBtn15"); }));
        QCOMPARE(r.pdus().last(), pduReadHolding(1256, 126));
        QCOMPARE(r.grid()->cell(0, 63), QStringLiteral("63"));
        const QStringList back = {"1.8.0.0", "1-1:2.8.0.0", "255.0.0.0", "255.0.0.0", "96.1.0.0"};
        for (int row = 1; row <= 5; ++row) {
            QCOMPARE(r.grid()->cell(1, row), back.at(row - 1));
            QCOMPARE(r.tab->meterTable().code(3, row), back.at(row - 1));
        }

        // One entry: row 63 of slot 3, changed on the device meanwhile.
        r.device.setHolding(1256 + 124, 0x0102);
        r.device.setHolding(1256 + 125, 0x0300);
        r.grid()->setCurrentIndex(r.grid()->gridModel()->index(63, 1));
        QVERIFY(r.answered([&] { r.child<QAction>("ReadfromQVX241")->trigger(); }));
        QCOMPARE(r.pdus().last(), pduReadHolding(1256 + 124, 2));
        QCOMPARE(r.grid()->cell(1, 63), QStringLiteral("1.2.3.0"));
        QCOMPARE(r.tab->meterTable().code(3, 63), QStringLiteral("1.2.3.0"));

        // One entry written: row 5 of slot 2.
        r.tab->udMeterNumber()->setValue(2);
        r.grid()->setCell(1, 5, QStringLiteral("1.8.1"));
        r.grid()->setCurrentIndex(r.grid()->gridModel()->index(5, 1));
        QVERIFY(r.answered([&] { r.child<QAction>("WriteinQVX241")->trigger(); }));
        QVERIFY(r.log.contains(QStringLiteral("Setting register 5 to value 1.8.1...")));
        QCOMPARE(r.pdus().last(), pduWriteMultiple(1136, 4, QByteArray::fromHex("01080100")));
    }

    // The read of all meters fills the table from the device; 16-digit mode
    // covers slots 1..30 only.
    void readAll_data()
    {
        QTest::addColumn<bool>("sixteen");
        QTest::addColumn<bool>("longObis");
        QTest::newRow("8 digits, long OBIS off") << false << false;
        QTest::newRow("16 digits, long OBIS on") << true << true;
    }
    void readAll()
    {
        QFETCH(bool, sixteen);
        QFETCH(bool, longObis);
        Rig r(false);
        QVERIFY(r.linked());
        r.device.setFlag(qvxsim::Flag16DigitId, sixteen);
        const int digits = sixteen ? 16 : 8, covered = sixteen ? 30 : 32;
        for (int slot = 1; slot <= 32; ++slot)
            r.device.programMeter(slot, QString::number(slot * 1000 + 7).rightJustified(digits, u'0'),
                                  {QStringLiteral("1.8.%1").arg(slot)});
        r.device.setHolding(1000 + 2, 0x0108);
        r.device.setHolding(1000 + 3, 0x0011);
        r.tab->check16digit()->setChecked(sixteen);
        r.tab->checkLongObis()->setChecked(longObis);
        r.tab->meterTable().setCode(31, 1, QStringLiteral("stale"));

        r.click("BitBtn14");
        QVERIFY(!r.tab->udMeterNumber()->isEnabled());
        QVERIFY(!r.grid()->isEnabled());
        QVERIFY(r.session().status(3).endsWith(QStringLiteral("/%1").arg(covered)));
        QVERIFY(r.readAllDone());
        QVERIFY(r.tab->udMeterNumber()->isEnabled());
        QVERIFY(r.session().status(3).isEmpty());

        QList<QByteArray> expected{pduReadHolding(800, sixteen ? 120 : 64)};
        for (int slot = 1; slot <= covered; ++slot)
            expected << pduReadHolding(1000 + 128 * (slot - 1), 126);
        QCOMPARE(r.pdus(), expected);
        MeterTable &t = r.tab->meterTable();
        for (int slot = 1; slot <= 32; ++slot) {
            const bool in = slot <= covered;
            QCOMPARE(t.id(slot),
                     in ? QString::number(slot * 1000 + 7).rightJustified(digits, u'0') : QString());
            QCOMPARE(t.code(slot, 1), in ? QStringLiteral("1.8.%1.0").arg(slot) : QString());
        }
        QCOMPARE(t.code(1, 2), longObis ? QStringLiteral("1-1:1.8.0.0") : QStringLiteral("1.8.0.17"));
        QCOMPARE(r.tab->comboMeterId()->count(), covered);
        QCOMPARE(r.tab->meterNumber(), covered + (sixteen ? 1 : 0));
    }

    // One reply lost: that slot's list stays empty, the others are read.
    void droppedReplyDuringReadAll()
    {
        qvxsim::Faults drop;
        drop.dropReplies = true;
        drop.every = 20; // the 20th reply only: the list of slot 19
        Rig r(false, drop);
        QVERIFY(r.linked());
        for (int slot = 18; slot <= 20; ++slot)
            r.device.programMeter(slot, QString::number(slot) + QStringLiteral("345678"),
                                  {QStringLiteral("1.8.0")});
        r.click("BitBtn14");
        QVERIFY(r.readAllDone());
        QCOMPARE(r.pdus().size(), 33);
        QCOMPARE(r.tab->meterTable().code(18, 1), QStringLiteral("1.8.0.0"));
        QVERIFY(r.tab->meterTable().code(19, 1).isEmpty());
        QCOMPARE(r.tab->meterTable().id(19), QStringLiteral("19345678"));
        QCOMPARE(r.tab->meterTable().code(20, 1), QStringLiteral("1.8.0.0"));
        QCOMPARE(r.log.count(QStringLiteral("Respond:")), 1);
    }

    // The link gone, or another request pressed, during the sequence: it
    // still ends with the tab usable.
    void interruptedReadAll_data()
    {
        QTest::addColumn<bool>("disconnect");
        QTest::newRow("link closed") << true;
        QTest::newRow("register read pressed") << false;
    }
    void interruptedReadAll()
    {
        QFETCH(bool, disconnect);
        Rig r(false);
        QVERIFY(r.linked());
        r.click("BitBtn14");
        // The progress panel counts the meters read so far.
        QTRY_VERIFY_WITH_TIMEOUT(r.session().status(3).section(QLatin1Char('/'), 0, 0).toInt() >= 3, WaitMs);
        r.click(disconnect ? "Butt_ethernetDisconnect" : "BitBtn3");
        QVERIFY(r.readAllDone());
        QCOMPARE(r.child<QComboBox>("Combo_meterID")->isEnabled(), true);
        QVERIFY(r.session().status(3).isEmpty());
        const QString stopped =
            QStringLiteral("Reading of all meters stopped: serial or TCP port for modbus is not open...");
        QCOMPARE(r.log.count(stopped), disconnect ? 1 : 0);
    }

    // Codes typed straight after "Clear current registers", the first into
    // the cell that was selected before, all reach the gateway; the code
    // still in the editor when "Write" is pressed too.
    void typedAfterClearReachTheGateway_data()
    {
        QTest::addColumn<bool>("rtu");
        QTest::newRow("tcp") << false;
        QTest::newRow("pty") << true;
    }
    void typedAfterClearReachTheGateway()
    {
        QFETCH(bool, rtu);
        EditorWarnings::seen.clear();
        EditorWarnings warnings;
        Rig r(rtu);
        QVERIFY(r.linked());
        // Row 1 selected and a code half typed when Clear is pressed.
        r.clickCell(1, 1, -40);
        r.typeKeys(QStringLiteral("9.9.9"));
        QVERIFY(r.cellEditorOpen());
        r.click("Butt_clearReg");
        QVERIFY(r.grid()->cell(1, 1).isEmpty());
        QCOMPARE(r.tab->meterTable().code(1, 1), QStringLiteral("9.9.9"));
        QVERIFY(!r.cellEditorOpen());
        QApplication::processEvents(); // as between any two of the operator's actions

        // A click on the selected cell, typing at once.
        r.clickCell(1, 1, 40);
        r.typeKeys(QStringLiteral("1.8.0"));
        r.key(Qt::Key_Return);
        QApplication::processEvents();
        r.key(Qt::Key_Down);
        r.typeKeys(QStringLiteral("2.8.0"));
        r.key(Qt::Key_Down);
        r.typeKeys(QStringLiteral("3.8.0"));
        QVERIFY(r.cellEditorOpen());
        QCOMPARE(r.child<QLabel>("Label_selectedRegister")->text(), QStringLiteral("3.8.0"));
        QVERIFY(r.answered([&] { r.click("BitBtn16"); }));

        QCOMPARE(r.pdus().size(), 1);
        QCOMPARE(r.holding32(1000), 0x01080000u);
        QCOMPARE(r.holding32(1002), 0x02080000u);
        QCOMPARE(r.holding32(1004), 0x03080000u);
        QCOMPARE(r.holding32(1006), 0xFF000000u);
        const QStringList typed = {"1.8.0", "2.8.0", "3.8.0"};
        for (int row = 1; row <= 3; ++row) {
            QCOMPARE(r.grid()->cell(1, row), typed.at(row - 1));
            QCOMPARE(r.tab->meterTable().code(1, row), typed.at(row - 1));
        }
        // Left alone, a click on the selected cell opens its editor without
        // waiting for a double click.
        r.clickCell(4, 1, -40);
        QApplication::processEvents();
        r.clickCell(4, 1, 40);
        QTRY_VERIFY(r.cellEditorOpen());
        QCOMPARE(EditorWarnings::seen, QStringList());
    }

    // An editor still open when the slot number moves hands its code to the
    // slot it was typed in.
    void editorOpenWhenSlotChanges()
    {
        Rig r(false, {}, false);
        r.tab->meterTable().setId(2, QStringLiteral("22222222"));
        r.clickCell(4, 1);
        r.typeKeys(QStringLiteral("5.8.0"));
        QVERIFY(r.cellEditorOpen());
        r.tab->udMeterNumber()->setValue(2);
        QCOMPARE(r.tab->meterTable().code(1, 4), QStringLiteral("5.8.0"));
        QVERIFY(r.tab->meterTable().code(2, 4).isEmpty());
        QVERIFY(r.grid()->cell(1, 4).isEmpty());
        QVERIFY(r.tab->slotTyped(1));
    }

    // The meter data file is saved with the code still being typed.
    void editorOpenWhenFileSaved()
    {
        Rig r(false, {}, false);
        r.clickCell(3, 1);
        r.typeKeys(QStringLiteral("4.4.4"));
        QVERIFY(r.cellEditorOpen());
        const QString path = r.dir.filePath(QStringLiteral("meters.csv"));
        r.dialogs.dialogs.fileAnswers.enqueue(path);
        r.click("BitBtn17");
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("4.4.4"));
        QCOMPARE(r.tab->meterTable().code(1, 3), QStringLiteral("4.4.4"));
    }

    // A profile applied by the gateway tool puts the gateway back; the tab
    // then shows what the gateway holds and a following "Write" keeps it.
    void profileApplyUpdatesTheTab()
    {
        Rig r(false);
        QVERIFY(r.linked());
        r.device.programMeter(2, QStringLiteral("22222222"),
                              {"1.8.0", "2.8.0", "3.8.0", "4.8.0", "5.8.0", "6.8.0"});
        r.child<QAction>("GatewayProfile1")->trigger();
        auto *dialog = r.child<GatewayProfileDialog>("GatewayProfile");
        auto run = [&](const char *button) {
            r.click(button);
            return QTest::qWaitFor([&] { return !dialog->running(); }, 60000);
        };
        QVERIFY(run("Butt_profileRead"));
        // Back to the main window to type.
        r.form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(r.form.get()));

        // Slot 2 read into the tab, row 5 changed and written.
        r.tab->udMeterNumber()->setValue(2);
        r.tab->comboMeterId()->setEditText(QStringLiteral("22222222"));
        QTest::keyClick(r.tab->comboMeterId(), Qt::Key_Return);
        QVERIFY(r.answered([&] { r.click("BitBtn15"); }));
        r.clickCell(5, 1);
        r.typeKeys(QStringLiteral("1.8.1"));
        r.key(Qt::Key_Return);
        QVERIFY(r.answered([&] { r.click("BitBtn16"); }));
        QCOMPARE(r.holding32(1128 + 8), 0x01080100u);
        // A change typed in row 6 and not written.
        r.clickCell(6, 1);
        r.typeKeys(QStringLiteral("7.7.7"));
        r.key(Qt::Key_Return);
        QApplication::processEvents();
        QVERIFY(r.tab->slotTyped(2));

        // Whether or not Apply asks first, the answer is yes.
        r.dialogs.dialogs.yesNoAnswers.enqueue(true);
        const qsizetype from = r.log.size();
        QVERIFY(run("Butt_profileApply"));
        QCOMPARE(r.holding32(1128 + 8), 0x05080000u);
        QCOMPARE(r.grid()->cell(1, 5), QStringLiteral("5.8.0.0"));
        QCOMPARE(r.grid()->cell(1, 6), QStringLiteral("6.8.0.0"));
        QCOMPARE(r.tab->meterTable().code(2, 5), QStringLiteral("5.8.0.0"));
        const QStringList after = r.log.mid(from);
        QVERIFY2(after.contains(QStringLiteral(
                     "Meter tab: slot 2 replaced by what the gateway holds after Gateway profile apply")),
                 qPrintable(after.join(u'\n')));
        const qsizetype replaced =
            r.indexOfPrefix(QStringLiteral("Meter tab: the tab's copy of slot 2 (row 5 was "
                                           "1.8.1, row 6 was 7.7.7) was replaced"),
                            from);
        QVERIFY2(replaced >= 0, qPrintable(after.join(u'\n')));
        QVERIFY(!r.tab->slotTyped(2));

        QVERIFY(r.answered([&] { r.click("BitBtn16"); }));
        QCOMPARE(r.holding32(1128 + 8), 0x05080000u);
        QCOMPARE(r.holding32(1128 + 10), 0x06080000u);
    }

    // A tool that wrote slots without reading them back: the tab says the
    // slot may not match until it is read.
    void slotWrittenWithoutReadBack()
    {
        Rig r(false);
        QVERIFY(r.linked());
        r.tab->gatewaySlotsWritten(QStringLiteral("a test tool"), {3});
        QVERIFY(
            r.log.contains(QStringLiteral("Meter tab: slot 3 written by a test tool and not read back; the "
                                          "tab's copy may not match the gateway")));
        auto *mark = r.child<QLabel>("Label_slotStale");
        QVERIFY(mark->isHidden());
        r.tab->udMeterNumber()->setValue(3);
        QVERIFY(mark->isVisible());
        QVERIFY(mark->text().startsWith(QStringLiteral("Slot 3 may not match the gateway")));
        QVERIFY(r.answered([&] { r.click("BitBtn15"); }));
        QVERIFY(mark->isHidden());
        QVERIFY(!r.tab->slotMarkedStale(3));
    }

    // The grid shows one slot of the table at a time.
    void slotSwitching()
    {
        Rig r(false);
        MeterTable &t = r.tab->meterTable();
        t.setId(2, QStringLiteral("22222222"));
        t.setCode(2, 7, QStringLiteral("1.8.0"));
        t.setCode(3, 7, QStringLiteral("2.8.0")); // slot 3 has no ID
        r.tab->gridMeterValue()->setCell(1, 4, QStringLiteral("123"));
        r.tab->udMeterNumber()->setValue(2);
        QCOMPARE(r.tab->comboMeterId()->currentText(), QStringLiteral("22222222"));
        QCOMPARE(r.grid()->cell(1, 7), QStringLiteral("1.8.0"));
        QCOMPARE(r.grid()->cell(0, 63), QStringLiteral("63"));
        QVERIFY(r.tab->gridMeterValue()->cell(1, 4).isEmpty());
        r.click("Butt_clearReg");
        QVERIFY(r.grid()->cell(1, 7).isEmpty());
        // An editor opened on the cleared cell and left unchanged keeps the code.
        r.grid()->edit(r.grid()->gridModel()->index(7, 1));
        r.tab->comboMeterId()->setFocus();
        QTRY_VERIFY(!qobject_cast<QLineEdit *>(QApplication::focusWidget()) ||
                    QApplication::focusWidget()->parent() != r.grid()->viewport());
        r.tab->udMeterNumber()->setValue(3);
        QVERIFY(r.grid()->cell(1, 7).isEmpty());
        QVERIFY(r.tab->comboMeterId()->currentText().isEmpty());
        r.tab->udMeterNumber()->setValue(2);
        QCOMPARE(r.grid()->cell(1, 7), QStringLiteral("1.8.0"));
        // Picking an ID from the list changes the box only.
        r.tab->AddMeterIdToList(QStringLiteral("99999999"));
        r.tab->comboMeterId()->setCurrentIndex(0);
        QCOMPARE(r.tab->comboMeterId()->currentText(), QStringLiteral("99999999"));
        QCOMPARE(t.id(2), QStringLiteral("22222222"));
    }
};

QTEST_MAIN(TstMeterProgramming)
#include "tst_meter_programming.moc"
