// The readout tab's additions through the real window, against the
// simulator's meter on its own pseudo-terminal: a readout to the end of the
// message with its check, mode C with its switch of rate, the framing hint,
// and the parsed codes copied into a meter slot and written to the simulated
// gateway.
#include "app/tform1.h"
#include "common/scripted_dialogs.h"
#include "console/console_panel.h"
#include "console/log_view.h"
#include "iec/readout_tab.h"
#include "iec/readout_view.h"
#include "meters/meter_codec.h"
#include "meters/meters_tab.h"
#include "sim/device.h"
#include "sim/meter.h"
#include "sim/meter_link.h"
#include "sim/tcp_server.h"
#include "widgets/string_grid.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace qvx;

namespace {

// The window in a fresh folder, its port the terminal of a simulated meter.
struct Rig {
    QTemporaryDir dir;
    qvxtest::ScopedDialogs scripted;
    qvxsim::Device device;
    qvxsim::MeterLink meter;
    std::unique_ptr<TForm1> form;
    ReadoutTab *tab;

    explicit Rig(const qvxsim::MeterOptions &options, const QString &speed = QStringLiteral("9600"),
                 const QString &dataBits = QStringLiteral("7"),
                 const QString &parity = QStringLiteral("Even"))
        : meter(device, options), form(std::make_unique<TForm1>(dir.path())), tab(form->readoutTab())
    {
        if (!meter.openPty())
            qFatal("no pty: %s", qPrintable(meter.errorString()));
        child<QComboBox>("Combo_com2_name")->setCurrentText(meter.slavePath());
        child<QComboBox>("Combo_com2_speed")->setCurrentText(speed);
        child<QComboBox>("Combo_dbits")->setCurrentText(dataBits);
        child<QComboBox>("Combo_com2_parity")->setCurrentText(parity);
        child<QLineEdit>("Edit_mserial")->setText(options.address);
    }
    ~Rig() { form->close(); }

    template <class T> T *child(const char *name) { return form->findChild<T *>(QLatin1String(name)); }
    void check(const char *name) { child<QCheckBox>(name)->setChecked(true); }
    void click(const char *name) { child<QPushButton>(name)->click(); }
    QStringList log() { return form->console()->log()->lines(); }
    // The first log line that matches pattern, waiting up to timeoutMs for
    // it; empty when none came.
    QString waitForLine(const QString &pattern, int timeoutMs)
    {
        const QRegularExpression re(pattern);
        QString found;
        auto seen = [&] {
            for (const QString &l : log())
                if (re.match(l).hasMatch()) {
                    found = l;
                    return true;
                }
            return false;
        };
        (void)QTest::qWaitFor(seen, timeoutMs);
        return found;
    }
};

qvxsim::MeterOptions at(int baud)
{
    qvxsim::MeterOptions o;
    o.line.baud = baud;
    return o;
}

} // namespace

class TstReadoutModes : public QObject {
    Q_OBJECT
private slots:
    void newControlsAreReachable()
    {
        Rig r(at(9600));
        for (const char *name : {"CheckBox_untilEnd", "CheckBox_modeC", "CheckBox_start300"}) {
            QCheckBox *box = r.child<QCheckBox>(name);
            QVERIFY(!box->isChecked());
            QAccessibleInterface *a = QAccessible::queryAccessibleInterface(box);
            QCOMPARE(a->text(QAccessible::Name), box->text());
        }
        QCOMPARE(r.child<QAction>("CopyCodesToMeterSlot")->text(),
                 QStringLiteral("Copy codes to meter slot..."));
        const std::unique_ptr<QDialog> dlg =
            makeNumberDialog(nullptr, QStringLiteral("Copy codes to meter slot"),
                             QStringLiteral("Meter slot (1-32):"), 1, 32, 4);
        QSpinBox *spin = dlg->findChild<QSpinBox *>(QStringLiteral("SpinNumber"));
        QCOMPARE(QAccessible::queryAccessibleInterface(spin)->text(QAccessible::Name),
                 QStringLiteral("Meter slot (1-32):"));
        QCOMPARE(spin->value(), 4);
    }

    // At 300 baud the answer takes longer than the ten-second window; read
    // until its end it arrives whole, with its check and the progress shown.
    void slowReadoutToItsEnd()
    {
        Rig r(at(300), QStringLiteral("300"));
        QVERIFY(r.meter.answer().size() * 10 / 300 > 10);
        r.check("CheckBox_untilEnd");
        r.click("Button4");
        QLabel *panel = r.child<QLabel>("StatusPanelReadout");
        QTRY_VERIFY_WITH_TIMEOUT(panel->text().startsWith(QStringLiteral("Readout: ")), 5000);
        const QString end = r.waitForLine(QStringLiteral("^Readout complete: \\d+ bytes, BCC OK$"), 40000);
        QCOMPARE(end, QStringLiteral("Readout complete: %1 bytes, BCC OK").arg(r.meter.answer().size()));
        // The "!" line and the end-of-text mark are in the view (the block
        // check character may itself be a line feed).
        QVERIFY(r.tab->memoReadout()->store().fileBytes().contains("!\r\r\n\x03"));
        QVERIFY(!r.form->session().ReadoutCaptureActive);
        QVERIFY(panel->isHidden());
    }

    void endOfMessage_data()
    {
        QTest::addColumn<bool>("wrongBcc");
        QTest::addColumn<bool>("quirks");
        QTest::addColumn<QString>("line");
        QTest::newRow("wrong BCC")
            << true << false
            << "^Readout complete: \\d+ bytes, BCC error \\(computed [0-9A-F]{2}, received "
               "[0-9A-F]{2}\\)$";
        QTest::newRow("LF-only lines, DEL first")
            << false << true << "^Readout complete: \\d+ bytes, BCC OK$";
    }
    void endOfMessage()
    {
        QFETCH(bool, wrongBcc);
        QFETCH(bool, quirks);
        QFETCH(QString, line);
        qvxsim::MeterOptions o = at(9600);
        o.style = {quirks, quirks, wrongBcc};
        Rig r(o);
        r.check("CheckBox_untilEnd");
        r.click("Button4");
        QVERIFY2(!r.waitForLine(line, 20000).isEmpty(), qPrintable(r.log().join('\n')));
    }

    // The meter waits for an acknowledgement that does not come: the quiet
    // line ends the readout.
    void quietLineEndsTheReadout()
    {
        qvxsim::MeterOptions o = at(9600);
        o.modeC = true;
        Rig r(o);
        r.check("CheckBox_untilEnd");
        r.click("Button4");
        QVERIFY(!r.waitForLine(QStringLiteral("^Readout ended: no data for 3 s \\(15 bytes\\)$"), 20000)
                     .isEmpty());
        QCOMPARE(r.meter.acks(), 0);
        QVERIFY(!r.child<QPushButton>("Button_stopReadout")->isEnabled());
    }

    // The operator ends a slow readout; the port goes back to its rate.
    void stopEndsAReadout()
    {
        Rig r(at(300), QStringLiteral("9600"));
        r.check("CheckBox_untilEnd");
        r.check("CheckBox_start300");
        r.click("Button4");
        QTRY_VERIFY_WITH_TIMEOUT(r.form->session().RxBuffer.size() > 5, 10000);
        r.click("Button_stopReadout");
        QVERIFY(!r.waitForLine(QStringLiteral("^Readout stopped \\(\\d+ bytes\\)$"), 1000).isEmpty());
        QCOMPARE(r.log().last(), QStringLiteral("Port back at 9600 baud, 7 data bits, even parity"));
        QVERIFY(!r.form->session().ReadoutCaptureActive);
        QCOMPARE(r.form->session().comm2().activeLine().baudRate, 9600);
    }

    // Sign-on at 300 baud, acknowledgement, switch to the announced 9600;
    // the meter sees the client's port at both rates, the port ends at the
    // Settings tab's rate.
    void modeCSwitchesTheRate()
    {
        qvxsim::MeterOptions o = at(9600);
        o.modeC = true;
        Rig r(o);
        r.check("CheckBox_untilEnd");
        r.check("CheckBox_modeC");
        r.check("CheckBox_start300");
        r.click("Button4");
        QVERIFY2(!r.waitForLine(QStringLiteral("^Readout complete: \\d+ bytes, BCC OK$"), 30000).isEmpty(),
                 qPrintable(r.log().join('\n')));
        QCOMPARE(r.meter.clientRates(), (QList<int>{300, 9600}));
        QCOMPARE(r.meter.acks(), 1);
        const QStringList log = r.log();
        for (const QString &step :
             {QStringLiteral("Sign-on at 300 baud, 7 data bits, even parity"),
              QStringLiteral("Sign-on sent: /?12345678!"), QStringLiteral("Identification: /QVX5SIMMETER"),
              QStringLiteral("Acknowledgement sent: 06 30 35 30 0D 0A (data readout at 9600 baud)"),
              QStringLiteral("Port switched to 9600 baud")})
            QVERIFY2(log.contains(step), qPrintable(step));
        QCOMPARE(r.form->session().comm2().activeLine().baudRate, 9600);
        QCOMPARE(r.form->session().comm2().activeLine(), r.form->session().comm2().lineSettings());
    }

    // A 7E1 meter read with 8 data bits and no parity.
    void framingHint()
    {
        qvxsim::MeterOptions o = at(9600);
        o.parityOnWire = true;
        Rig r(o, QStringLiteral("9600"), QStringLiteral("8"), QStringLiteral("None"));
        r.check("CheckBox_untilEnd");
        r.click("Button4");
        QVERIFY(!r.waitForLine(QStringLiteral("choose Data bits 7 and Parity Even"), 20000).isEmpty());
        QVERIFY(!r.waitForLine(QStringLiteral("^Readout ended: no data for 3 s"), 20000).isEmpty());
    }

    // The parsed codes go into slot 4 (the ID from 0.0.0), a slot that holds
    // codes is replaced only when confirmed, and "Write in QVX-24 this meter"
    // sends exactly those codes to the gateway.
    void copyCodesToSlotAndWrite()
    {
        Rig r(at(9600));
        const QList<QByteArray> data =
            r.device.meters().meter(QStringLiteral("12345678")).dataLines(QDateTime::currentDateTime());
        const QByteArray answer =
            qvxsim::buildMeterAnswer("/QVX5SIMMETER", data + QList<QByteArray>{"X.9(1)"});
        r.tab->memoReadout()->paste(QString::fromLatin1(answer));
        r.click("BitBtn20");
        StringGrid *grid = r.tab->gridIEC();
        QCOMPARE(grid->gridModel()->index(2, 0).data(Qt::ToolTipRole).toString(),
                 QStringLiteral("Active energy import (+A), total [kWh]"));

        r.scripted.dialogs.numberAnswers.enqueue(4);
        r.child<QAction>("CopyCodesToMeterSlot")->trigger();
        MetersTab *meters = r.form->findChild<MetersTab *>();
        QCOMPARE(meters->meterNumber(), 4);
        QCOMPARE(meters->comboMeterId()->currentText(), QStringLiteral("12345678"));
        QStringList codes;
        for (const QByteArray &line : data)
            codes << QString::fromLatin1(line.left(line.indexOf('(')));
        codes.replace(codes.indexOf(QStringLiteral("F.F")), QStringLiteral("97.97.0"));
        for (int row = 1; row <= codes.size(); ++row)
            QCOMPARE(meters->gridRegisters()->cell(1, row), codes.at(row - 1));
        QVERIFY(meters->gridRegisters()->cell(1, codes.size() + 1).isEmpty());
        QCOMPARE(meters->gridRegisters()->gridModel()->index(2, 1).data(Qt::ToolTipRole).toString(),
                 QStringLiteral("Active energy import (+A), total [kWh]"));
        QVERIFY(r.log().last().contains(QStringLiteral("X.9")));

        // Slot 4 holds codes now: a single selected row replaces them only
        // after a Yes.
        grid->selectRow(2);
        r.scripted.dialogs.numberAnswers.enqueue(4);
        r.child<QAction>("CopyCodesToMeterSlot")->trigger();
        QCOMPARE(r.scripted.dialogs.raised.last().kind, QStringLiteral("question"));
        QCOMPARE(meters->gridRegisters()->cell(1, 2), codes.at(1));

        qvxsim::TcpServer server(r.device);
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        r.child<QLineEdit>("Edit_remoteIP")->setText(QStringLiteral("127.0.0.1"));
        r.child<QLineEdit>("Edit_port")->setText(QString::number(server.serverPort()));
        r.click("Butt_connectEthernet");
        QTRY_VERIFY_WITH_TIMEOUT(r.form->session().TransportMode == TransportModeKind::Tcp, 5000);
        r.click("BitBtn16");
        auto entry = [&](int row) {
            const int a = obisEntryAddress(4, row);
            const uint16_t hi = r.device.holding(a), lo = r.device.holding(a + 1);
            QByteArray bytes;
            for (const uint16_t v : {hi, lo})
                bytes += char(v >> 8), bytes += char(v & 0xFF);
            return bytes;
        };
        QTRY_COMPARE_WITH_TIMEOUT(entry(1), EncodeRegisterEntry(codes.at(0), false), 5000);
        for (int row = 1; row <= ObisListRows; ++row)
            QCOMPARE(entry(row), EncodeRegisterEntry(codes.value(row - 1), false));
    }
};

QTEST_MAIN(TstReadoutModes)
#include "tst_readout_modes.moc"
