// The device commands through the real window against the simulated
// QVX-24S, over Modbus TCP and over its pseudo-terminal: the requests as the
// device received them, its state afterwards, the "Respond:" line that ends
// each write's window, and every input check.
#include "widgets/string_grid.h"
#include "widgets/typing_limit.h"
#include "common/hex.h"
#include "common/serial_fixture.h"
#include "common/window_rig.h"
#include "config/register_browser.h"
#include "config/settings_readout.h"
#include "config/settings_tab.h"
#include "transport/reply_timer.h"
#include "transport/modbus.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QGroupBox>

using namespace qvx;
using qvxtest::hex;
using qvxtest::Link;
using qvxtest::WindowRig;
Q_DECLARE_METATYPE(qvxtest::Link)

namespace {
// "Edit_address=17;Check_flag01=1": the fields a test fills in.
void fill(WindowRig &rig, const QString &fields)
{
    for (const QString &f : fields.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString name = f.section(QLatin1Char('='), 0, 0), text = f.section(QLatin1Char('='), 1);
        if (name == QLatin1String("Check_flag01"))
            rig.child<QCheckBox>("Check_flag01")->setChecked(text == QLatin1String("1"));
        else
            rig.setText(name.toLatin1().constData(), text);
    }
}
RegisterBrowser &browser(WindowRig &rig)
{
    return *rig.form->settingsTab()->registerBrowser();
}
SettingsReadout &readout(WindowRig &rig)
{
    return *rig.form->settingsTab()->settingsReadout();
}
} // namespace

class TstDeviceCommands : public QObject {
    Q_OBJECT

private slots:
    void controls()
    {
        WindowRig rig;
        QCOMPARE(rig.child<QGroupBox>("GroupBox_commands")->title(), QStringLiteral("   Commands   "));
        QCOMPARE(rig.child<QGroupBox>("GroupBox_tcpSettings")->title(),
                 QStringLiteral("   TCP Settings QVX-24S  "));
        // Name, default text, label (accessible name), typing limit.
        const char *edits[][4] = {
            {"Edit_address", "1", "New Address:", "3"},
            {"Edit_minutes", "2", "Network read timeout (minutes)", "4"},
            {"Edit_single_value", "", "Write custom value in custom register (16-bit):", "5"},
            {"Edit_QVXIP", "", "Static IPv4:", "15"},
            {"Edit_QVXMASK", "", "Mask", "15"},
            {"Edit_QVXGW", "", "Gateway", "15"}};
        for (const auto &e : edits) {
            auto *edit = rig.child<QLineEdit>(e[0]);
            QCOMPARE(edit->text() + '|' + edit->accessibleName(),
                     QLatin1String(e[1]) + '|' + QLatin1String(e[2]));
            QCOMPARE(typingLimit(edit), QByteArray(e[3]).toInt());
        }
        const char *combos[][3] = {
            {"Combo_baud", "Set new Baud:", "300,1200,2400,4800,9600,19200,38400,57600,115200"},
            {"Combo_parity", "Set new parity:", "None,Even,Odd"},
            {"Combo_selectFlag", "Select what Flag to Set/Clear",
             "Reset,Set DHCP On/Off,Continues Read,Change baud after ACK,Use 16-digit ID,"
             "Decode long OBIS,Save values in 64-bit integer"}};
        for (const auto &c : combos) {
            auto *combo = rig.child<QComboBox>(c[0]);
            QStringList items;
            for (int i = 0; i < combo->count(); ++i)
                items << combo->itemText(i);
            QVERIFY(combo->isEditable() && combo->currentText().isEmpty());
            QCOMPARE(combo->accessibleName() + '|' + items.join(','),
                     QLatin1String(c[1]) + '|' + QLatin1String(c[2]));
        }
    }

    void commandsReachTheDevice_data()
    {
        QTest::addColumn<Link>("link");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("fields");
        QTest::addColumn<QByteArray>("request"); // unit and PDU
        QTest::addColumn<int>("reg");
        QTest::addColumn<int>("value"); // of reg afterwards
        for (Link link : {Link::Tcp, Link::Rtu}) {
            const char *l = link == Link::Tcp ? "tcp" : "rtu";
            auto row = [&](const char *what) -> QTestData & {
                return QTest::addRow("%s, %s", l, what) << link;
            };
            row("address 17") << "BitBtn12"
                              << "Edit_address=17" << hex("01 06 80 11 00 11") << 32785 << 17;
            row("RTU 9600 Even") << "BitBtn11"
                                 << "Combo_baud=9600;Combo_parity=Even" << hex("01 06 80 12 00 40") << 32786
                                 << 0x40;
            row("IEC 115200 None") << "Button1"
                                   << "Combo_baud=115200;Combo_parity=None" << hex("01 06 80 13 00 82")
                                   << 32787 << 0x82;
            row("readout 1440") << "BitBtn13"
                                << "Edit_minutes=1440" << hex("01 06 00 64 05 A0") << 100 << 1440;
            row("long OBIS set") << "Button7"
                                 << "Combo_selectFlag=Decode long OBIS;Check_flag01=1"
                                 << hex("01 06 00 07 00 87") << 7 << 0xC0;
            row("65535 at 0") << "Button2"
                              << "Edit_single_value=65535;EditInputAddress=0" << hex("01 06 00 00 FF FF") << 0
                              << 0xFFFF;
            row("IPv4 10.1.2.3") << "Butt_IP"
                                 << "Edit_QVXIP=10.1.2.3" << hex("01 10 D8 68 00 02 04 0A 01 02 03") << 55401
                                 << 0x0203;
        }
        QTest::newRow("rtu, readout 1") << Link::Rtu << "BitBtn13"
                                        << "Edit_minutes=1" << hex("01 06 00 64 00 01") << 100 << 1;
        QTest::newRow("rtu, continues read cleared")
            << Link::Rtu << "Button7"
            << "Combo_selectFlag=Continues Read" << hex("01 06 00 07 00 08") << 7 << 0;
        QTest::newRow("rtu, mask") << Link::Rtu << "Butt_mask"
                                   << "Edit_QVXMASK=255.255.0.0" << hex("01 10 D8 6C 00 02 04 FF FF 00 00")
                                   << 55405 << 0;
        QTest::newRow("rtu, gateway")
            << Link::Rtu << "Butt_GW"
            << "Edit_QVXGW=10.1.2.254" << hex("01 10 D8 6A 00 02 04 0A 01 02 FE") << 55403 << 0x02FE;
    }
    void commandsReachTheDevice()
    {
        QFETCH(Link, link);
        QFETCH(QString, button);
        QFETCH(QString, fields);
        QFETCH(QByteArray, request);
        QFETCH(int, reg);
        QFETCH(int, value);
        WindowRig rig({.link = link, .timeoutMs = 100});
        fill(rig, fields);
        QElapsedTimer clock;
        clock.start();
        rig.click(button.toLatin1().constData());
        QTRY_COMPARE_WITH_TIMEOUT(rig.log.size(), 2, 8000);
        // The browser's fixed 1000 ms window (a coarse timer may end it 5 % early).
        QVERIFY(clock.elapsed() >= 945);
        QCOMPARE(rig.requests(), QList<QByteArray>{request});
        QCOMPARE(int(rig.device.holding(reg)), value);
        QVERIFY(rig.log.first().startsWith(QLatin1String("SENT:")));
        if (link == Link::Rtu)
            QVERIFY(rig.log.first().endsWith(hexBytes(withCrc(request))));
        const QByteArray echo = request.at(1) == 0x10 ? request.left(6) : request;
        // The write's reply is only shown, never read as registers.
        QCOMPARE(rig.log.last(), QStringLiteral("Respond:") + hexBytes(withCrc(echo)));
        QCOMPARE(rig.child<StringGrid>("gridInputRegisters")->rowCount(), 2);
        QCOMPARE(rig.child<QSpinBox>("UDmodbusAddress")->value(), 1);
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
        WindowRig rig({.link = link, .timeoutMs = 100});
        rig.click("Button8");
        QTRY_VERIFY_WITH_TIMEOUT(!readout(rig).timerStatus().isEnabled(), 5000);
        QCOMPARE(rig.requests(), QList<QByteArray>{hex("01 2B 0E 02 00")});
        // The count, then each object's id and length as spaces, and its text.
        const QList<QByteArray> objects = qvxsim::deviceIdentificationObjects();
        QString text = QStringLiteral(" ");
        for (const QByteArray &o : objects)
            text += QStringLiteral("  ") + QString::fromLatin1(o);
        text[text.indexOf(QLatin1String(" QVX-24S IEC"))] = QLatin1Char(38); // a length byte of 38 is "&"
        QCOMPARE(rig.log, (QStringList{"Reading firmware version of QVX-24S...", text}));
    }

    // Every refused input: its message, nothing sent, no window opened.
    void inputChecks_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("fields");
        QTest::addColumn<QString>("message"); // empty: nothing logged
        const QString badAddress = "Invalid new modbus address entered...";
        const QString badBaud =
            "Wrong baud, allowable are 300,1200,2400,4800,9600,19200,38400,57600,115200...";
        const QString badMinutes = "Wrong timeout value. Should be between 1 and 1440 minutes...skipped";
        const QString badFlag = "Selected Flag is not supported...";
        const QString badValue = "Enter correct value (0 - 65535)...";
        const QString badRegister = "Enter proper register address, which will be changed...";
        QTest::newRow("address empty") << "BitBtn12"
                                       << "Edit_address="
                                       << "Modbus address not entered";
        QTest::newRow("address 248") << "BitBtn12"
                                     << "Edit_address=248" << badAddress;
        QTest::newRow("address 0") << "BitBtn12"
                                   << "Edit_address=0" << badAddress;
        QTest::newRow("address pasted text") << "BitBtn12"
                                             << "Edit_address=1a" << badAddress;
        QTest::newRow("baud 28800") << "BitBtn11"
                                    << "Combo_baud=28800;Combo_parity=Even" << badBaud;
        QTest::newRow("baud, space") << "Button1"
                                     << "Combo_baud=9600 ;Combo_parity=Even" << badBaud;
        QTest::newRow("parity lower case") << "BitBtn11"
                                           << "Combo_baud=9600;Combo_parity=even"
                                           << "Wrong parity - must be Even, Odd or None...";
        QTest::newRow("minutes 1441") << "BitBtn13"
                                      << "Edit_minutes=1441" << badMinutes;
        QTest::newRow("minutes 0") << "BitBtn13"
                                   << "Edit_minutes=0" << badMinutes;
        QTest::newRow("minutes empty") << "BitBtn13"
                                       << "Edit_minutes=" << badMinutes;
        QTest::newRow("flag empty") << "Button7"
                                    << "" << badFlag;
        QTest::newRow("flag lower case, checked") << "Button7"
                                                  << "Combo_selectFlag=reset;Check_flag01=1" << badFlag;
        QTest::newRow("value 65536") << "Button2"
                                     << "Edit_single_value=65536" << badValue;
        QTest::newRow("value empty") << "Button2"
                                     << "" << badValue;
        QTest::newRow("value negative") << "Button2"
                                        << "Edit_single_value=-1" << badValue;
        QTest::newRow("register empty") << "Button2"
                                        << "Edit_single_value=7;EditInputAddress=" << badRegister;
        QTest::newRow("register 65536") << "Button2"
                                        << "Edit_single_value=7;EditInputAddress=65536" << badRegister;
        QTest::newRow("IPv4 two dots") << "Butt_IP"
                                       << "Edit_QVXIP=10.1.2" << QString();
        QTest::newRow("mask above 255") << "Butt_mask"
                                        << "Edit_QVXMASK=10.1.2.256" << QString();
    }
    void inputChecks()
    {
        QFETCH(QString, button);
        QFETCH(QString, fields);
        QFETCH(QString, message);
        WindowRig rig({.link = Link::Rtu, .timeoutMs = 100});
        fill(rig, fields);
        rig.click(button.toLatin1().constData());
        QCOMPARE(rig.log, message.isEmpty() ? QStringList{} : QStringList{message});
        QVERIFY(!browser(rig).timerModbus().isEnabled());
        QTest::qWait(150);
        QVERIFY(rig.received.isEmpty());
    }

    void noLinkIsRefused()
    {
        WindowRig rig({.link = Link::Rtu, .timeoutMs = 100});
        rig.click("Butt_open_port2"); // closes the port again
        rig.log.clear();
        rig.setText("Edit_QVXIP", QStringLiteral("10.1.2.3"));
        const char *buttons[] = {"BitBtn12", "BitBtn11",  "Button1", "BitBtn13", "Button7",    "Button2",
                                 "Butt_IP",  "Butt_mask", "Butt_GW", "Button8",  "Butt_status"};
        for (const char *b : buttons)
            rig.click(b);
        QCOMPARE(rig.log, QStringList(std::size(buttons), "Serial or TCP port for modbus is not open..."));
        QVERIFY(!browser(rig).timerModbus().isEnabled() && !readout(rig).timerStatus().isEnabled());
    }

    // A send that fails on the serial line: the address command says so;
    // the others end in the standard error box.  No window opens.
    void sendErrors()
    {
        qvxtest::PtyPair pty; // nobody reads: the line fills up
        WindowRig rig({.timeoutMs = 100});
        QVERIFY(rig.openPort(pty.slavePath()));
        QVERIFY(qvxtest::fillOutputQueue(rig.session().comm2()));
        rig.log.clear();
        rig.click("BitBtn12");
        QCOMPARE(rig.log, QStringList{"Exception converting address value..."});
        rig.click("BitBtn13");
        QCOMPARE(rig.dialogs.dialogs.raised.size(), 1);
        QCOMPARE(rig.dialogs.dialogs.raised.first().icon, DialogIcon::Error);
        QVERIFY(!browser(rig).timerModbus().isEnabled());
        rig.click("Butt_open_port2"); // closed again with its queue full
    }
};

QTEST_MAIN(TstDeviceCommands)
#include "tst_device_commands.moc"
