// The register browser, driven through the real window, against a Modbus
// slave we did not write (pymodbus from Debian): over Modbus TCP on 127.0.0.1
// and in RTU over a pseudo-terminal pair made by socat.
#include "widgets/string_grid.h"
#include "app/tform1.h"
#include "common/scripted_dialogs.h"
#include "transport/session.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using namespace qvx;

namespace {

const QString python = QStringLiteral("/usr/bin/python3");

uint16_t holdingValue(int a)
{
    return static_cast<uint16_t>((7 * a + 3) % 65536);
}
uint16_t inputValue(int a)
{
    return static_cast<uint16_t>((11 * a + 5) % 65536);
}

QString hex2(int v)
{
    return QStringLiteral("%1").arg(v & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
}

quint16 freePort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

// A child process that is always stopped at the end of the test.
struct Child {
    QProcess process;
    ~Child()
    {
        if (process.state() != QProcess::NotRunning) {
            process.closeWriteChannel();
            process.terminate();
            if (!process.waitForFinished(2000)) {
                process.kill();
                process.waitForFinished(2000);
            }
        }
    }
};

bool startPeer(Child &peer, const QStringList &args)
{
    const QString script =
        qEnvironmentVariable("QVX_SOURCE_DIR") + QStringLiteral("/tests/interop/pymodbus_peer.py");
    peer.process.setProcessChannelMode(QProcess::MergedChannels);
    peer.process.start(python, QStringList{script} + args +
                                   QStringList{QStringLiteral("--lifetime"), QStringLiteral("60")});
    if (!peer.process.waitForStarted(5000))
        return false;
    QByteArray out;
    QDeadlineTimer deadline(15000);
    while (!out.contains("READY") && !deadline.hasExpired()) {
        peer.process.waitForReadyRead(200);
        out += peer.process.readAll();
    }
    if (!out.contains("READY"))
        qWarning() << "peer did not start:" << out;
    return out.contains("READY");
}

} // namespace

class TstInterop : public QObject {
    Q_OBJECT

    template <typename T> T *child(QWidget &w, const char *name)
    {
        T *c = w.findChild<T *>(QString::fromLatin1(name));
        if (!c)
            qFatal("missing control %s", name);
        return c;
    }

    // Reads count registers from start and checks every row against value().
    void readAndCheck(TForm1 &form, bool input, int start, int count, uint16_t (*value)(int))
    {
        Session &s = form.session();
        auto *grid = child<StringGrid>(form, "gridInputRegisters");
        child<QPushButton>(form, "BitBtn4")->click(); // Clear grid
        auto *checkInput = child<QCheckBox>(form, "checkInput");
        if (checkInput->isChecked() != input)
            checkInput->click();
        child<QLineEdit>(form, "EditInputAddress")->setText(QString::number(start));
        child<QLineEdit>(form, "EditInputCount")->setText(QString::number(count));

        QSignalSpy log(&s, &Session::logLine);
        child<QPushButton>(form, "BitBtn3")->click();
        QTRY_VERIFY_WITH_TIMEOUT(
            !log.isEmpty() && log.last().at(0).toString().startsWith(QStringLiteral("Respond:")), 5000);
        const QString respond = log.last().at(0).toString();
        // unit, function, byte count, data, CRC: each byte as two digits and a space
        QCOMPARE(respond.size(), QStringLiteral("Respond:").size() + (5 + 2 * count) * 3);
        QCOMPARE(log.size(), 1 + (input ? 1 : 0)); // SENT: for input reads, then Respond:
        QCOMPARE(grid->rowCount(), count + 2);
        for (int k = 0; k < count; ++k) {
            const int row = 1 + k;
            const uint16_t v = value(start + k);
            QCOMPARE(grid->cell(0, row), QString::number(start + k));
            QCOMPARE(grid->cell(1, row), hex2(v >> 8));
            QCOMPARE(grid->cell(3, row), hex2(v));
            QVERIFY(!grid->cell(5, row).isEmpty());
        }
        QVERIFY(grid->cell(0, count + 1).isEmpty());
    }

private slots:
    void initTestCase()
    {
        if (!QFileInfo::exists(python))
            QFAIL("/usr/bin/python3 with pymodbus is needed (scripts/install-deps.sh installs it)");
    }

    void registerBrowserOverTcp()
    {
        qvxtest::ScopedDialogs dialogs;
        QTemporaryDir dir;
        const quint16 port = freePort();
        Child peer;
        QVERIFY(startPeer(peer, {QStringLiteral("--tcp"), QString::number(port)}));

        TForm1 form(dir.path() + QLatin1Char('/'));
        child<QLineEdit>(form, "Edit_remoteIP")->setText(QStringLiteral("127.0.0.1"));
        child<QLineEdit>(form, "Edit_port")->setText(QString::number(port));
        child<QSpinBox>(form, "UD_connectTimeout")->setValue(1);
        child<QPushButton>(form, "Butt_connectEthernet")->click();
        QTRY_VERIFY_WITH_TIMEOUT(form.session().TransportMode == TransportModeKind::Tcp, 5000);

        readAndCheck(form, false, 0, 125, holdingValue);
        readAndCheck(form, true, 100, 125, inputValue);
        readAndCheck(form, false, 9990, 10, holdingValue);

        // pymodbus keeps to the standard's limit of 125: the refusal comes
        // back as an exception reply and is reported, with no rows.
        QSignalSpy log(&form.session(), &Session::logLine);
        child<QLineEdit>(form, "EditInputCount")->setText(QStringLiteral("126"));
        child<QPushButton>(form, "BitBtn4")->click();
        child<QPushButton>(form, "BitBtn3")->click();
        QTRY_VERIFY_WITH_TIMEOUT(
            !log.isEmpty() && log.last().at(0).toString().startsWith(QStringLiteral("Respond:")), 5000);
        QVERIFY(log.size() >= 2);
        QCOMPARE(log.at(log.size() - 2).at(0).toString(), QStringLiteral("Error - ILLEGAL DATA VALUE\r"));
        QCOMPARE(child<StringGrid>(form, "gridInputRegisters")->rowCount(), 2);
        QVERIFY(dialogs.dialogs.raised.isEmpty());
    }

    void registerBrowserOverRtuPseudoTerminal()
    {
        qvxtest::ScopedDialogs dialogs;
        QTemporaryDir dir;
        const QString peerSide = dir.filePath(QStringLiteral("peer"));
        const QString toolSide = dir.filePath(QStringLiteral("tool"));
        Child socat;
        socat.process.start(QStringLiteral("socat"), {QStringLiteral("pty,raw,echo=0,link=") + peerSide,
                                                      QStringLiteral("pty,raw,echo=0,link=") + toolSide});
        QVERIFY(socat.process.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(peerSide) && QFileInfo::exists(toolSide), 5000);

        Child peer;
        QVERIFY(startPeer(peer, {QStringLiteral("--rtu"), peerSide}));

        TForm1 form(dir.path() + QLatin1Char('/'));
        child<QComboBox>(form, "Combo_com2_name")->setCurrentText(toolSide);
        child<QComboBox>(form, "Combo_com2_speed")->setCurrentText(QStringLiteral("19200"));
        child<QComboBox>(form, "Combo_com2_parity")->setCurrentText(QStringLiteral("None"));
        child<QPushButton>(form, "Butt_open_port2")->click();
        QVERIFY(form.session().SerialPortOpen);

        readAndCheck(form, false, 0, 125, holdingValue);
        readAndCheck(form, true, 500, 60, inputValue);
        QVERIFY(dialogs.dialogs.raised.isEmpty());
    }
};

QTEST_MAIN(TstInterop)
#include "tst_interop.moc"
