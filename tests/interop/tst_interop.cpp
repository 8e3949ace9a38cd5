// The register browser, driven through the real window, against a Modbus
// slave we did not write (pymodbus from Debian): over Modbus TCP on 127.0.0.1
// and in RTU over a pseudo-terminal pair made by socat.
#include "widgets/string_grid.h"
#include "common/window_rig.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

using namespace qvx;
using qvxtest::WindowRig;

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

    // Reads count registers from start and checks every row against value().
    void readAndCheck(WindowRig &w, bool input, int start, int count, uint16_t (*value)(int))
    {
        auto *grid = w.child<StringGrid>("gridInputRegisters");
        w.click("BitBtn4"); // Clear grid
        auto *checkInput = w.child<QCheckBox>("checkInput");
        if (checkInput->isChecked() != input)
            checkInput->click();
        w.setText("EditInputAddress", QString::number(start));
        w.setText("EditInputCount", QString::number(count));

        w.log.clear();
        QVERIFY(w.answered([&] { w.click("BitBtn3"); }, 5000));
        const QStringList &log = w.log;
        const QString respond = log.last();
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
        const quint16 port = freePort();
        Child peer;
        QVERIFY(startPeer(peer, {QStringLiteral("--tcp"), QString::number(port)}));

        WindowRig w;
        QVERIFY(w.connectTcp(port));
        readAndCheck(w, false, 0, 125, holdingValue);
        readAndCheck(w, true, 100, 125, inputValue);
        readAndCheck(w, false, 9990, 10, holdingValue);

        // pymodbus keeps to the standard's limit of 125: the refusal comes
        // back as an exception reply and is reported, with no rows.
        w.log.clear();
        w.setText("EditInputCount", QStringLiteral("126"));
        w.click("BitBtn4");
        QVERIFY(w.answered([&] { w.click("BitBtn3"); }, 5000));
        QVERIFY(w.log.size() >= 2);
        QCOMPARE(w.log.at(w.log.size() - 2), QStringLiteral("Error - ILLEGAL DATA VALUE\r"));
        QCOMPARE(w.child<StringGrid>("gridInputRegisters")->rowCount(), 2);
        QVERIFY(w.dialogs.dialogs.raised.isEmpty());
    }

    void registerBrowserOverRtuPseudoTerminal()
    {
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

        WindowRig w;
        w.setText("Combo_com2_speed", QStringLiteral("19200"));
        w.setText("Combo_com2_parity", QStringLiteral("None"));
        QVERIFY(w.openPort(toolSide));
        readAndCheck(w, false, 0, 125, holdingValue);
        readAndCheck(w, true, 500, 60, inputValue);
        QVERIFY(w.dialogs.dialogs.raised.isEmpty());
    }
};

QTEST_MAIN(TstInterop)
#include "tst_interop.moc"
