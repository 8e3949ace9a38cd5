// The readout tab's port of its own and its listen mode, through the real
// window: a readout on a second pseudo-terminal (the simulator's meter)
// while the periodic value read goes on over the Modbus port (the simulated
// gateway on a pseudo-terminal of its own), neither seeing the other's bytes;
// the port's settings in the settings file, with and without their section;
// a pushing meter heard without a sign-on; the new controls under their
// captions.
#include "common/pty_pair.h"
#include "core/settings_keys.h"
#include "common/window_rig.h"
#include "console/console_panel.h"
#include "iec/readout_tab.h"
#include "iec/readout_view.h"
#include "meters/meter_values_panel.h"
#include "meters/meters_tab.h"
#include "sim/meter.h"
#include "sim/meter_link.h"
#include "core/ini_file.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>

using namespace qvx;
using qvxtest::Link;

namespace {

struct Rig : qvxtest::WindowRig {
    ReadoutTab *tab = form->readoutTab();
    explicit Rig(const qvxtest::RigOptions &o = {}) : WindowRig(o) {}

    QComboBox *combo(const char *name) { return child<QComboBox>(name); }
    // The readout on a port of its own, at a rate.
    void useOwnPort(const QString &path, const QString &rate)
    {
        combo("Combo_readoutPort")->setCurrentIndex(1);
        setText("Combo_readoutPortName", path);
        setText("Combo_readoutSpeed", rate);
    }
    QString iniPath() const { return form->settingsFilePath(); }
};

// CRC-16 of a P1 telegram: polynomial 0xA001 (reflected 0x8005), from 0, over
// "/" to "!" inclusive.
QByteArray p1WithCrc(const QByteArray &telegram)
{
    quint16 crc = 0;
    for (const char c : telegram) {
        crc ^= static_cast<uchar>(c);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return telegram + QByteArray::number(crc, 16).toUpper().rightJustified(4, '0') + "\r\n";
}

} // namespace

class TstReadoutPorts : public QObject {
    Q_OBJECT
private slots:
    void newControlsAreReachable()
    {
        Rig r;
        const struct {
            const char *name;
            const char *caption;
        } boxes[] = {{"Combo_readoutPort", "Port:"},
                     {"Combo_readoutPortName", "Name:"},
                     {"Combo_readoutSpeed", "Rate:"},
                     {"Combo_readoutParity", "Parity:"},
                     {"Combo_readoutDataBits", "Data bits:"}};
        // A list box's name is its current item here; the caption beside it
        // labels it through the relation.
        for (const auto &b : boxes) {
            QStringList labels;
            for (const auto &rel : QAccessible::queryAccessibleInterface(r.combo(b.name))->relations(
                     QAccessible::Label))
                labels << rel.first->text(QAccessible::Name);
            QVERIFY2(labels.contains(QLatin1String(b.caption)), b.name);
        }
        QCheckBox *listen = r.child<QCheckBox>("CheckBox_listenOnly");
        QCOMPARE(listen->text(), QStringLiteral("Listen only (meter sends by itself)"));
        QCOMPARE(QAccessible::queryAccessibleInterface(listen)->text(QAccessible::Name), listen->text());
        QCOMPARE(r.child<QAction>("DataSets")->text(), QStringLiteral("Data sets..."));
        // The Modbus port as before; its own port's boxes wait for the choice.
        QCOMPARE(r.combo("Combo_readoutPort")->currentText(), QStringLiteral("the Modbus serial port"));
        QVERIFY(!r.combo("Combo_readoutSpeed")->isEnabled());
        r.combo("Combo_readoutPort")->setCurrentIndex(1);
        QVERIFY(r.combo("Combo_readoutSpeed")->isEnabled());
        QCOMPARE(r.child<QLabel>("Label_readoutLine")->text(), QStringLiteral("COM2, 9600 7E1"));
    }

    // Written at close under a section of its own and read back at start; a
    // file without that section (an older version's, another program's)
    // starts with the defaults and keeps what else it holds.
    void settingsRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("expected"); // choice, name, rate, parity, data bits
        QTest::newRow("without the section")
            << QByteArray("[Modbus port]\r\nName=COM3\r\n[Other tool]\r\nKey=1\r\n")
            << QStringList{"the Modbus serial port", "COM2", "9600", "Even", "7"};
        QTest::newRow("with the section")
            << QByteArray("[Readout port]\r\nPort=1\r\nName=/dev/ttyUSB1\r\nSpeed=300\r\nParity=None\r\n"
                          "DB=8\r\nHead=optical\r\n")
            << QStringList{"a port of its own", "/dev/ttyUSB1", "300", "None", "8"};
        QTest::newRow("choice out of range")
            << QByteArray("[Readout port]\r\nPort=7\r\n") << QStringList{"a port of its own", "COM2", "9600",
                                                                         "Even", "7"};
        QTest::newRow("choice not a number") << QByteArray("[Readout port]\r\nPort=own\r\n")
                                             << QStringList{"the Modbus serial port", "COM2", "9600", "Even", "7"};
    }
    void settingsRoundTrip()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        const QString iniPath =
            qvx::settingsFilePath(dir.path() + QLatin1Char('/'), QCoreApplication::applicationFilePath());
        {
            QFile f(iniPath);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(file);
        }
        const char *names[] = {"Combo_readoutPort", "Combo_readoutPortName", "Combo_readoutSpeed",
                               "Combo_readoutParity", "Combo_readoutDataBits"};
        {
            Rig r({.programDir = dir.path()});
            for (int i = 0; i < 5; ++i)
                QCOMPARE(r.combo(names[i])->currentText(), expected.at(i));
            r.combo("Combo_readoutPort")->setCurrentIndex(1);
            r.setText("Combo_readoutPortName", QStringLiteral("/dev/ttyACM0"));
            r.setText("Combo_readoutSpeed", QStringLiteral("2400"));
            r.combo("Combo_readoutParity")->setCurrentText(QStringLiteral("Odd"));
        }
        IniFile ini;
        QVERIFY(ini.load(iniPath));
        QCOMPARE(ini.value("Readout port", "Port"), QStringLiteral("1"));
        QCOMPARE(ini.value("Readout port", "Name"), QStringLiteral("/dev/ttyACM0"));
        QCOMPARE(ini.value("Readout port", "Speed"), QStringLiteral("2400"));
        QCOMPARE(ini.value("Readout port", "Parity"), QStringLiteral("Odd"));
        QCOMPARE(ini.value("Readout port", "DB"), expected.at(4));
        // What this program does not know stays.
        if (file.contains("Other tool"))
            QCOMPARE(ini.value("Other tool", "Key"), QStringLiteral("1"));
        if (file.contains("Head"))
            QCOMPARE(ini.value("Readout port", "Head"), QStringLiteral("optical"));
        Rig again({.programDir = dir.path()});
        QCOMPARE(again.combo("Combo_readoutPort")->currentText(), QStringLiteral("a port of its own"));
        QCOMPARE(again.combo("Combo_readoutPortName")->currentText(), QStringLiteral("/dev/ttyACM0"));
        QCOMPARE(again.combo("Combo_readoutParity")->currentText(), QStringLiteral("Odd"));
    }

    // The meter on its own port at 1200 baud (its answer takes seconds), the
    // gateway on the Modbus port: periodic value reads go out and are
    // answered while the readout runs, the readout ends complete with the
    // meter's bytes alone, the gateway sees Modbus frames alone.
    void ownPortBesideModbusReads()
    {
        Rig r({.link = Link::Rtu, .timeoutMs = 300});
        QVERIFY(r.portOpen());
        qvxsim::MeterOptions o;
        o.line.baud = 1200;
        o.historyLines = 6;
        qvxsim::MeterLink meter(r.device, o);
        QVERIFY(meter.openPty());
        const qsizetype answerSize = meter.answer().size();
        QVERIFY(answerSize * 10 / 1200 >= 3);
        r.useOwnPort(meter.slavePath(), QStringLiteral("1200"));
        r.setText("Edit_mserial", o.address);
        r.child<QCheckBox>("CheckBox_untilEnd")->setChecked(true);
        r.child<QSpinBox>("UD_autoRead")->setValue(990);
        r.child<QCheckBox>("Check_autoRead")->setChecked(true);
        r.received.clear();
        r.click("Button4");
        QVERIFY(r.tab->ownPortRun().running());
        QVERIFY(!r.tab->hasSerialLine());
        QVERIFY(!r.combo("Combo_readoutPort")->isEnabled());

        // Three periodic reads while the meter's answer comes in.
        MeterValuesPanel &panel = *r.form->metersTab()->valuesPanel();
        for (int i = 0; i < 3; ++i) {
            QVERIFY(r.answered([&] { panel.Timer_autoReadValuesTimer(); }, 5000));
            QVERIFY(r.tab->ownPortRun().running());
        }
        QVERIFY2(r.waitForLine(QStringLiteral("Readout complete: %1 bytes, BCC OK").arg(answerSize), 0, 30000),
                 qPrintable(r.log.join('\n')));
        QCOMPARE(r.tab->capturedBytes().size(), answerSize);
        QVERIFY(r.tab->capturedBytes().startsWith("/QVX5SIMMETER\r\n\x02"));
        QCOMPARE(meter.answers(), 1);
        QCOMPARE(r.received.size(), 3);
        for (const QByteArray &frame : r.received)
            QCOMPARE(frame.mid(1, 1), QByteArray("\x04"));
        for (const QString &bad : {QStringLiteral("Error in CRC field"), QStringLiteral("Reply ignored"),
                                   QStringLiteral("Value read stopped")})
            QCOMPARE(r.indexOfPrefix(bad), -1);
        QVERIFY(!r.session().ReadoutCaptureActive);
        QVERIFY(r.indexOfPrefix(QStringLiteral("Readout port ") + meter.slavePath() + " closed") >= 0);
        QVERIFY(r.combo("Combo_readoutPort")->isEnabled());
        QVERIFY(r.portOpen());
    }

    // A port of its own that cannot be opened: said in the log, nothing sent.
    void ownPortMissing()
    {
        Rig r;
        r.useOwnPort(QStringLiteral("/dev/qvx-no-such-port"), QStringLiteral("9600"));
        r.click("Button4");
        QVERIFY(r.indexOfPrefix(QStringLiteral("Readout port /dev/qvx-no-such-port: ")) >= 0);
        QCOMPARE(r.log.last(), QStringLiteral("Unable to open serial port, quitting..."));
        QVERIFY(!r.tab->ownPortRun().running());
    }

    // A meter that pushes its telegram: nothing is sent, the capture ends
    // at the telegram's end with its CRC judged, on either port.
    void listenOnly_data()
    {
        QTest::addColumn<bool>("ownPort");
        QTest::addColumn<bool>("goodCrc");
        QTest::newRow("Modbus port, CRC OK") << false << true;
        QTest::newRow("own port, CRC error") << true << false;
    }
    void listenOnly()
    {
        QFETCH(bool, ownPort);
        QFETCH(bool, goodCrc);
        Rig r;
        qvxtest::PtyPair meter;
        QVERIFY(meter.isValid());
        if (ownPort)
            r.useOwnPort(meter.slavePath(), QStringLiteral("115200"));
        else
            r.setText("Combo_com2_name", meter.slavePath());
        r.child<QCheckBox>("CheckBox_listenOnly")->setChecked(true);
        QVERIFY(!r.child<QCheckBox>("CheckBox_modeC")->isEnabled());
        r.click("Button4");
        QByteArray telegram = p1WithCrc("/ISK5\\2M550T-1012\r\n\r\n1-3:0.2.8(50)\r\n0-0:1.0.0(240310093000W)\r\n"
                                      "1-0:1.8.1(001234.567*kWh)\r\n1-0:1.8.2(000765.432*kWh)\r\n!");
        if (!goodCrc)
            telegram.replace("001234", "001235");
        QVERIFY(meter.write(telegram));
        const QString end = goodCrc ? QStringLiteral("CRC OK") : QStringLiteral("CRC error (computed ");
        QVERIFY2(QTest::qWaitFor([&] {
                     for (const QString &l : r.log)
                         if (l.contains(end))
                             return true;
                     return false;
                 }, 10000),
                 qPrintable(r.log.join('\n')));
        QTRY_VERIFY_WITH_TIMEOUT(!r.tab->readoutRun().running() && !r.tab->ownPortRun().running(), 5000);
        // Nothing went to the meter, and the whole telegram is in the view.
        QCOMPARE(meter.readAvailable(), QByteArray());
        QCOMPARE(r.tab->capturedBytes(), telegram);
        QCOMPARE(r.tab->memoReadout()->lineText(3), QStringLiteral("0-0:1.0.0(240310093000W)\r"));
    }

    // The simulator's meter pushing a P1 telegram every second, heard on
    // the port of its own.
    void listenToTheSimulatorsPush()
    {
        Rig r;
        qvxsim::MeterOptions o;
        o.pushSeconds = 1;
        o.style.p1Crc = true;
        qvxsim::MeterLink meter(r.device, o);
        QVERIFY(meter.openPty());
        r.useOwnPort(meter.slavePath(), QStringLiteral("9600"));
        r.child<QCheckBox>("CheckBox_listenOnly")->setChecked(true);
        r.click("Button4");
        QVERIFY2(QTest::qWaitFor([&] {
                     for (const QString &l : r.log)
                         if (l.contains(QStringLiteral("CRC OK")))
                             return true;
                     return false;
                 }, 15000),
                 qPrintable(r.log.join('\n')));
        QTRY_VERIFY_WITH_TIMEOUT(!r.tab->ownPortRun().running(), 5000);
        QVERIFY(r.tab->capturedBytes().contains('!'));
        QCOMPARE(meter.answers(), 0);
    }
};

QTEST_MAIN(TstReadoutPorts)
#include "tst_readout_ports.moc"
