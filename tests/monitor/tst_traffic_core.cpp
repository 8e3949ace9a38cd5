// The monitor's plain pieces: frame grouping, the frame decoder, the capture
// file (read back here and, when installed, by tshark), the values log reader
// and the series thinning.
#include "common/hex.h"
#include "monitor/pcapng_writer.h"
#include "monitor/traffic_decode.h"
#include "monitor/traffic_frame.h"
#include "monitor/trend_data.h"
#include "transport/modbus.h"

#include <QProcess>
#include <QtEndian>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace qvx;
using qvxtest::hex;

namespace {

struct Chunk {
    TrafficDir dir;
    TrafficLink link;
    qint64 usec;
    QByteArray bytes;
};

// "T" or "R", the link, the time in microseconds, the bytes.
Chunk tx(qint64 t, const QByteArray &b, TrafficLink l = TrafficLink::Rtu)
{
    return {TrafficDir::Tx, l, t, b};
}
Chunk rx(qint64 t, const QByteArray &b, TrafficLink l = TrafficLink::Rtu)
{
    return {TrafficDir::Rx, l, t, b};
}

QStringList group(int baud, const QList<Chunk> &chunks)
{
    FrameGrouper g;
    g.setBaudRate(baud);
    QList<TrafficFrame> frames;
    for (const Chunk &c : chunks)
        frames += g.push(c.dir, c.link, c.usec, c.bytes);
    frames += g.flush(0, 0, true);
    QStringList out;
    for (const TrafficFrame &f : frames)
        out << trafficDirText(f.dir) + QLatin1Char(' ') + QString::fromLatin1(f.bytes.toHex(' ').toUpper());
    return out;
}

// The blocks of a pcapng file: type and body.
struct Block {
    quint32 type;
    QByteArray body;
};
QList<Block> readPcapng(const QByteArray &file)
{
    QList<Block> out;
    qsizetype at = 0;
    while (at + 12 <= file.size()) {
        const quint32 type = qFromLittleEndian<quint32>(file.constData() + at);
        const quint32 len = qFromLittleEndian<quint32>(file.constData() + at + 4);
        if (len < 12 || len % 4 || at + len > file.size() ||
            qFromLittleEndian<quint32>(file.constData() + at + len - 4) != len)
            return {};
        out << Block{type, file.mid(at + 8, len - 12)};
        at += len;
    }
    return at == file.size() ? out : QList<Block>{};
}

} // namespace

Q_DECLARE_METATYPE(QList<Chunk>)

class TstTrafficCore : public QObject {
    Q_OBJECT

private slots:
    void silence()
    {
        QCOMPARE(rtuSilenceUsec(9600), 4011); // 3.5 x 11 bits at 9600 Bd
        QCOMPARE(rtuSilenceUsec(19200), 2006);
        QCOMPARE(rtuSilenceUsec(115200), 1750); // fixed above 19200 Bd
    }

    void grouping_data()
    {
        QTest::addColumn<int>("baud");
        QTest::addColumn<QList<Chunk>>("chunks");
        QTest::addColumn<QStringList>("frames");
        const QByteArray req = hex("01 03 00 00 00 01 84 0A");
        const QByteArray rep = hex("01 03 02 00 2A 38 5B");
        QTest::newRow("request and reply")
            << 9600 << QList<Chunk>{tx(0, req), rx(20000, rep)}
            << QStringList{"TX 01 03 00 00 00 01 84 0A", "RX 01 03 02 00 2A 38 5B"};
        // Bytes written one at a time leave back to back: one frame.
        QList<Chunk> singly;
        for (int i = 0; i < req.size(); ++i)
            singly << tx(i * 3, req.mid(i, 1));
        QTest::newRow("written singly") << 9600 << singly << QStringList{"TX 01 03 00 00 00 01 84 0A"};
        // A reply read in two pieces, the second 3 characters later: one frame;
        // 10 ms of silence before the second piece at 9600 Bd: two.
        QTest::newRow("pieces within 3.5 chars")
            << 9600 << QList<Chunk>{rx(10000, rep.left(3)), rx(10000 + 4 * 1146 + 3000, rep.mid(3))}
            << QStringList{"RX 01 03 02 00 2A 38 5B"};
        QTest::newRow("pieces after silence")
            << 9600 << QList<Chunk>{rx(10000, rep.left(3)), rx(10000 + 4 * 1146 + 10000, rep.mid(3))}
            << QStringList{"RX 01 03 02", "RX 00 2A 38 5B"};
        QTest::newRow("echo split off")
            << 9600 << QList<Chunk>{tx(0, req), rx(30000, req + rep)}
            << QStringList{"TX 01 03 00 00 00 01 84 0A", "RX 01 03 00 00 00 01 84 0A",
                           "RX 01 03 02 00 2A 38 5B"};
        const QByteArray t1 = hex("03 E8 00 00 00 06 01 03 00 00 00 01");
        const QByteArray t2 = hex("03 E8 00 00 00 05 01 03 02 00 2A");
        QTest::newRow("tcp by header length")
            << 19200
            << QList<Chunk>{tx(0, t1, TrafficLink::Tcp), rx(5, t2.left(4), TrafficLink::Tcp),
                            rx(900000, t2.mid(4) + t2.left(3), TrafficLink::Tcp)}
            << QStringList{"TX 03 E8 00 00 00 06 01 03 00 00 00 01", "RX 03 E8 00 00 00 05 01 03 02 00 2A",
                           "RX 03 E8 00"};
        QTest::newRow("iec lines and block")
            << 300
            << QList<Chunk>{tx(0, "/?1!\r\n", TrafficLink::Iec),
                            rx(900000,
                               "/ABC5\\2id\r\n\x02"
                               "1.8.0(1)\r\n!\r\n\x03",
                               TrafficLink::Iec),
                            rx(900001, "\x1b", TrafficLink::Iec)}
            << QStringList{"TX 2F 3F 31 21 0D 0A", "RX 2F 41 42 43 35 5C 32 69 64 0D 0A",
                           "RX 02 31 2E 38 2E 30 28 31 29 0D 0A", "RX 21 0D 0A", "RX 03 1B"};
    }
    void grouping()
    {
        QFETCH(int, baud);
        QFETCH(QList<Chunk>, chunks);
        QFETCH(QStringList, frames);
        QCOMPARE(group(baud, chunks), frames);
    }

    void idleFlushWaitsForTheEventLoop()
    {
        FrameGrouper g;
        g.push(TrafficDir::Rx, TrafficLink::Rtu, 1000, hex("01 03"));
        QVERIFY(g.flush(1000 + 20000, 50000).isEmpty());
        QCOMPARE(g.flush(1000 + 60000, 50000).size(), 1);
        QVERIFY(!g.pending());
    }

    void decoding_data()
    {
        QTest::addColumn<int>("link");
        QTest::addColumn<bool>("sent");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("lastRequest");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("error");
        const int rtu = int(TrafficLink::Rtu), tcp = int(TrafficLink::Tcp), iec = int(TrafficLink::Iec);
        const QByteArray req = withCrc(hex("11 04 03 E8 00 7E"));
        QTest::newRow("read input request") << rtu << true << req << QByteArray() << "17"
                                            << "Read Input Registers: start 1000, count 126" << false;
        QTest::newRow("read reply") << rtu << false << withCrc(hex("01 03 02 00 2A")) << QByteArray() << "1"
                                    << "Read Holding Registers: 2 bytes" << false;
        QTest::newRow("write single")
            << rtu << true << withCrc(hex("01 06 00 64 00 01")) << QByteArray() << "1"
            << "Write Single Register: address 100, value 1" << false;
        QTest::newRow("write multiple")
            << rtu << true << withCrc(hex("01 10 D8 68 00 02 04 0A 01 02 03")) << QByteArray() << "1"
            << "Write Multiple Registers: start 55400, count 2, 4 bytes" << false;
        QTest::newRow("exception") << rtu << false << withCrc(hex("01 84 02")) << QByteArray() << "1"
                                   << "Exception 2 (Illegal data address) to Read Input Registers" << true;
        QTest::newRow("crc error") << rtu << false << hex("01 03 02 00 2A 00 00") << QByteArray() << "1"
                                   << "Read Holding Registers: 2 bytes; CRC error" << true;
        QTest::newRow("incomplete") << rtu << false << hex("01 03 04 00 2A") << QByteArray() << "1"
                                    << "Read Holding Registers: 4 bytes; incomplete" << true;
        QTest::newRow("stray byte") << rtu << false << QByteArray(1, '\xFF') + withCrc(hex("01 03 02 00 2A"))
                                    << QByteArray() << "1"
                                    << "Read Holding Registers: 2 bytes; stray byte before the frame" << true;
        QTest::newRow("echo") << rtu << false << req << req << "17"
                              << "Read Input Registers: start 1000, count 126; echo of the request" << true;
        QTest::newRow("device id") << rtu << true << withCrc(hex("01 2B 0E 01 00")) << QByteArray() << "1"
                                   << "Read Device Identification: code 1, object 0" << false;
        QTest::newRow("tcp request") << tcp << true << hex("03 E8 00 00 00 06 01 03 00 0A 00 02")
                                     << QByteArray() << "1"
                                     << "id 1000: Read Holding Registers: start 10, count 2" << false;
        QTest::newRow("tcp cut short")
            << tcp << false << hex("03 E8 00 00 00 07 01 03 04 00 2A") << QByteArray() << "1"
            << "id 1000: Read Holding Registers: 4 bytes; incomplete" << true;
        QTest::newRow("iec sign-on") << iec << true << QByteArray("/?12345678!\r\n") << QByteArray() << ""
                                     << "sign-on request, address \"12345678\"" << false;
        QTest::newRow("iec identification")
            << iec << false << QByteArray("/QVX5ABC\r\n") << QByteArray() << ""
            << "identification: manufacturer QVX, baud code 5, \"ABC\"" << false;
        QTest::newRow("iec ack") << iec << true
                                 << QByteArray("\x06"
                                               "050\r\n")
                                 << QByteArray() << ""
                                 << "acknowledgement: protocol 0, baud code 5, mode 0" << false;
        QTest::newRow("iec data") << iec << false
                                  << QByteArray("\x02"
                                                "1.8.0(1*kWh)\r\n")
                                  << QByteArray() << ""
                                  << "STX, data \"1.8.0(1*kWh)\"" << false;
    }
    void decoding()
    {
        QFETCH(int, link);
        QFETCH(bool, sent);
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, lastRequest);
        QFETCH(QString, unit);
        QFETCH(QString, text);
        QFETCH(bool, error);
        const TrafficFrame f{0, sent ? TrafficDir::Tx : TrafficDir::Rx, TrafficLink(link), bytes, {}};
        const FrameSummary s = decodeTrafficFrame(f, lastRequest);
        QCOMPARE(s.unit, unit);
        QCOMPARE(s.text, text);
        QCOMPARE(s.error, error);
    }

    void iecBlockCheck_data()
    {
        QTest::addColumn<char>("bcc");
        QTest::addColumn<QString>("text");
        // BCC: XOR of "!\r\n" and ETX.
        const char good = char('!' ^ '\r' ^ '\n' ^ 0x03);
        QTest::newRow("good") << good << "ETX, BCC correct";
        QTest::newRow("bad") << char(good ^ 1) << "ETX, BCC error";
    }
    void iecBlockCheck()
    {
        QFETCH(char, bcc);
        QFETCH(QString, text);
        FrameGrouper g;
        QList<TrafficFrame> frames =
            g.push(TrafficDir::Rx, TrafficLink::Iec, 0, QByteArray("\x02!\r\n\x03") + bcc);
        QCOMPARE(frames.size(), 2);
        QCOMPARE(decodeTrafficFrame(frames.last()).text, text);
    }

    void captureFile()
    {
        const QList<TrafficFrame> frames = {
            {1700000000000000, TrafficDir::Tx, TrafficLink::Rtu, withCrc(hex("01 03 00 0A 00 02")), {}},
            {1700000000020000, TrafficDir::Rx, TrafficLink::Rtu, withCrc(hex("01 03 04 00 01 00 02")), {}},
            {1700000001000000,
             TrafficDir::Tx,
             TrafficLink::Tcp,
             hex("03 E8 00 00 00 06 01 04 03 E8 00 02"),
             {}},
            {1700000001010000,
             TrafficDir::Rx,
             TrafficLink::Tcp,
             hex("03 E8 00 00 00 07 01 04 04 00 00 00 05"),
             {}},
            {1700000002000000, TrafficDir::Tx, TrafficLink::Rtu, withCrc(hex("01 06 00 64 00 01")), {}},
            {1700000003000000, TrafficDir::Tx, TrafficLink::Iec, QByteArray("/?1!\r\n"), {}},
        };
        PcapngWriter w;
        for (const TrafficFrame &f : frames)
            w.add(f, QStringLiteral("comment"));
        const QList<Block> blocks = readPcapng(w.bytes());
        QCOMPARE(blocks.size(), 2 + frames.size());
        QCOMPARE(blocks.at(0).type, 0x0A0D0D0Au);
        QCOMPARE(qFromLittleEndian<quint32>(blocks.at(0).body.constData()), 0x1A2B3C4Du);
        QCOMPARE(blocks.at(1).type, 1u);
        QCOMPARE(qFromLittleEndian<quint16>(blocks.at(1).body.constData()), quint16(228));
        for (int i = 0; i < frames.size(); ++i) {
            const QByteArray &epb = blocks.at(2 + i).body;
            QCOMPARE(blocks.at(2 + i).type, 6u);
            const quint64 ts = (quint64(qFromLittleEndian<quint32>(epb.constData() + 4)) << 32) |
                               qFromLittleEndian<quint32>(epb.constData() + 8);
            QCOMPARE(qint64(ts), frames.at(i).usec);
            const quint32 len = qFromLittleEndian<quint32>(epb.constData() + 12);
            const QByteArray ip = epb.mid(20, len);
            QCOMPARE(ip.at(0), char(0x45));
            const bool tcp = ip.at(9) == 6;
            QCOMPARE(tcp, frames.at(i).link == TrafficLink::Tcp);
            QCOMPARE(ip.mid(tcp ? 40 : 28), frames.at(i).bytes);
            const int port = frames.at(i).dir == TrafficDir::Tx
                                 ? qFromBigEndian<quint16>(ip.constData() + 22)
                                 : qFromBigEndian<quint16>(ip.constData() + 20);
            QCOMPARE(port, frames.at(i).link == TrafficLink::Iec ? 62056 : 502);
        }

        const QString tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
        if (tshark.isEmpty())
            QSKIP("tshark is not installed");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("t.pcapng"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(w.bytes());
        f.close();
        QProcess p;
        p.start(tshark, {"-r", path, "-d", "udp.port==502,mbrtu", "-T", "fields", "-E", "separator=,", "-e",
                         "frame.protocols", "-e", "modbus.func_code"});
        QVERIFY(p.waitForFinished(60000));
        const QStringList lines =
            QString::fromLatin1(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), frames.size());
        const char *const expect[] = {":mbrtu:modbus,3", ":mbrtu:modbus,3", ":mbtcp:modbus,4",
                                      ":mbtcp:modbus,4", ":mbrtu:modbus,6", ":data,"};
        for (int i = 0; i < frames.size(); ++i)
            QVERIFY2(lines.at(i).endsWith(QLatin1String(expect[i])), qPrintable(lines.at(i)));
    }

    void valuesLog()
    {
        const QByteArray text = "\r\n12:00:00,01.02.2026\r\n1;100;\r\n2;;\r\n3;7;\r\n"
                                "\r\nbroken stamp\r\n1;1;\r\n"
                                "\r\n12:00:10,01.02.2026\r\n1;x;\r\n2;5;\r\n"
                                "\r\n12:00:20,01.02.2026\r\nnot a row\r\n"
                                "\r\n12:00:30,01.02.2026\r\n1;130;"; // cut short: still read
        const ValuesLogContent c =
            readValuesLog(text, {QStringLiteral("HH:mm:ss")}, {QStringLiteral("dd.MM.yyyy")});
        QCOMPARE(c.blocksRead, 3);
        QCOMPARE(c.blocksSkipped, 2);
        QCOMPARE(c.readings.size(), 3);
        QCOMPARE(c.readings.at(0).time, QDateTime(QDate(2026, 2, 1), QTime(12, 0)));
        QCOMPARE(c.readings.at(0).values, (QVector<std::optional<qint64>>{100, std::nullopt, 7}));
        QCOMPARE(c.readings.at(1).values, (QVector<std::optional<qint64>>{std::nullopt, 5}));
        QCOMPARE(c.readings.at(2).values, (QVector<std::optional<qint64>>{130}));
    }

    // The log comes in pieces cut anywhere (a line, a CR LF, a number): the
    // readings are those of the whole text.
    void valuesLogInPieces_data()
    {
        QTest::addColumn<int>("piece");
        for (int n : {1, 2, 3, 7, 64, 1 << 20})
            QTest::newRow(qPrintable(QString::number(n))) << n;
    }
    void valuesLogInPieces()
    {
        QFETCH(int, piece);
        const QByteArray text = "\r\n12:00:00,01.02.2026\r\n1;100;\r\n2;;\r\n3;7;\r\n"
                                "\r\nbroken stamp\r\n1;1;\r\n"
                                "\r\n12:00:10,01.02.2026\r\n1;x;\r\n2;5;\r\n"
                                "\r\n12:00:20,01.02.2026\r\nnot a row\r\n"
                                "\r\n12:00:30,02.02.2026\r\n1;130;";
        const ValuesLogContent whole = readValuesLog(text, {QStringLiteral("HH:mm:ss")}, {});
        QList<ValuesLogReading> got;
        ValuesLogParser parser([&](ValuesLogReading &&r) { got << r; }, {QStringLiteral("HH:mm:ss")}, {});
        for (qsizetype at = 0; at < text.size(); at += piece)
            parser.feed(QByteArrayView(text).sliced(at, std::min<qsizetype>(piece, text.size() - at)));
        parser.finish();
        QCOMPARE(parser.blocksRead(), 3);
        QCOMPARE(parser.blocksSkipped(), 2);
        QCOMPARE(got.size(), whole.readings.size());
        for (qsizetype i = 0; i < got.size(); ++i) {
            QCOMPARE(got.at(i).time, whole.readings.at(i).time);
            QCOMPARE(got.at(i).values, whole.readings.at(i).values);
        }
        QCOMPARE(got.last().time, QDateTime(QDate(2026, 2, 2), QTime(12, 0, 30)));
    }

    // A line too long for any stamp or row is not kept: it spoils its block,
    // or ends it when it is blanks only.
    void overlongLines()
    {
        const QByteArray longText(ValuesLogParser::MaxLineBytes + 10, '7');
        const QByteArray blanks(ValuesLogParser::MaxLineBytes + 10, ' ');
        const QByteArray text = "12:00:00,01.02.2026\r\n1;" + longText + ";\r\n\r\n" +
                                "12:00:10,01.02.2026\r\n1;5;\r\n" + blanks +
                                "\r\n12:00:20,01.02.2026\r\n1;6;\r\n";
        for (int piece : {5, 1000, 100000}) {
            QList<ValuesLogReading> got;
            ValuesLogParser parser([&](ValuesLogReading &&r) { got << r; });
            for (qsizetype at = 0; at < text.size(); at += piece)
                parser.feed(QByteArrayView(text).sliced(at, std::min<qsizetype>(piece, text.size() - at)));
            parser.finish();
            QCOMPARE(parser.blocksSkipped(), 1);
            QCOMPARE(got.size(), 2);
            QCOMPARE(got.at(1).values, (QVector<std::optional<qint64>>{6}));
        }
    }

    // Columns: a row in every reading shares the times; a row with gaps gets
    // its own; readings out of time order come back in order.
    void valuesLogColumns()
    {
        const QDateTime t0(QDate(2026, 2, 1), QTime(12, 0));
        ValuesLogColumns c;
        c.add({t0.addSecs(20), {1, 10}});
        c.add({t0, {2, 20, std::nullopt}});
        c.add({t0.addSecs(10), {3, 30}});
        c.add({t0.addSecs(30), {4, 40, 400}});
        QCOMPARE(c.readingCount(), 4);
        QVERIFY(c.bytesHeld() > 0);
        const QList<ValuesLogColumns::RowPoints> rows = c.takeRows();
        QCOMPARE(c.readingCount(), 0);
        QCOMPARE(c.bytesHeld(), 0);
        QCOMPARE(rows.size(), 3);
        const double ms0 = double(t0.toMSecsSinceEpoch());
        QCOMPARE(rows.at(0).row, 1);
        QCOMPARE(rows.at(0).xs, (QVector<double>{ms0, ms0 + 10000, ms0 + 20000, ms0 + 30000}));
        QCOMPARE(rows.at(0).ys, (QVector<double>{2, 3, 1, 4}));
        QCOMPARE(rows.at(1).ys, (QVector<double>{20, 30, 10, 40}));
        // Rows with a value every time hold one copy of the times.
        QCOMPARE(rows.at(1).xs.constData(), rows.at(0).xs.constData());
        QCOMPARE(rows.at(2).row, 3);
        QCOMPARE(rows.at(2).xs, (QVector<double>{ms0 + 30000}));
        QCOMPARE(rows.at(2).ys, (QVector<double>{400}));
    }

    void quantities_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("quantity");
        QTest::newRow("energy") << "1.8.0"
                                << "energy";
        QTest::newRow("with medium") << "1-0:2.8.1"
                                     << "energy";
        QTest::newRow("power") << "1.7.0"
                               << "power";
        QTest::newRow("voltage L1") << "32.7.0"
                                    << "voltage";
        QTest::newRow("current L3") << "71.7.0"
                                    << "current";
        QTest::newRow("frequency") << "14.7.0"
                                   << "frequency";
        QTest::newRow("other") << "96.1.0"
                               << "";
        QTest::newRow("text") << "C.1.0"
                              << "";
    }
    void quantities()
    {
        QFETCH(QString, code);
        QFETCH(QString, quantity);
        QCOMPARE(obisQuantity(code), quantity);
        // Every one of these codes, as the meter table holds it, names its row.
        QVERIFY(!obisCodeName(code + QStringLiteral(".0")).isEmpty());
    }

    void thinningKeepsExtremes()
    {
        QVector<double> xs, ys;
        for (int i = 0; i < 100000; ++i) {
            xs << i;
            ys << (i == 4321 ? 1e9 : i == 777 ? -5.0 : 1.0);
        }
        const QList<QPointF> pts = thinSeries(xs, ys, 0, 99999, 100);
        QVERIFY(pts.size() <= 400);
        QVERIFY(std::any_of(pts.cbegin(), pts.cend(), [](const QPointF &p) { return p.y() == 1e9; }));
        QVERIFY(std::any_of(pts.cbegin(), pts.cend(), [](const QPointF &p) { return p.y() == -5.0; }));
        QVERIFY(std::is_sorted(pts.cbegin(), pts.cend(),
                               [](const QPointF &a, const QPointF &b) { return a.x() < b.x(); }));
        // A narrow range gives the points in it, and one either side.
        QCOMPARE(thinSeries(xs, ys, 10, 12, 100).size(), 5);
    }
};

QTEST_GUILESS_MAIN(TstTrafficCore)
#include "tst_traffic_core.moc"
