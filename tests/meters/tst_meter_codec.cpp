// The meter programming encodings and the pure parts of their reply
// decoders: worked examples, edge cases and round trips.
#include "common/hex.h"
#include "meters/meter_codec.h"
#include "transport/modbus.h"

#include <QRandomGenerator>
#include <QTest>

using namespace qvx;
using qvxtest::hex;

namespace {

QString spaced(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

// A normal read reply of unit 1, function 3, carrying data.
QByteArray readReply(const QByteArray &data)
{
    QByteArray f = hex("01 03");
    f.append(static_cast<char>(data.size()));
    return withCrc(f + data);
}

} // namespace

class TstMeterCodec : public QObject {
    Q_OBJECT

private slots:
    void encodeMeterId_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("digits");
        QTest::addColumn<QString>("bytes");
        QTest::newRow("digits 1 to 8") << "12345678" << 8 << "12 34 56 78";
        QTest::newRow("filler last") << "1234567F" << 8 << "12 34 56 7F";
        QTest::newRow("filler first") << "F2345678" << 8 << "F2 34 56 78";
        QTest::newRow("other letters are filler") << "12AB5678" << 8 << "12 FF 56 78";
        QTest::newRow("all filler") << "FFFFFFFF" << 8 << "FF FF FF FF";
        QTest::newRow("16 digits") << "1234567890123456" << 16 << "12 34 56 78 90 12 34 56";
        QTest::newRow("short text padded") << "123" << 8 << "12 3F FF FF";
    }
    void encodeMeterId()
    {
        QFETCH(QString, text);
        QFETCH(int, digits);
        QFETCH(QString, bytes);
        QCOMPARE(spaced(EncodeMeterId(text, digits)), bytes);
    }

    void decodeMeterId_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("pos");
        QTest::addColumn<int>("digits");
        QTest::addColumn<QString>("text");
        QTest::newRow("8 digits") << hex("12 34 56 78") << 0 << 8 << "12345678";
        QTest::newRow("hex letters upper-case") << hex("12 ab 56 78") << 0 << 8 << "12AB5678";
        QTest::newRow("at a position")
            << hex("01 03 08 12 34 56 78 90 12 34 56") << 3 << 16 << "1234567890123456";
        QTest::newRow("short input") << hex("12 34") << 0 << 8 << "1234";
    }
    void decodeMeterId()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, pos);
        QFETCH(int, digits);
        QFETCH(QString, text);
        QCOMPARE(DecodeMeterId(bytes, pos, digits), text);
    }

    void encodeRegisterEntry_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("longObis");
        QTest::addColumn<QString>("bytes");
        // Long OBIS off.
        QTest::newRow("1.8.0") << "1.8.0" << false << "01 08 00 00";
        QTest::newRow("1.8.0.255") << "1.8.0.255" << false << "01 08 00 FF";
        QTest::newRow("prefix is a field when off") << "1-1:1.8.0" << false << "FF 08 00 00";
        QTest::newRow("fifth number dropped") << "1.2.3.4.5" << false << "01 02 03 04";
        QTest::newRow("300 is 255") << "300.1" << false << "FF 01 00 00";
        QTest::newRow("empty row") << "" << false << "FF 00 00 00";
        QTest::newRow("empty field") << "1..8" << false << "01 FF 08 00";
        QTest::newRow("trailing dot") << "1.8.0." << false << "01 08 00 FF";
        QTest::newRow("negative low 8 bits") << "-2.-256" << false << "FE 00 00 00";
        QTest::newRow("very large") << "99999999999999999999.1" << false << "FF 01 00 00";
        QTest::newRow("very negative") << "-99999999999999999999" << false << "01 00 00 00";
        // Long OBIS on.
        QTest::newRow("long 1-1:1.8.0") << "1-1:1.8.0" << true << "01 08 00 11";
        QTest::newRow("long F replaced") << "0-0:96.1.0.255" << true << "60 01 00 00";
        QTest::newRow("one char after colon") << "1-1:5" << true << "FF 00 00 11";
        QTest::newRow("two chars after colon") << "1-1:12" << true << "0C 00 00 11";
        QTest::newRow("nothing after colon") << "1-1:" << true << "FF 00 00 11";
        QTest::newRow("colon not 4th is short") << "12-1:1.8.0" << true << "FF 08 00 00";
        QTest::newRow("last colon counts") << "1-1:1.8.0:2" << true << "FF 08 FF 00";
        QTest::newRow("character 2 unchecked") << "2:3:1.8.0" << true << "01 08 00 23";
        QTest::newRow("letters as codes") << "A-B:1.8.0" << true << "01 08 00 22";
    }
    void encodeRegisterEntry()
    {
        QFETCH(QString, text);
        QFETCH(bool, longObis);
        QFETCH(QString, bytes);
        QCOMPARE(spaced(EncodeRegisterEntry(text, longObis)), bytes);
    }

    void decodeRegisterEntry_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("longObis");
        QTest::addColumn<QString>("text");
        QTest::newRow("long") << hex("01 08 00 11") << true << "1-1:1.8.0.0";
        QTest::newRow("long off shows F") << hex("01 08 00 11") << false << "1.8.0.17";
        QTest::newRow("long, fourth byte 0") << hex("01 08 00 00") << true << "1.8.0.0";
        QTest::newRow("empty row") << hex("FF 00 00 00") << false << "255.0.0.0";
        QTest::newRow("FF nibbles") << hex("01 08 00 FF") << true << "15-15:1.8.0.0";
        QTest::newRow("FF off") << hex("01 08 00 FF") << false << "1.8.0.255";
        QTest::newRow("read back") << hex("60 01 00 00") << true << "96.1.0.0";
    }
    void decodeRegisterEntry()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, longObis);
        QFETCH(QString, text);
        QCOMPARE(DecodeRegisterEntry(bytes, longObis), text);
    }

    // Every ID of digits and "F" comes back as it was typed: all 2^8 places
    // of the filler in 8 digits, and random IDs of 8 and 16 digits.
    void meterIdRoundTrip()
    {
        QRandomGenerator rng(8);
        auto randomId = [&](int digits, unsigned fillerMask) {
            QString id;
            for (int i = 0; i < digits; ++i)
                id += (fillerMask >> (i % 16)) & 1 ? QChar(u'F') : QChar(u'0' + rng.bounded(10));
            return id;
        };
        QStringList ids;
        for (unsigned mask = 0; mask < 256; ++mask)
            ids << randomId(8, mask);
        for (int i = 0; i < 5000; ++i) {
            ids << randomId(8, rng.bounded(256u));
            ids << randomId(16, rng.bounded(65536u));
        }
        for (const QString &id : ids) {
            const int digits = int(id.size());
            const QByteArray bytes = EncodeMeterId(id, digits);
            QCOMPARE(bytes.size(), digits / 2);
            QCOMPARE(DecodeMeterId(bytes, 0, digits), id);
        }
    }

    // Canonical four-number codes round-trip with long OBIS off; with it on,
    // an A-B: prefix of single digits comes back with F as 0.  Every
    // 4-byte entry decoded and encoded again gives its own bytes.
    void obisRoundTrip()
    {
        const int edges[] = {0, 1, 9, 10, 99, 100, 254, 255};
        QRandomGenerator rng(3);
        for (int i = 0; i < 8 * 8 * 8 * 8 + 5000; ++i) {
            int n[4];
            for (int k = 0; k < 4; ++k)
                n[k] = i < 4096 ? edges[(i >> (3 * k)) & 7] : int(rng.bounded(256));
            const QString code = QStringLiteral("%1.%2.%3.%4").arg(n[0]).arg(n[1]).arg(n[2]).arg(n[3]);
            QCOMPARE(DecodeRegisterEntry(EncodeRegisterEntry(code, false), false), code);

            const int a = n[3] % 10, b = n[0] % 10;
            const QString prefixed = QStringLiteral("%1-%2:").arg(a).arg(b) + code;
            const QString back = (a || b ? QStringLiteral("%1-%2:").arg(a).arg(b) : QString()) +
                                 QStringLiteral("%1.%2.%3.0").arg(n[0]).arg(n[1]).arg(n[2]);
            QCOMPARE(DecodeRegisterEntry(EncodeRegisterEntry(prefixed, true), true), back);

            QByteArray bytes;
            for (int k = 0; k < 4; ++k)
                bytes.append(static_cast<char>(n[k]));
            QCOMPARE(EncodeRegisterEntry(DecodeRegisterEntry(bytes, false), false), bytes);
        }
    }

    void decodeMeterIds_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("digits");
        QTest::addColumn<bool>("pass");
        QTest::addColumn<QStringList>("ids");

        // 30 IDs of 16 digits read as 8-digit IDs: only 32 are kept.
        QTest::newRow("at most 32") << readReply(QByteArray(240, '\x11')) << 8 << true
                                    << QStringList(32, QStringLiteral("11111111"));
        QTest::newRow("filler slot listed as is")
            << readReply(hex("FF FF FF FF 12 34 56 78")) << 8 << true << QStringList{"FFFFFFFF", "12345678"};
        QTest::newRow("partial entry ignored")
            << readReply(hex("12 34 56 78 90 12")) << 8 << true << QStringList{"12345678"};
        // The byte count claims more than arrived: the CRC is not an ID.
        QTest::newRow("count beyond data")
            << withCrc(hex("01 03 08 12 34 56 78")) << 8 << true << QStringList{"12345678"};
        QTest::newRow("bad CRC") << hex("01 03 04 12 34 56 78 00 01") << 8 << false << QStringList{};
    }
    void decodeMeterIds()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, digits);
        QFETCH(bool, pass);
        QFETCH(QStringList, ids);
        const MeterIdsReply r = DecodeMeterIds(reply, digits);
        QCOMPARE(r.check.pass, pass);
        QCOMPARE(r.ids, ids);
    }

    void decodeRegisterEntries_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("longObis");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("long on") << readReply(hex("01 08 00 11 01 08 00 00")) << true
                                 << QStringList{"1-1:1.8.0.0", "1.8.0.0"};
        QTest::newRow("one entry, fourth byte 0, long on")
            << readReply(hex("60 01 00 00")) << true << QStringList{"96.1.0.0"};
        QTest::newRow("half entry ignored")
            << readReply(hex("01 08 00 00 02 08")) << false << QStringList{"1.8.0.0"};
    }
    void decodeRegisterEntries()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, longObis);
        QFETCH(QStringList, texts);
        QCOMPARE(DecodeRegisterList(reply, longObis).texts, texts);
        QCOMPARE(DecodeRegisterRow(reply, longObis).texts, texts);
    }
};

QTEST_APPLESS_MAIN(TstMeterCodec)
#include "tst_meter_codec.moc"
