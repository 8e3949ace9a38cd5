// Collected values as plain code: decoding the data bytes of checked replies
// in 32- and 64-bit mode, the block a reading adds to the values log, and
// appending it to the log file.
#include "common/hex.h"
#include "meters/meter_values.h"
#include "meters/values_log.h"
#include "transport/modbus.h"
#include "transport/reply_check.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

using namespace qvx;
using qvxtest::hex;

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// The values as texts, "-" for "no value".
QStringList texts(const QVector<std::optional<qint64>> &values)
{
    QStringList out;
    for (const auto &v : values)
        out << (v ? QString::number(*v) : QStringLiteral("-"));
    return out;
}

// Limits the size of any file this process writes while it lives: a write
// then fails half-way whatever rights the test runs with.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit limited = m_saved;
        limited.rlim_cur = bytes;
        m_ok = setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_saved); }
    bool ok() const { return m_ok; }

private:
    rlimit m_saved{};
    bool m_ok = false;
};

} // namespace

class TstMeterValues : public QObject {
    Q_OBJECT

private slots:
    // Unit, function and byte count, then the data; the CRC is added here.
    void decodesTheDataOfACheckedReply_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<bool>("wide");
        QTest::addColumn<QStringList>("values");

        QTest::newRow("32: 1234") << hex("01 04 04 00 00 04 D2") << false << QStringList{"1234"};
        QTest::newRow("32: all FF is a number")
            << hex("01 04 04 FF FF FF FF") << false << QStringList{"4294967295"};
        QTest::newRow("32: high bit is not a sign")
            << hex("01 04 08 80 00 00 00 00 00 00 01") << false << QStringList{"2147483648", "1"};
        QTest::newRow("64: -2") << hex("01 04 08 FF FF FF FF FF FF FF FE") << true << QStringList{"-2"};
        QTest::newRow("64: all FF is no value")
            << hex("01 04 10 FF FF FF FF FF FF FF FF 00 00 00 00 00 00 00 07") << true
            << QStringList{"-", "7"};
        QTest::newRow("64: extremes") << hex("01 04 10 7F FF FF FF FF FF FF FF 80 00 00 00 00 00 00 00")
                                      << true << QStringList{"9223372036854775807", "-9223372036854775808"};
        QTest::newRow("32: odd count drops the cut value")
            << hex("01 04 06 00 00 00 05 00 06") << false << QStringList{"5"};
        QTest::newRow("64: a 32-bit value is too short")
            << hex("01 04 04 00 00 00 05") << true << QStringList{};
        QTest::newRow("count beyond the bytes received")
            << hex("01 04 F0 00 00 00 05 00 00 00 06") << false << QStringList{"5", "6"};
        QTest::newRow("count below the bytes received")
            << hex("01 04 04 00 00 00 05 00 00 00 06") << false << QStringList{"5"};
        QTest::newRow("no data") << hex("01 04 00") << false << QStringList{};
    }
    void decodesTheDataOfACheckedReply()
    {
        QFETCH(QByteArray, frame);
        QFETCH(bool, wide);
        QFETCH(QStringList, values);
        const ReplyCheck check = CheckReply(withCrc(frame));
        QVERIFY(check.pass);
        QCOMPARE(texts(decodeValues(replyDataBytes(check.frame), wide)), values);
    }

    void fullSlotRepliesFillTheirRows_data()
    {
        QTest::addColumn<bool>("wide");
        QTest::addColumn<int>("values");
        QTest::newRow("32-bit: 126 registers") << false << 63;
        QTest::newRow("64-bit: 120 registers") << true << 30;
    }
    void fullSlotRepliesFillTheirRows()
    {
        QFETCH(bool, wide);
        QFETCH(int, values);
        const int bytes = 2 * wholeSlotRegisters(wide);
        QByteArray frame = hex("01 04");
        frame += char(bytes);
        frame += QByteArray(bytes, '\x01');
        const ReplyCheck check = CheckReply(withCrc(frame));
        QVERIFY(check.pass);
        QCOMPARE(decodeValues(replyDataBytes(check.frame), wide).size(), values);
    }

    void logBlockIsEmptyLineStampAndRows()
    {
        const QByteArray block =
            valuesLogBlock(QStringLiteral("12:00:01,08.12.2026"), {"1", "", "3"}, {"1234", "", "-2"});
        QCOMPARE(block, QByteArray("\r\n12:00:01,08.12.2026\r\n1;1234;\r\n;;\r\n3;-2;\r\n"));
    }

    // The bytes after an append equal those of reading the file as lines,
    // adding the block's lines and writing everything back with CR LF.
    void appendLeavesWhatARewriteWould_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        const QByteArray b = "\r\nT\r\n1;5;\r\n";
        QTest::newRow("empty file") << QByteArray() << b;
        QTest::newRow("earlier blocks")
            << QByteArray("\r\nS\r\n1;4;\r\n") << QByteArray("\r\nS\r\n1;4;\r\n") + b;
        QTest::newRow("last line without line end") << QByteArray("note") << QByteArray("note\r\n") + b;
        QTest::newRow("last line ended by CR") << QByteArray("note\r") << QByteArray("note\r\n") + b;
        QTest::newRow("latin-1 bytes kept") << QByteArray("\xE9\xFF\r\n") << QByteArray("\xE9\xFF\r\n") + b;
    }
    void appendLeavesWhatARewriteWould()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("logvalues.txt"));
        QVERIFY(writeFile(path, before));
        QVERIFY(appendValuesLog(path, "\r\nT\r\n1;5;\r\n"));
        QCOMPARE(readAll(path), after);
    }

    void appendNeverCreatesTheFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("logvalues.txt"));
        QVERIFY(!appendValuesLog(path, "x"));
        QVERIFY(!QFile::exists(path));
        QVERIFY(!appendValuesLog(dir.filePath(QStringLiteral("files/logvalues.txt")), "x"));
        QVERIFY(!QDir(dir.filePath(QStringLiteral("files"))).exists());
        // A folder by that name is no log file either.
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("logvalues.txt")));
        QVERIFY(!appendValuesLog(path, "x"));
    }

    void failedAppendLeavesTheFileAsItWas()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("logvalues.txt"));
        const QByteArray before(100, 'a');
        QVERIFY(writeFile(path, before + "\r\n"));
        {
            FileSizeLimit limit(150);
            QVERIFY(limit.ok());
            QVERIFY(!appendValuesLog(path, QByteArray(200, 'b')));
        }
        QCOMPARE(readAll(path), before + "\r\n");
    }
};

QTEST_GUILESS_MAIN(TstMeterValues)
#include "tst_meter_values.moc"
