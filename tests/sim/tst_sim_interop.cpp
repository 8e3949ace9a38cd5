// The qvxsim executable against Modbus clients we did not write (mbpoll,
// pymodbus 3 under the system Python), over TCP on 127.0.0.1 and over its
// pseudo-terminal; raw 126-register transfers; --help; --state; and a clean
// stop on SIGTERM.  Every process is bounded in time and killed at the end.
#include "transport/modbus.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

static const QString SystemPython = QStringLiteral("/usr/bin/python3");

struct Sim {
    std::unique_ptr<QProcess> process;
    quint16 port = 0;
    QString output;
};

class TstSimInterop : public QObject {
    Q_OBJECT

    QString binDir() const
    {
        return qEnvironmentVariable("QVX_BIN_DIR", QCoreApplication::applicationDirPath());
    }
    QString sourceDir() const
    {
        return qEnvironmentVariable("QVX_SOURCE_DIR", QStringLiteral(QVX_SOURCE_DIR_FALLBACK));
    }

    // Starts qvxsim and waits for its "ready" line; the TCP port it chose is
    // read from its "tcp" line.
    bool start(Sim &sim, const QStringList &args)
    {
        sim.output.clear();
        sim.port = 0;
        sim.process = std::make_unique<QProcess>();
        sim.process->setProgram(binDir() + QStringLiteral("/qvxsim"));
        sim.process->setArguments(args);
        sim.process->start();
        if (!sim.process->waitForStarted(5000))
            return false;
        const bool ready = QTest::qWaitFor(
            [&] {
                sim.output += QString::fromLocal8Bit(sim.process->readAllStandardOutput());
                return sim.output.contains(QStringLiteral("ready\n")) ||
                       sim.process->state() == QProcess::NotRunning;
            },
            10000);
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("^tcp .*:(\\d+)$"), QRegularExpression::MultilineOption)
                .match(sim.output);
        if (m.hasMatch())
            sim.port = quint16(m.captured(1).toUInt());
        return ready && sim.output.contains(QStringLiteral("ready\n"));
    }

    static void stop(Sim &sim)
    {
        if (!sim.process || sim.process->state() == QProcess::NotRunning)
            return;
        sim.process->terminate();
        if (!sim.process->waitForFinished(5000)) {
            sim.process->kill();
            sim.process->waitForFinished(2000);
        }
    }

    // Runs a client to its end (at most 30 s) and returns its output.
    static QString run(const QString &program, const QStringList &args, int *exitCode)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(program, args);
        if (!p.waitForFinished(30000)) {
            p.kill();
            p.waitForFinished(2000);
            *exitCode = -1;
        } else {
            *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        }
        return QString::fromLocal8Bit(p.readAll());
    }

    static QByteArray transact(QTcpSocket &socket, const QByteArray &request, qsizetype replySize)
    {
        socket.write(request);
        QByteArray got;
        if (!QTest::qWaitFor(
                [&] {
                    got += socket.readAll();
                    return got.size() >= replySize;
                },
                5000))
            qWarning("reply incomplete: %lld bytes", qlonglong(got.size()));
        return got;
    }

    Sim sim_;
    QTemporaryDir dir_;

private slots:
    void init()
    {
        QVERIFY(dir_.isValid());
        // Parity none: a pseudo-terminal carries none, and clients that ask
        // for parity may be refused by the terminal driver.
        QVERIFY2(start(sim_, {"--tcp", "127.0.0.1:0", "--pty", dir_.filePath("ttyQVX"), "--parity", "none"}),
                 qPrintable(sim_.output));
        QVERIFY(sim_.port != 0);
    }
    void cleanup() { stop(sim_); }

    void mbpollOverTcp()
    {
        if (QStandardPaths::findExecutable("mbpoll").isEmpty())
            QSKIP("mbpoll is not installed");
        const QString port = QString::number(sim_.port);
        int rc = 0;
        QString out = run(
            "mbpoll",
            {"-m", "tcp", "-p", port, "-a", "1", "-0", "-1", "-r", "100", "127.0.0.1", "--", "1234"}, &rc);
        QVERIFY2(rc == 0 && out.contains("Written 1 references"), qPrintable(out));
        out = run("mbpoll", {"-m", "tcp", "-p", port, "-a", "1", "-0", "-1", "-r", "100", "127.0.0.1"}, &rc);
        QVERIFY2(rc == 0 && out.contains(QRegularExpression("\\[100\\]:\\s+1234")), qPrintable(out));
        out = run("mbpoll",
                  {"-m", "tcp", "-p", port, "-a", "1", "-0", "-1", "-r", "1000", "-c", "125", "-t", "3",
                   "127.0.0.1"},
                  &rc);
        QVERIFY2(rc == 0 && out.contains(QRegularExpression("\\[1124\\]:")), qPrintable(out));
        out = run(
            "mbpoll",
            {"-m", "tcp", "-p", port, "-a", "1", "-0", "-1", "-r", "1128", "127.0.0.1", "--", "1", "2", "3"},
            &rc);
        QVERIFY2(rc == 0 && out.contains("Written 3 references"), qPrintable(out));
    }

    void mbpollOverThePseudoTerminal()
    {
        if (QStandardPaths::findExecutable("mbpoll").isEmpty())
            QSKIP("mbpoll is not installed");
        const QString tty = dir_.filePath("ttyQVX");
        const QStringList rtu{"-m", "rtu", "-b", "9600", "-P", "none", "-a", "1", "-0", "-1"};
        int rc = 0;
        QString out = run("mbpoll", rtu + QStringList{"-r", "100", tty, "--", "321"}, &rc);
        QVERIFY2(rc == 0 && out.contains("Written 1 references"), qPrintable(out));
        out = run("mbpoll", rtu + QStringList{"-r", "100", "-c", "1", tty}, &rc);
        QVERIFY2(rc == 0 && out.contains(QRegularExpression("\\[100\\]:\\s+321")), qPrintable(out));
        out = run("mbpoll", rtu + QStringList{"-t", "3", "-r", "1000", "-c", "10", tty}, &rc);
        QVERIFY2(rc == 0 && out.contains(QRegularExpression("\\[1009\\]:")), qPrintable(out));
        out = run("mbpoll", rtu + QStringList{"-r", "200", tty}, &rc);
        QVERIFY2(out.contains("Illegal data address", Qt::CaseInsensitive), qPrintable(out));
    }

    void pymodbus_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("tcp") << "tcp";
        QTest::newRow("rtu over pty") << "rtu";
    }
    void pymodbus()
    {
        QFETCH(QString, mode);
        int rc = 0;
        run(SystemPython, {"-c", "import pymodbus.client"}, &rc);
        if (rc != 0)
            QSKIP("pymodbus is not installed for /usr/bin/python3");
        const QString target = mode == "tcp" ? QString::number(sim_.port) : dir_.filePath("ttyQVX");
        const QString out =
            run(SystemPython, {sourceDir() + "/tests/sim/pymodbus_client.py", mode, target}, &rc);
        QVERIFY2(rc == 0, qPrintable(out));
    }

    void raw126RegisterTransfersOverTcp()
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, sim_.port);
        QVERIFY(socket.waitForConnected(5000));
        QByteArray data;
        for (int i = 0; i < 252; ++i)
            data.append(char(255 - i));
        QCOMPARE(transact(socket, qvx::tcpFrame(1, 1, qvx::pduWriteMultiple(2000, 252, data)), 12),
                 qvx::tcpFrame(1, 1, QByteArray::fromHex("1007D0007E")));
        const QByteArray reply =
            transact(socket, qvx::tcpFrame(2, 1, qvx::pduReadHolding(2000, 126)), 9 + 252);
        QCOMPARE(reply.size(), 9 + 252);
        QCOMPARE(reply.mid(9), data);
        QCOMPARE(transact(socket, qvx::tcpFrame(3, 1, qvx::pduReadInput(1000, 126)), 9 + 252).size(),
                 9 + 252);
    }

    void raw126RegisterReadOverThePseudoTerminal()
    {
        const int fd =
            ::open(QFile::encodeName(dir_.filePath("ttyQVX")).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        const QByteArray request = qvx::rtuFrame(1, qvx::pduReadInput(1000, 126));
        QCOMPARE(::write(fd, request.constData(), size_t(request.size())), ssize_t(request.size()));
        QByteArray got;
        const bool complete = QTest::qWaitFor(
            [&] {
                char buf[512];
                const ssize_t n = ::read(fd, buf, sizeof buf);
                if (n > 0)
                    got.append(buf, n);
                return got.size() >= 5 + 252;
            },
            5000);
        ::close(fd);
        QVERIFY(complete);
        QCOMPARE(got.size(), 5 + 252);
        QCOMPARE(got.left(3), QByteArray::fromHex("0104FC"));
        QCOMPARE(qvx::ModbusCrc16(got), uint16_t(0)); // a frame with its CRC checks to zero
    }

    void sigtermStopsCleanlyAndRemovesTheLink()
    {
        const QString link = dir_.filePath("ttyQVX");
        QVERIFY(QFileInfo(link).isSymLink());
        sim_.process->terminate();
        QVERIFY(sim_.process->waitForFinished(5000));
        QCOMPARE(sim_.process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim_.process->exitCode(), 0);
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    void helpDocumentsEveryOption()
    {
        int rc = 0;
        const QString help = run(binDir() + "/qvxsim", {"--help"}, &rc);
        QCOMPARE(rc, 0);
        for (const char *option : {"--tcp",
                                   "--pty",
                                   "--serial",
                                   "--baud",
                                   "--parity",
                                   "--unit",
                                   "--state",
                                   "--empty",
                                   "--pace",
                                   "--verbose",
                                   "--meter-pty",
                                   "--meter-serial",
                                   "--meter-address",
                                   "--meter-baud",
                                   "--meter-parity",
                                   "--meter-data-bits",
                                   "--meter-ident",
                                   "--meter-mode-c",
                                   "--meter-history",
                                   "--meter-bad-bcc",
                                   "--meter-lf-only",
                                   "--meter-leading-del",
                                   "--meter-parity-on-wire",
                                   "--fault-delay",
                                   "--fault-drop",
                                   "--fault-crc",
                                   "--fault-trailing-zero",
                                   "--fault-split",
                                   "--fault-stray-byte",
                                   "--fault-stray-value",
                                   "--fault-echo",
                                   "--fault-other-unit",
                                   "--fault-exception",
                                   "--fault-exception-code",
                                   "--fault-every"})
            QVERIFY2(help.contains(QLatin1String(option)), option);
        QVERIFY(help.contains("takes effect after the reply"));
    }

    void stateIsKeptAcrossRuns()
    {
        stop(sim_);
        const QString state = dir_.filePath("state.json");
        Sim first;
        QVERIFY(start(first, {"--tcp", "127.0.0.1:0", "--state", state}));
        {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, first.port);
            QVERIFY(socket.waitForConnected(5000));
            QCOMPARE(transact(socket, qvx::tcpFrame(1, 1, qvx::pduWriteSingle(100, 0x01, 0x23)), 12).size(),
                     12);
        }
        stop(first);
        QCOMPARE(first.process->exitCode(), 0);
        Sim second;
        QVERIFY(start(second, {"--tcp", "127.0.0.1:0", "--state", state}));
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, second.port);
        QVERIFY(socket.waitForConnected(5000));
        QCOMPARE(transact(socket, qvx::tcpFrame(2, 1, qvx::pduReadHolding(100, 1)), 11),
                 qvx::tcpFrame(2, 1, QByteArray::fromHex("03020123")));
        stop(second);
    }

    // A mode C meter with the habits of real ones, as a client on its line
    // sees it: DEL, identification with LF alone, nothing until the
    // acknowledgement, then the block with history lines and a wrong BCC.
    void meterHabitsOnItsLine()
    {
        const QString link = dir_.filePath("ttyMeter");
        Sim meter;
        QVERIFY2(start(meter, {"--tcp", "127.0.0.1:0", "--meter-pty", link, "--meter-ident", "/ABC5X",
                               "--meter-mode-c", "--meter-history", "3", "--meter-bad-bcc", "--meter-lf-only",
                               "--meter-leading-del"}),
                 qPrintable(meter.output));
        const int fd = ::open(QFile::encodeName(link).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        termios t{};
        ::tcgetattr(fd, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
        auto readUntil = [fd](const QByteArray &end, int ms) {
            QByteArray got;
            (void)QTest::qWaitFor(
                [&] {
                    char buf[512];
                    const ssize_t n = ::read(fd, buf, sizeof buf);
                    if (n > 0)
                        got.append(buf, n);
                    // An empty end waits for ETX and the byte after it.
                    if (end.isEmpty())
                        return got.size() > 1 && got.at(got.size() - 2) == 3;
                    return got.endsWith(end);
                },
                ms);
            return got;
        };
        QCOMPARE(::write(fd, "/?!\r\n", 5), 5);
        QCOMPARE(readUntil("\n", 5000), QByteArray("\x7f/ABC5X\n"));
        QVERIFY(readUntil("never", 500).isEmpty());
        QCOMPARE(::write(fd,
                         "\x06"
                         "050\r\n",
                         6),
                 6);
        const QByteArray block = readUntil({}, 10000);
        ::close(fd);
        stop(meter);
        QVERIFY(block.startsWith('\x02'));
        QVERIFY(!block.contains('\r'));
        QCOMPARE(block.count("*0"), 3);
        uint8_t bcc = 0;
        for (qsizetype i = 1; i < block.size() - 1; ++i)
            bcc ^= uint8_t(block.at(i));
        QVERIFY(bcc != uint8_t(block.back()));
    }

    void refusesABadOption()
    {
        int rc = 0;
        const QString out = run(binDir() + "/qvxsim", {"--unit", "300"}, &rc);
        QCOMPARE(rc, 2);
        QVERIFY(out.contains("--unit"));
    }
};

QTEST_GUILESS_MAIN(TstSimInterop)
#include "tst_sim_interop.moc"
