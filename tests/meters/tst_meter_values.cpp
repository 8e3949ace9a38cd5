// Collected values as plain code: the data bytes of checked replies decoded
// in 32- and 64-bit mode, and the values-log append.
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

class TstMeterValues : public QObject {
    Q_OBJECT

private slots:
    // Unit, function, byte count and data; "-" is no value.
    void decodesCheckedReplies_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<bool>("wide");
        QTest::addColumn<QString>("values");
        QTest::newRow("32: 1234") << hex("01 04 04 00 00 04 D2") << false << "1234";
        QTest::newRow("32: all FF") << hex("01 04 04 FF FF FF FF") << false << "4294967295";
        QTest::newRow("32: unsigned") << hex("01 04 08 80 00 00 00 00 00 00 01") << false << "2147483648 1";
        QTest::newRow("64: -2, all FF")
            << hex("01 04 10 FF FF FF FF FF FF FF FE FF FF FF FF FF FF FF FF") << true << "-2 -";
        QTest::newRow("64: extremes") << hex("01 04 10 7F FF FF FF FF FF FF FF 80 00 00 00 00 00 00 00")
                                      << true << "9223372036854775807 -9223372036854775808";
        QTest::newRow("odd count") << hex("01 04 06 00 00 00 05 00 06") << false << "5";
        QTest::newRow("64: too short") << hex("01 04 04 00 00 00 05") << true << "";
        QTest::newRow("count beyond bytes") << hex("01 04 F0 00 00 00 05 00 00 00 06") << false << "5 6";
        QTest::newRow("count below bytes") << hex("01 04 04 00 00 00 05 00 00 00 06") << false << "5";
    }
    void decodesCheckedReplies()
    {
        QFETCH(QByteArray, frame);
        QFETCH(bool, wide);
        QFETCH(QString, values);
        const ReplyCheck check = CheckReply(withCrc(frame));
        QVERIFY(check.pass);
        QStringList got;
        for (const auto &v : decodeValues(replyDataBytes(check.frame), wide))
            got << (v ? QString::number(*v) : QStringLiteral("-"));
        QCOMPARE(got.join(' '), values);
    }

    // The bytes after an append equal those of reading the file as lines,
    // adding the block's lines and writing everything back with CR LF.
    void appendLeavesWhatARewriteWould_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("empty file") << QByteArray() << QByteArray();
        QTest::newRow("earlier blocks") << QByteArray("\r\nS\r\n1;4;\r\n") << QByteArray("\r\nS\r\n1;4;\r\n");
        QTest::newRow("no last line end") << QByteArray("note") << QByteArray("note\r\n");
        QTest::newRow("last line end CR") << QByteArray("note\r") << QByteArray("note\r\n");
        QTest::newRow("latin-1 kept") << QByteArray("\xE9\xFF\r\n") << QByteArray("\xE9\xFF\r\n");
    }
    void appendLeavesWhatARewriteWould()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QTemporaryDir dir;
        QFile f(dir.filePath(QStringLiteral("logvalues.txt")));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(before) == before.size());
        f.close();
        const QByteArray block = valuesLogBlock(QStringLiteral("T"), {"1", ""}, {"5", ""});
        QCOMPARE(block, QByteArray("\r\nT\r\n1;5;\r\n;;\r\n"));
        QVERIFY(appendValuesLog(f.fileName(), block));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), after + block);
    }

    void appendNeedsAnExistingFileAndLeavesItOnFailure()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("files/logvalues.txt"));
        QVERIFY(!appendValuesLog(path, "x"));
        QVERIFY(!QDir(dir.filePath(QStringLiteral("files"))).exists());
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("files/logvalues.txt")));
        QVERIFY(!appendValuesLog(path, "x")); // a folder is no log file

        const QString file = dir.filePath(QStringLiteral("logvalues.txt"));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(QByteArray(100, 'a')) == 100);
        f.close();
        // A file size limit makes the write fail half-way, as a full disk
        // does, whatever rights the test runs with.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limited = saved;
        limited.rlim_cur = 150;
        QVERIFY(setrlimit(RLIMIT_FSIZE, &limited) == 0);
        const bool appended = appendValuesLog(file, QByteArray(200, 'b'));
        setrlimit(RLIMIT_FSIZE, &saved);
        QVERIFY(!appended);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray(100, 'a'));
    }
};

QTEST_GUILESS_MAIN(TstMeterValues)
#include "tst_meter_values.moc"
