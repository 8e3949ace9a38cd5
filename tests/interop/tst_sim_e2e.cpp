// The tool against the simulated QVX-24S (the qvxsim program), end to end
// through the real window: register reads over Modbus TCP and over the
// simulator's pseudo-terminal, 126-register reads as the device accepts them,
// and what the operator sees when the line misbehaves.
#include "widgets/string_grid.h"
#include "common/window_rig.h"

#include <QCheckBox>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

using namespace qvx;
using qvxtest::WindowRig;

namespace {

struct Simulator {
    QProcess process;
    quint16 tcpPort = 0;
    QString pty;

    bool start(const QString &dir, const QStringList &extra)
    {
        pty = dir + QStringLiteral("/ttyQVX");
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(qEnvironmentVariable("QVX_BIN_DIR") + QStringLiteral("/qvxsim"),
                      QStringList{QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:0"),
                                  QStringLiteral("--pty"), pty, QStringLiteral("--empty")} +
                          extra);
        QByteArray out;
        QDeadlineTimer deadline(10000);
        while (!out.contains("ready\n") && !deadline.hasExpired()) {
            process.waitForReadyRead(100);
            out += process.readAll();
        }
        const auto m =
            QRegularExpression(QStringLiteral("tcp 127\\.0\\.0\\.1:(\\d+)")).match(QString::fromLatin1(out));
        if (m.hasMatch())
            tcpPort = static_cast<quint16>(m.captured(1).toUInt());
        if (!out.contains("ready\n"))
            qWarning() << "simulator did not start:" << out;
        return out.contains("ready\n") && tcpPort != 0;
    }
    ~Simulator()
    {
        process.terminate();
        if (!process.waitForFinished(3000)) {
            process.kill();
            process.waitForFinished(2000);
        }
    }
};

// Presses "Read registers" and returns every log line up to and including
// the "Respond:" line that ends the reply window.
QStringList readRegisters(WindowRig &w, bool input, int start, int count)
{
    auto *checkInput = w.child<QCheckBox>("checkInput");
    if (checkInput->isChecked() != input)
        checkInput->click();
    w.setText("EditInputAddress", QString::number(start));
    w.setText("EditInputCount", QString::number(count));
    w.log.clear();
    w.answered([&] { w.click("BitBtn3"); }, 5000);
    return w.log;
}

} // namespace

class TstSimE2e : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(QFileInfo::exists(qEnvironmentVariable("QVX_BIN_DIR") + QStringLiteral("/qvxsim")));
    }

    // Registers 800.. hold the meter IDs and input registers 1000.. the
    // collected values: 126 registers come back in full over both links.
    void reads126RegistersOverTcpThenOverRtu()
    {
        WindowRig w;
        Simulator sim;
        QVERIFY(sim.start(w.dir.path(), {}));
        auto *grid = w.child<StringGrid>("gridInputRegisters");

        QVERIFY(w.connectTcp(sim.tcpPort));
        QStringList lines = readRegisters(w, false, 800, 126);
        QVERIFY(lines.last().startsWith(QStringLiteral("Respond:")));
        QCOMPARE(grid->rowCount(), 126 + 2);
        // An empty meter table reads as all-FF IDs.
        QCOMPARE(grid->cell(0, 1), QStringLiteral("800"));
        QCOMPARE(grid->cell(1, 1), QStringLiteral("FF"));
        QCOMPARE(grid->cell(3, 126), QStringLiteral("FF"));
        QCOMPARE(grid->cell(0, 126), QStringLiteral("925"));

        w.click("Butt_ethernetDisconnect");
        QTRY_VERIFY_WITH_TIMEOUT(!w.tcpConnected(), 5000);

        QVERIFY(w.openPort(sim.pty));
        lines = readRegisters(w, true, 1000, 126);
        QCOMPARE(lines.first(), QStringLiteral("SENT:") + hexBytes(rtuFrame(1, pduReadInput(1000, 126))));
        QCOMPARE(lines.size(), 2);
        // Rows accumulate below the first read.
        QCOMPARE(grid->rowCount(), 2 * 126 + 2);
        QCOMPARE(grid->cell(0, 127), QStringLiteral("1000"));
        QCOMPARE(grid->cell(0, 252), QStringLiteral("1125"));
        QVERIFY(w.dialogs.dialogs.raised.isEmpty());
    }

    // What a technician sees for the faults met on real lines, over RTU.
    void lineFaults_data()
    {
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("message"); // the line above "Respond:", or empty
        QTest::addColumn<bool>("replyLogged");

        QTest::newRow("clean") << QStringList{} << 4 << QString() << true;
        QTest::newRow("trailing zero is filler")
            << QStringList{QStringLiteral("--fault-trailing-zero")} << 4 << QString() << true;
        // A reply from another unit does not answer the request: not decoded.
        QTest::newRow("other unit ignored") << QStringList{QStringLiteral("--fault-other-unit")} << 0
                                            << QStringLiteral("Reply ignored: unit 2, expected 1") << true;
        QTest::newRow("stray leading byte") << QStringList{QStringLiteral("--fault-stray-byte")} << 0
                                            << QStringLiteral("Error in CRC field\r") << true;
        QTest::newRow("corrupted crc") << QStringList{QStringLiteral("--fault-crc")} << 0
                                       << QStringLiteral("Error in CRC field\r") << true;
        QTest::newRow("2-wire echo") << QStringList{QStringLiteral("--fault-echo")} << 0
                                     << QStringLiteral("Error in CRC field\r") << true;
        QTest::newRow("exception reply")
            << QStringList{QStringLiteral("--fault-exception"), QStringLiteral("100")} << 0
            << QStringLiteral("Error - SLAVE DEVICE FAILURE\r") << true;
        QTest::newRow("dropped reply")
            << QStringList{QStringLiteral("--fault-drop")} << 0 << QString() << false;
        QTest::newRow("reply later than the window")
            << QStringList{QStringLiteral("--fault-delay"), QStringLiteral("1500")} << 0 << QString()
            << false;
    }
    void lineFaults()
    {
        QFETCH(QStringList, faults);
        QFETCH(int, rows);
        QFETCH(QString, message);
        QFETCH(bool, replyLogged);

        WindowRig w;
        Simulator sim;
        QVERIFY(sim.start(w.dir.path(), faults));
        QVERIFY(w.openPort(sim.pty));

        const QStringList lines = readRegisters(w, false, 100, 4);
        QVERIFY(!lines.isEmpty());
        const QString respond = lines.last();
        QVERIFY(respond.startsWith(QStringLiteral("Respond:")));
        QCOMPARE(respond == QStringLiteral("Respond:"), !replyLogged);
        QCOMPARE(w.child<StringGrid>("gridInputRegisters")->rowCount(), rows + 2);
        if (message.isEmpty()) {
            QCOMPARE(lines.size(), 1);
        } else {
            QCOMPARE(lines.size(), 2);
            QCOMPARE(lines.first(), message);
        }
        const bool crcFailed = message.startsWith(QStringLiteral("Error in CRC field"));
        QCOMPARE(w.session().status(2), crcFailed ? QStringLiteral("Error in CRC field") : QString());
    }
};

QTEST_MAIN(TstSimE2e)
#include "tst_sim_e2e.moc"
