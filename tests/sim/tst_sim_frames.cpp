// Pure pieces of the simulator: the RTU request framer, the byte-level
// faults and reply plans, and the meter's IEC 62056-21 telegrams.
#include "common/hex.h"
#include "sim/faults.h"
#include "sim/frames.h"
#include "sim/meter.h"
#include "transport/modbus.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

using qvxtest::hex;

using namespace qvxsim;

class TstSimFrames : public QObject {
    Q_OBJECT
private slots:
    void framerFindsRequests_data()
    {
        QTest::addColumn<QList<QByteArray>>("pieces");
        QTest::addColumn<QList<QByteArray>>("frames");
        const QByteArray read = qvx::rtuFrame(1, qvx::pduReadHolding(7, 1));
        const QByteArray write = qvx::rtuFrame(1, qvx::pduWriteMultiple(55400, 4, hex("0A 01 02 03")));
        const QByteArray id = qvx::rtuFrame(1, qvx::pduReadDeviceId(2));
        const QByteArray unknown = qvx::rtuFrame(1, hex("41 12 34"));
        QByteArray big;
        for (int i = 0; i < 252; ++i)
            big.append(char(i));
        const QByteArray write126 = qvx::rtuFrame(1, qvx::pduWriteMultiple(1000, 252, big));
        QTest::newRow("whole") << QList<QByteArray>{read} << QList<QByteArray>{read};
        QTest::newRow("byte by byte") << [&] {
            QList<QByteArray> l;
            for (char c : write)
                l.append(QByteArray(1, c));
            return l;
        }() << QList<QByteArray>{write};
        QTest::newRow("two in one piece")
            << QList<QByteArray>{read + write} << QList<QByteArray>{read, write};
        QTest::newRow("split across pieces")
            << QList<QByteArray>{read.left(3), read.mid(3) + id.left(2), id.mid(2)}
            << QList<QByteArray>{read, id};
        QTest::newRow("garbage before")
            << QList<QByteArray>{hex("00 FF 13") + read} << QList<QByteArray>{read};
        QTest::newRow("unknown function by crc")
            << QList<QByteArray>{unknown + read} << QList<QByteArray>{unknown, read};
        QTest::newRow("126-register write")
            << QList<QByteArray>{write126.left(100), write126.mid(100)} << QList<QByteArray>{write126};
        QTest::newRow("no wait for an impossible length")
            << QList<QByteArray>{hex("01 17 00 00 00 01 00 00 00 01 FF") + read} << QList<QByteArray>{read};
        QTest::newRow("other unit still a frame")
            << QList<QByteArray>{qvx::rtuFrame(9, qvx::pduReadHolding(7, 1))}
            << QList<QByteArray>{qvx::rtuFrame(9, qvx::pduReadHolding(7, 1))};
    }
    void framerFindsRequests()
    {
        QFETCH(QList<QByteArray>, pieces);
        QFETCH(QList<QByteArray>, frames);
        RtuFramer framer;
        QList<QByteArray> found;
        for (const QByteArray &p : pieces)
            found += framer.feed(p);
        QCOMPARE(found, frames);
        QCOMPARE(framer.pending(), 0);
    }

    void framerDropsACorruptedFrame()
    {
        QByteArray bad = qvx::rtuFrame(1, qvx::pduReadHolding(7, 1));
        bad[4] = char(bad[4] ^ 0x40);
        const QByteArray good = qvx::rtuFrame(1, qvx::pduReadHolding(100, 1));
        RtuFramer framer;
        QCOMPARE(framer.feed(bad + good), QList<QByteArray>{good});
    }

    void framerWaitsForTheRest()
    {
        RtuFramer framer;
        QVERIFY(framer.feed(qvx::rtuFrame(1, qvx::pduReadHolding(7, 1)).left(5)).isEmpty());
        QCOMPARE(framer.pending(), 5);
        framer.clear();
        QCOMPARE(framer.pending(), 0);
    }

    // 32 KiB of line noise, as it arrives (a pseudo-terminal read at a
    // time), byte by byte and in one piece: whatever the noise makes up
    // has a good CRC, the framer never holds more than a frame's worth, and
    // after the silence that ends the noise the next request comes out whole.
    // (bench/sim_rtu_noise_bench times it.)
    void framerWadesThroughNoise_data()
    {
        QTest::addColumn<int>("piece");
        QTest::newRow("pty reads") << 512;
        QTest::newRow("byte by byte") << 1;
        QTest::newRow("one piece") << 32768;
    }
    void framerWadesThroughNoise()
    {
        QFETCH(int, piece);
        QRandomGenerator random(24);
        QByteArray noise(32768, Qt::Uninitialized);
        for (char &c : noise)
            c = char(random.bounded(256));
        RtuFramer framer;
        for (qsizetype at = 0; at < noise.size(); at += piece) {
            for (const QByteArray &frame : framer.feed(noise.mid(at, piece)))
                QCOMPARE(frame.right(2), qvx::withCrc(frame.chopped(2)).right(2));
            QVERIFY(framer.pending() <= 2 * RtuFramer::MaxFrame);
        }
        framer.clear();
        const QByteArray read = qvx::rtuFrame(1, qvx::pduReadHolding(7, 1));
        QCOMPARE(framer.feed(read), QList<QByteArray>{read});
        QCOMPARE(framer.pending(), 0);
    }

    void tcpFramerSplitsByLength()
    {
        const QByteArray a = qvx::tcpFrame(1, 1, qvx::pduReadHolding(7, 1));
        const QByteArray b = qvx::tcpFrame(2, 1, qvx::pduReadInput(1000, 126));
        TcpFramer framer;
        QList<QByteArray> adus;
        QVERIFY(framer.feed(a + b.left(4), &adus));
        QVERIFY(framer.feed(b.mid(4), &adus));
        QCOMPARE(adus, (QList<QByteArray>{a, b}));
        QVERIFY(!framer.feed(hex("00 01 00 00 00 00 01"), &adus));
    }

    void byteFaults_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray request = qvx::rtuFrame(1, qvx::pduReadHolding(7, 1));
        const QByteArray reply = qvx::rtuFrame(1, hex("03 02 00 80"));
        QByteArray badCrc = reply;
        badCrc[badCrc.size() - 2] = char(~uint8_t(badCrc[badCrc.size() - 2]));
        badCrc[badCrc.size() - 1] = char(~uint8_t(badCrc[badCrc.size() - 1]));
        QTest::newRow("none") << 0 << reply;
        QTest::newRow("trailing zero") << 1 << reply + QByteArray(1, '\0');
        QTest::newRow("stray leading byte") << 2 << QByteArray(1, '\0') + reply;
        QTest::newRow("corrupted crc") << 3 << badCrc;
        QTest::newRow("echo then reply") << 4 << request + reply;
        QTest::newRow("other unit with good crc") << 5 << qvx::rtuFrame(2, hex("03 02 00 80"));
        QTest::newRow("exception for address") << 6 << qvx::rtuFrame(1, hex("83 04"));
        QTest::newRow("exception elsewhere") << 7 << reply;
    }
    void byteFaults()
    {
        QFETCH(int, kind);
        QFETCH(QByteArray, expected);
        Faults f;
        f.trailingZero = kind == 1;
        f.strayLeadingByte = kind == 2;
        f.corruptCrc = kind == 3;
        f.echoRequest = kind == 4;
        f.otherUnit = kind == 5;
        if (kind == 6)
            f.exceptionRanges = {{5, 8}};
        if (kind == 7)
            f.exceptionRanges = {{8, 100}};
        const QByteArray request = qvx::rtuFrame(1, qvx::pduReadHolding(7, 1));
        const QByteArray reply = qvx::rtuFrame(1, hex("03 02 00 80"));
        QCOMPARE(applyByteFaults(f, Framing::Rtu, request, reply).toHex(' '), expected.toHex(' '));
    }

    void byteFaultsOnTcp()
    {
        const QByteArray request = qvx::tcpFrame(77, 1, qvx::pduReadHolding(7, 1));
        const QByteArray reply = qvx::tcpFrame(77, 1, hex("03 02 00 80"));
        Faults f;
        f.corruptCrc = true; // no CRC on TCP
        QCOMPARE(applyByteFaults(f, Framing::Tcp, request, reply), reply);
        f.otherUnit = true;
        f.trailingZero = true;
        QCOMPARE(applyByteFaults(f, Framing::Tcp, request, reply),
                 qvx::tcpFrame(77, 2, hex("03 02 00 80")) + '\0');
        Faults e;
        e.exceptionRanges = {{7, 7}};
        e.exceptionCode = 6;
        QCOMPARE(applyByteFaults(e, Framing::Tcp, request, reply), qvx::tcpFrame(77, 1, hex("83 06")));
    }

    void replyPlans()
    {
        const QByteArray bytes = hex("01 03 02 00 80 B8 44");
        Faults f;
        QCOMPARE(planReply(f, bytes).size(), 1);
        f.delayMs = 300;
        f.splitPauseMs = 50;
        const QList<Chunk> plan = planReply(f, bytes);
        QCOMPARE(plan.size(), 2);
        QCOMPARE(plan[0].pauseMs, 300);
        QCOMPARE(plan[1].pauseMs, 50);
        QCOMPARE(plan[0].bytes + plan[1].bytes, bytes);
        f.dropReplies = true;
        QVERIFY(planReply(f, bytes).isEmpty());
    }

    void faultsHitEveryNthReplyButExceptionsAlways()
    {
        Faults f;
        f.dropReplies = true;
        f.exceptionRanges = {{7, 7}};
        f.every = 3;
        QVERIFY(!f.forReply(1).dropReplies);
        QVERIFY(!f.forReply(2).dropReplies);
        QVERIFY(f.forReply(3).dropReplies);
        QCOMPARE(f.forReply(1).exceptionRanges, f.exceptionRanges);
    }

    void addressLists_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("ranges");
        QTest::newRow("one") << "7" << true << 1;
        QTest::newRow("mixed") << "7,100,1000-1125" << true << 3;
        QTest::newRow("reversed") << "10-5" << false << 0;
        QTest::newRow("word") << "seven" << false << 0;
        QTest::newRow("too big") << "70000" << false << 0;
        QTest::newRow("empty") << "" << false << 0;
    }
    void addressLists()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(int, ranges);
        QList<QPair<int, int>> r;
        QCOMPARE(parseAddressList(text, &r), ok);
        QCOMPARE(r.size(), ranges);
    }

    void meterAnswerHasBlockAndCorrectBcc()
    {
        const QByteArray a = buildMeterAnswer("/QVX5SIMMETER", {"1.8.0(0001234.567*kWh)", "32.7.0(230.1*V)"});
        QCOMPARE(a, QByteArray("/QVX5SIMMETER\r\n\x02"
                               "1.8.0(0001234.567*kWh)\r\n32.7.0(230.1*V)\r\n!\r\n\x03") +
                        char(iecBcc(a)));
        uint8_t x = 0;
        for (qsizetype i = a.indexOf('\x02') + 1; i <= a.indexOf('\x03'); ++i)
            x ^= uint8_t(a[i]);
        QCOMPARE(uint8_t(a.back()), x);
        QCOMPARE(iecBcc(QByteArray("\x02"
                                   "A\x03")),
                 uint8_t('A' ^ 0x03));
    }

    void meterDataLinesLookLikeAMeter()
    {
        SimMeter m("12345678");
        const QList<QByteArray> lines = m.dataLines(QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9)));
        QVERIFY(lines.contains("0.0.0(12345678)"));
        QVERIFY(lines.contains("0.9.1(07:08:09)"));
        const auto energy = std::find_if(lines.begin(), lines.end(),
                                         [](const QByteArray &l) { return l.startsWith("1.8.0("); });
        QVERIFY(energy != lines.end());
        QVERIFY2(QRegularExpression("^1\\.8\\.0\\(\\d{7}\\.\\d{3}\\*kWh\\)$")
                     .match(QString::fromLatin1(*energy))
                     .hasMatch(),
                 energy->constData());
    }

    void signOnParsing_data()
    {
        QTest::addColumn<QByteArray>("buffer");
        QTest::addColumn<bool>("found");
        QTest::addColumn<QByteArray>("address");
        QTest::addColumn<int>("consumed");
        QTest::newRow("with address")
            << QByteArray("/?12345678!\r\n") << true << QByteArray("12345678") << 13;
        QTest::newRow("empty address") << QByteArray("/?!\r\n") << true << QByteArray() << 5;
        QTest::newRow("noise before") << QByteArray("xx/?1!\r\n") << true << QByteArray("1") << 8;
        QTest::newRow("incomplete keeps start") << QByteArray("ab/?123") << false << QByteArray() << 2;
        QTest::newRow("no request") << QByteArray("hello") << false << QByteArray() << 5;
        QTest::newRow("lone slash kept") << QByteArray("zz/") << false << QByteArray() << 2;
        QTest::newRow("missing CR LF") << QByteArray("/?1!") << false << QByteArray() << 0;
    }
    void signOnParsing()
    {
        QFETCH(QByteArray, buffer);
        QFETCH(bool, found);
        QFETCH(QByteArray, address);
        QFETCH(int, consumed);
        const SignOn s = parseSignOn(buffer);
        QCOMPARE(s.found, found);
        QCOMPARE(s.address, address);
        QCOMPARE(int(s.consumed), consumed);
    }
};

QTEST_GUILESS_MAIN(TstSimFrames)
#include "tst_sim_frames.moc"
