// The device commands through the real window against the simulated
// QVX-24S, over Modbus TCP and over its pseudo-terminal: the requests as the
// device received them, the device's state afterwards, the "Respond:" line
// that ends each write's window, and every input check.
#include "app/string_grid.h"
#include "app/typing_limit.h"
#include "common/hex.h"
#include "common/pty_pair.h"
#include "common/serial_fixture.h"
#include "config/device_codec.h"
#include "sim_rig.h"
#include "transport/modbus.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QElapsedTimer>

using namespace qvx;
using qvxtest::hex;
using qvxtest::Link;
using qvxtest::SimRig;

Q_DECLARE_METATYPE(qvxtest::Link)

namespace {

using Fields = QList<QPair<QString, QString>>;

void fill(SimRig &rig, const Fields &fields)
{
    for (const auto &[name, text] : fields) {
        if (name == QLatin1String("Check_flag01"))
            rig.child<QCheckBox>("Check_flag01")->setChecked(text == QLatin1String("1"));
        else
            rig.setText(name.toLatin1().constData(), text);
    }
}

} // namespace

class TstDeviceCommands : public QObject {
    Q_OBJECT

private slots:
    void controls()
    {
        SimRig rig(Link::Tcp);
        const char *captions[][2] = {{"BitBtn12", "Set new modbus address"},
                                     {"BitBtn11", "Set Baud RTU"},
                                     {"Button1", "Set Baud for IEC"},
                                     {"BitBtn13", "Set Readout time (2-1440 min)"},
                                     {"Button7", "Send to QVX-24S"},
                                     {"Check_flag01", "Set/Clear flag"},
                                     {"Button2", "Write single reg."},
                                     {"Butt_IP", "Set"},
                                     {"Butt_mask", "Set"},
                                     {"Butt_GW", "Set"},
                                     {"Button8", "Read firmware version"},
                                     {"Butt_status", "Read settings "}};
        for (const auto &c : captions)
            QCOMPARE(rig.child<QAbstractButton>(c[0])->text(), QLatin1String(c[1]));
        QCOMPARE(rig.child<QGroupBox>("GroupBox_commands")->title(), QStringLiteral("   Commands   "));
        QCOMPARE(rig.child<QGroupBox>("GroupBox_tcpSettings")->title(),
                 QStringLiteral("   TCP Settings QVX-24S  "));
        // Fields: default, typing limit, the label that names them.
        const struct {
            const char *name, *text, *label;
            int limit;
        } edits[] = {{"Edit_address", "1", "New Address:", 3},
                     {"Edit_minutes", "2", "Network read timeout (minutes)", 4},
                     {"Edit_single_value", "", "Write custom value in custom register (16-bit):", 5},
                     {"Edit_QVXIP", "", "Static IPv4:", 15},
                     {"Edit_QVXMASK", "", "Mask", 15},
                     {"Edit_QVXGW", "", "Gateway", 15}};
        for (const auto &e : edits) {
            auto *edit = rig.child<QLineEdit>(e.name);
            QCOMPARE(edit->text(), QLatin1String(e.text));
            QCOMPARE(typingLimit(edit), e.limit);
            QCOMPARE(edit->accessibleName(), QLatin1String(e.label));
        }
        const struct {
            const char *name, *label;
            QStringList items;
        } combos[] = {{"Combo_baud", "Set new Baud:", baudRateTexts()},
                      {"Combo_parity", "Set new parity:", {"None", "Even", "Odd"}},
                      {"Combo_selectFlag", "Select what Flag to Set/Clear", flagItems()}};
        for (const auto &c : combos) {
            auto *combo = rig.child<QComboBox>(c.name);
            QVERIFY(combo->isEditable());
            QCOMPARE(combo->currentText(), QString());
            QCOMPARE(combo->accessibleName(), QLatin1String(c.label));
            QStringList items;
            for (int i = 0; i < combo->count(); ++i)
                items << combo->itemText(i);
            QCOMPARE(items, c.items);
        }
        QVERIFY(!rig.child<QCheckBox>("Check_flag01")->isChecked());
    }

    // Each command's request, the device's state afterwards and the
    // "Respond:" line; the register table never sees a write's reply.
    void commandsReachTheDevice_data()
    {
        QTest::addColumn<Link>("link");
        QTest::addColumn<QString>("button");
        QTest::addColumn<Fields>("fields");
        QTest::addColumn<QByteArray>("request"); // unit and PDU
        QTest::addColumn<int>("reg");
        QTest::addColumn<int>("value"); // of reg afterwards
        for (Link link : {Link::Tcp, Link::Rtu}) {
            const char *l = link == Link::Tcp ? "tcp" : "rtu";
            auto row = [&](const char *what) -> QTestData & {
                return QTest::addRow("%s, %s", l, what) << link;
            };
            row("new address 17") << "BitBtn12" << Fields{{"Edit_address", "17"}} << hex("01 06 80 11 00 11")
                                  << 32785 << 17;
            row("baud RTU 9600 Even")
                << "BitBtn11" << Fields{{"Combo_baud", "9600"}, {"Combo_parity", "Even"}}
                << hex("01 06 80 12 00 40") << 32786 << 0x40;
            row("baud RTU 19200 Odd")
                << "BitBtn11" << Fields{{"Combo_baud", "19200"}, {"Combo_parity", "Odd"}}
                << hex("01 06 80 12 00 51") << 32786 << 0x51;
            row("baud IEC 115200 None")
                << "Button1" << Fields{{"Combo_baud", "115200"}, {"Combo_parity", "None"}}
                << hex("01 06 80 13 00 82") << 32787 << 0x82;
            row("readout 1440") << "BitBtn13" << Fields{{"Edit_minutes", "1440"}} << hex("01 06 00 64 05 A0")
                                << 100 << 1440;
            row("readout 1 accepted")
                << "BitBtn13" << Fields{{"Edit_minutes", "1"}} << hex("01 06 00 64 00 01") << 100 << 1;
            row("long OBIS set") << "Button7"
                                 << Fields{{"Combo_selectFlag", "Decode long OBIS"}, {"Check_flag01", "1"}}
                                 << hex("01 06 00 07 00 87") << 7 << 0xC0;
            row("continues read cleared")
                << "Button7" << Fields{{"Combo_selectFlag", "Continues Read"}, {"Check_flag01", "0"}}
                << hex("01 06 00 07 00 08") << 7 << 0x00;
            row("single reg 65535 at 0")
                << "Button2" << Fields{{"Edit_single_value", "65535"}, {"EditInputAddress", "0"}}
                << hex("01 06 00 00 FF FF") << 0 << 0xFFFF;
            row("single reg 0 at 5") << "Button2"
                                     << Fields{{"Edit_single_value", "0"}, {"EditInputAddress", "5"}}
                                     << hex("01 06 00 05 00 00") << 5 << 0;
            row("IPv4 10.1.2.3") << "Butt_IP" << Fields{{"Edit_QVXIP", "10.1.2.3"}}
                                 << hex("01 10 D8 68 00 02 04 0A 01 02 03") << 55401 << 0x0203;
            row("mask 255.255.0.0") << "Butt_mask" << Fields{{"Edit_QVXMASK", "255.255.0.0"}}
                                    << hex("01 10 D8 6C 00 02 04 FF FF 00 00") << 55404 << 0xFFFF;
            row("gateway 10.1.2.254") << "Butt_GW" << Fields{{"Edit_QVXGW", "10.1.2.254"}}
                                      << hex("01 10 D8 6A 00 02 04 0A 01 02 FE") << 55403 << 0x02FE;
        }
    }
    void commandsReachTheDevice()
    {
        QFETCH(Link, link);
        QFETCH(QString, button);
        QFETCH(Fields, fields);
        QFETCH(QByteArray, request);
        QFETCH(int, reg);
        QFETCH(int, value);
        SimRig rig(link);
        QVERIFY(rig.ready());
        fill(rig, fields);
        QElapsedTimer clock;
        clock.start();
        rig.click(button.toLatin1().constData());
        QVERIFY(rig.session().WritePending);
        QVERIFY(rig.browser().timerModbus().isEnabled());
        QVERIFY(rig.waitForRespond());
        // The window is the browser's fixed 1000 ms, whatever the time-out
        // field says (a coarse timer may end it up to 5 % early).
        QVERIFY(clock.elapsed() >= 945);
        QCOMPARE(rig.requestPdus().size(), 1);
        QCOMPARE(rig.requestPdus().first().toHex(' '), request.toHex(' '));
        QCOMPARE(int(rig.device.holding(reg)), value);

        // "SENT:" with the whole frame, then the reply in RTU form.
        const QString sent = rig.log.first();
        QVERIFY2(sent.startsWith(QLatin1String("SENT:")), qPrintable(sent));
        if (link == Link::Rtu)
            QCOMPARE(sent.mid(sent.indexOf(QLatin1Char(':')) + 1).trimmed(),
                     hexBytes(withCrc(request)).trimmed());
        const QByteArray echo = request.at(1) == 0x10 ? request.left(6) : request;
        QCOMPARE(rig.log.last(), QStringLiteral("Respond:") + hexBytes(withCrc(echo)));
        QCOMPARE(rig.log.size(), 2);
        QVERIFY(!rig.session().WritePending);
        QCOMPARE(rig.child<StringGrid>("gridInputRegisters")->rowCount(), 2);
        // The tool's own unit address is not changed by any command.
        QCOMPARE(rig.browser().unitAddress(), uint8_t(1));
    }

    void firmwareVersion_data()
    {
        QTest::addColumn<Link>("link");
        QTest::newRow("tcp") << Link::Tcp;
        QTest::newRow("rtu") << Link::Rtu;
    }
    void firmwareVersion()
    {
        QFETCH(Link, link);
        SimRig rig(link);
        QVERIFY(rig.ready());
        rig.click("Button8");
        QCOMPARE(rig.readout().StatusStep, uint8_t(5));
        QCOMPARE(rig.readout().timerStatus().interval(), 100);
        QVERIFY(rig.waitForReadoutEnd());
        QCOMPARE(rig.requestPdus(), QList<QByteArray>{hex("01 2B 0E 02 00")});
        // Count, then per object its id and length (as spaces) and its text.
        const QList<QByteArray> objects = qvxsim::deviceIdentificationObjects();
        QByteArray raw(1, char(objects.size()));
        for (int i = 0; i < objects.size(); ++i)
            raw += char(i) + QByteArray(1, char(objects.at(i).size())) + objects.at(i);
        QString text;
        for (char c : raw)
            text += uint8_t(c) <= 30 ? QLatin1Char(' ') : QLatin1Char(c);
        QCOMPARE(rig.log, (QStringList{"Reading firmware version of QVX-24S...", text}));
        QVERIFY(text.endsWith(QLatin1String("qvxsim")));
        QCOMPARE(rig.readout().StatusStep, uint8_t(5));
        QVERIFY(rig.session().RxBuffer.isEmpty() && rig.session().TcpRxBuffer.isEmpty());
    }

    // Every refused input: its message, nothing sent, no window opened.
    void inputChecks_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<Fields>("fields");
        QTest::addColumn<QString>("message"); // empty: nothing logged
        QTest::addColumn<bool>("writePending");
        const QString noAddress = "Modbus address not entered";
        const QString badAddress = "Invalid new modbus address entered...";
        const QString badBaud =
            "Wrong baud, allowable are 300,1200,2400,4800,9600,19200,38400,57600,115200...";
        const QString badParity = "Wrong parity - must be Even, Odd or None...";
        const QString badMinutes = "Wrong timeout value. Should be between 1 and 1440 minutes...skipped";
        const QString badFlag = "Selected Flag is not supported...";
        const QString badValue = "Enter correct value (0 - 65535)...";
        const QString badRegister = "Enter proper register address, which will be changed...";
        QTest::newRow("address empty") << "BitBtn12" << Fields{{"Edit_address", ""}} << noAddress << false;
        QTest::newRow("address 248") << "BitBtn12" << Fields{{"Edit_address", "248"}} << badAddress << false;
        QTest::newRow("address 0") << "BitBtn12" << Fields{{"Edit_address", "0"}} << badAddress << false;
        QTest::newRow("address pasted text")
            << "BitBtn12" << Fields{{"Edit_address", "1a"}} << badAddress << false;
        QTest::newRow("baud 28800") << "BitBtn11" << Fields{{"Combo_baud", "28800"}, {"Combo_parity", "Even"}}
                                    << badBaud << false;
        QTest::newRow("baud with a space")
            << "Button1" << Fields{{"Combo_baud", "9600 "}, {"Combo_parity", "Even"}} << badBaud << false;
        QTest::newRow("baud empty") << "BitBtn11" << Fields{{"Combo_parity", "Even"}} << badBaud << false;
        QTest::newRow("parity lower case")
            << "BitBtn11" << Fields{{"Combo_baud", "9600"}, {"Combo_parity", "even"}} << badParity << false;
        QTest::newRow("IEC parity empty")
            << "Button1" << Fields{{"Combo_baud", "9600"}} << badParity << false;
        QTest::newRow("minutes 1441")
            << "BitBtn13" << Fields{{"Edit_minutes", "1441"}} << badMinutes << false;
        QTest::newRow("minutes 0") << "BitBtn13" << Fields{{"Edit_minutes", "0"}} << badMinutes << false;
        QTest::newRow("minutes empty") << "BitBtn13" << Fields{{"Edit_minutes", ""}} << badMinutes << false;
        QTest::newRow("flag empty") << "Button7" << Fields{} << badFlag << false;
        QTest::newRow("flag lower case, checked")
            << "Button7" << Fields{{"Combo_selectFlag", "reset"}, {"Check_flag01", "1"}} << badFlag << false;
        // This command marks the write before its checks.
        QTest::newRow("value 65536") << "Button2"
                                     << Fields{{"Edit_single_value", "65536"}, {"EditInputAddress", "1"}}
                                     << badValue << true;
        QTest::newRow("value empty") << "Button2" << Fields{{"EditInputAddress", "1"}} << badValue << true;
        QTest::newRow("value negative")
            << "Button2" << Fields{{"Edit_single_value", "-1"}, {"EditInputAddress", "1"}} << badValue
            << true;
        QTest::newRow("register empty")
            << "Button2" << Fields{{"Edit_single_value", "7"}, {"EditInputAddress", ""}} << badRegister
            << true;
        QTest::newRow("register 65536")
            << "Button2" << Fields{{"Edit_single_value", "7"}, {"EditInputAddress", "65536"}} << badRegister
            << true;
        QTest::newRow("IPv4 two dots") << "Butt_IP" << Fields{{"Edit_QVXIP", "10.1.2"}} << QString() << false;
        QTest::newRow("mask field above 255")
            << "Butt_mask" << Fields{{"Edit_QVXMASK", "10.1.2.256"}} << QString() << false;
        QTest::newRow("gateway empty") << "Butt_GW" << Fields{} << QString() << false;
    }
    void inputChecks()
    {
        QFETCH(QString, button);
        QFETCH(Fields, fields);
        QFETCH(QString, message);
        QFETCH(bool, writePending);
        SimRig rig(Link::Rtu);
        QVERIFY(rig.ready());
        fill(rig, fields);
        rig.click(button.toLatin1().constData());
        QCOMPARE(rig.log, message.isEmpty() ? QStringList{} : QStringList{message});
        QCOMPARE(rig.session().WritePending, writePending);
        QVERIFY(!rig.browser().timerModbus().isEnabled());
        QTest::qWait(150);
        QVERIFY(rig.received.isEmpty());
    }

    void noLinkIsRefused()
    {
        SimRig rig(Link::Rtu);
        rig.click("Butt_open_port2"); // closes the port again
        QVERIFY(!rig.ready());
        rig.log.clear();
        rig.setText("Edit_QVXIP", QStringLiteral("10.1.2.3"));
        const char *buttons[] = {"BitBtn12", "BitBtn11", "Button1",   "BitBtn13", "Button7",
                                 "Button2",  "Butt_IP",  "Butt_mask", "Butt_GW",  "Button8"};
        for (const char *b : buttons)
            rig.click(b);
        QCOMPARE(rig.log, QStringList(std::size(buttons), "Serial or TCP port for modbus is not open..."));
        QVERIFY(!rig.session().WritePending);
        QVERIFY(!rig.browser().timerModbus().isEnabled());
        QVERIFY(!rig.readout().timerStatus().isEnabled());
    }

    // A send that fails on the serial line: the address command says so and
    // opens no window; the others end in the standard error box.
    void sendErrors()
    {
        qvxtest::PtyPair pty; // nobody reads: the line fills up
        SimRig rig(Link::Tcp);
        rig.click("Butt_ethernetDisconnect");
        QTRY_VERIFY_WITH_TIMEOUT(!rig.ready(), 5000);
        qvxtest::openOnPty(rig.session(), pty);
        QVERIFY(qvxtest::fillOutputQueue(rig.session().comm2()));
        rig.log.clear();
        rig.click("BitBtn12");
        QCOMPARE(rig.log, QStringList{"Exception converting address value..."});
        QVERIFY(!rig.browser().timerModbus().isEnabled());
        rig.setText("Edit_minutes", QStringLiteral("10"));
        rig.click("BitBtn13");
        QCOMPARE(rig.dialogs.dialogs.raised.size(), 1);
        QCOMPARE(rig.dialogs.dialogs.raised.first().icon, DialogIcon::Error);
        QVERIFY(!rig.browser().timerModbus().isEnabled());
        rig.session().comm2().close();
        rig.session().SerialPortOpen = false;
    }
};

QTEST_MAIN(TstDeviceCommands)
#include "tst_device_commands.moc"
