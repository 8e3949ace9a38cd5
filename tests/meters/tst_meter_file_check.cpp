// What the gateway can hold: the ID and OBIS rules, and the strict reading
// of a meter data file with its problems named by line.
#include "meters/meter_data_file.h"
#include "meters/meter_file_check.h"

#include <QTest>

using namespace qvx;

namespace {

// The file of a table with the given slots filled.
QByteArray fileOf(const MeterTable &t)
{
    return meterDataFileBytes(t);
}

} // namespace

class TstMeterFileCheck : public QObject {
    Q_OBJECT

private slots:
    void meterIds_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<int>("digits");
        QTest::addColumn<QString>("problem"); // empty: taken
        QTest::newRow("8 digits") << "12345678" << 8 << "";
        QTest::newRow("filler digit") << "1234567F" << 8 << "";
        QTest::newRow("erased slot") << "FFFFFFFF" << 8 << "";
        QTest::newRow("16 digits") << "1234567890123456" << 16 << "";
        QTest::newRow("word") << "hello" << 8 << "\"h\" is not a digit or F";
        QTest::newRow("other hex letter") << "12AB5678" << 8 << "\"A\" is not a digit or F";
        QTest::newRow("lower-case filler") << "1234567f" << 8 << "\"f\" is not a digit or F";
        QTest::newRow("22 digits") << "1234567890123456789012" << 8
                                   << "22 characters; the gateway takes 8-digit";
        QTest::newRow("8 in 16-digit mode") << "12345678" << 16 << "8 characters; the gateway takes 16-digit";
        QTest::newRow("space") << "1234 678" << 8 << "\" \" is not a digit";
        QTest::newRow("empty") << "" << 8 << "empty";
    }
    void meterIds()
    {
        QFETCH(QString, id);
        QFETCH(int, digits);
        QFETCH(QString, problem);
        const std::optional<QString> p = meterIdProblem(id, digits);
        if (problem.isEmpty())
            QVERIFY2(!p, qPrintable(p.value_or(QString())));
        else
            QVERIFY2(p && p->startsWith(problem), qPrintable(p.value_or(QStringLiteral("(taken)"))));
    }

    void obisCodes_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<bool>("longObis");
        QTest::addColumn<QString>("problem"); // empty: taken
        QTest::newRow("empty row") << "" << false << "";
        QTest::newRow("three groups") << "1.8.0" << false << "";
        QTest::newRow("four groups") << "1.8.0.255" << false << "";
        QTest::newRow("one group") << "96" << false << "";
        QTest::newRow("erased row read back") << "255.0.0.0" << false << "";
        QTest::newRow("leading zero") << "01.8.0" << false << "";
        QTest::newRow("long form") << "1-1:1.8.0" << true << "";
        QTest::newRow("long form, four groups") << "0-0:96.1.0.255" << true << "";
        QTest::newRow("short code with long on") << "1.8.0" << true << "";
        QTest::newRow("word") << "abc" << false << "\"abc\" is not a number";
        QTest::newRow("above 255") << "999.999.999" << false << "999 is above 255";
        QTest::newRow("256") << "1.256.0" << false << "256 is above 255";
        QTest::newRow("five groups") << "1.2.3.4.5" << false << "5 groups";
        QTest::newRow("two dots") << "1..8" << false << "an empty group";
        QTest::newRow("trailing dot") << "1.8.0." << false << "an empty group";
        QTest::newRow("negative") << "-1.8.0" << false << "\"-1\" is not a number";
        QTest::newRow("space") << " 1.8.0" << false << "\" 1\" is not a number";
        QTest::newRow("prefix with long off") << "1-1:1.8.0" << false << "an \"A-B:\" prefix needs long OBIS";
        QTest::newRow("one character after prefix") << "1-1:5" << true << "one character after the prefix";
        QTest::newRow("two-digit medium") << "12-1:1.8.0" << true << "a prefix is one digit";
        QTest::newRow("colon elsewhere") << "1.8:0" << true << "a prefix is one digit";
        QTest::newRow("long, group above 255") << "1-1:1.300.0" << true << "300 is above 255";
        QTest::newRow("F read back as a prefix") << "1.8.0.255" << true << "with long OBIS the fourth group";
        QTest::newRow("F of 0 with long on") << "1.8.0.0" << true << "";
    }
    void obisCodes()
    {
        QFETCH(QString, code);
        QFETCH(bool, longObis);
        QFETCH(QString, problem);
        const std::optional<QString> p = obisCodeProblem(code, longObis);
        if (problem.isEmpty())
            QVERIFY2(!p, qPrintable(p.value_or(QString())));
        else
            QVERIFY2(p && p->startsWith(problem), qPrintable(p.value_or(QStringLiteral("(taken)"))));
    }

    // A file written by the window reads back whole; its empty blocks are
    // not part of it.
    void savedFileHoldsItsSlots()
    {
        MeterTable t;
        t.setId(2, QStringLiteral("87654321"));
        t.setCode(2, 1, QStringLiteral("1.8.0"));
        t.setCode(2, 63, QStringLiteral("2.8.0.0"));
        t.setId(5, QStringLiteral("FFFFFFFF"));
        const MeterFileCheck c = checkMeterDataFile(fileOf(t));
        QVERIFY2(c.ok(), qPrintable(c.problems.join('\n')));
        QCOMPARE(c.held, (QVector<int>{2, 5}));
        QCOMPARE(c.idDigits, 8);
        QCOMPARE(c.table.code(2, 63), QStringLiteral("2.8.0.0"));
        QVERIFY(meterDataFormatProblems(c, 8, false).isEmpty());
        QCOMPARE(meterDataFormatProblems(c, 16, false).size(), 2);
        QVERIFY(meterDataFormatProblems(c, 16, false).first().startsWith("line 66: slot 2 meter ID"));
    }

    // Files that are not what the format says: each problem by its line.
    void badFiles_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("problem");
        MeterTable t;
        t.setId(1, QStringLiteral("12345678"));
        t.setCode(1, 1, QStringLiteral("1.8.0"));
        const QByteArray good = fileOf(t);
        auto replaced = [&](const QByteArray &from, const QByteArray &to) {
            QByteArray b = good;
            const qsizetype at = b.indexOf(from);
            return b.replace(at, from.size(), to);
        };
        QTest::newRow("garbage row") << replaced("2;;", "garbage") << "line 3: slot 1 row 2 is \"2;\"";
        QTest::newRow("extra field") << replaced("1;1.8.0;", "1;1.8.0;x;") << "line 2: slot 1 row 1";
        QTest::newRow("row number out of place") << replaced("2;;", "7;;") << "line 3: slot 1 row 2";
        QTest::newRow("code not stored")
            << replaced("1;1.8.0;", "1;abc;") << "line 2: slot 1 row 1 \"abc\": \"abc\" is not a number";
        QTest::newRow("ID line without ;")
            << replaced("12345678;", "12345678") << "line 1: slot 1's ID line is the meter ID and \";\"";
        QTest::newRow("word as ID") << replaced("12345678;", "hello;") << "line 1: slot 1 meter ID \"hello\"";
        QTest::newRow("22-digit ID") << replaced("12345678;", "1234567890123456789012;")
                                     << "line 1: slot 1 meter ID \"1234567890123456789012\": 22 characters";
        QTest::newRow("codes without ID")
            << replaced("12345678;", ";") << "line 1: slot 1 has OBIS codes but no meter ID";
        QTest::newRow("not empty after row 63") << replaced("63;;\r\n\r\n", "63;;\r\nx\r\n")
                                                << "line 65: the line after slot 1's row 63 is empty";
        QTest::newRow("control character")
            << replaced("1;1.8.0;", "1;1.8\t0;") << "line 2: control character 0x09";
        QTest::newRow("ends inside a block")
            << good.left(good.indexOf("40;;")) << "line 41: slot 1's block ends early";
        QTest::newRow("beyond 32 blocks") << good + "x\r\n"
                                          << "line 2081: a meter data file has 2080 lines";
        QTest::newRow("empty") << QByteArray() << "the file is empty";
        QByteArray utf16("\xFF\xFE", 2);
        for (char c : good)
            utf16 += QByteArray(1, c) + QByteArray(1, '\0');
        QTest::newRow("UTF-16") << utf16 << "the file is UTF-16 text";
        QTest::newRow("UTF-16 without mark") << utf16.mid(2) << "the file holds NUL bytes";
        QTest::newRow("UTF-8 mark") << QByteArray("\xEF\xBB\xBF") + good
                                    << "the file starts with a UTF-8 byte-order mark";
    }
    void badFiles()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, problem);
        const MeterFileCheck c = checkMeterDataFile(bytes);
        QVERIFY(!c.ok());
        QVERIFY(c.held.isEmpty());
        QVERIFY2(c.problems.first().startsWith(problem), qPrintable(c.problems.join('\n')));
    }

    // A file of one block, its last empty line dropped by an editor, and LF
    // line ends read as the window's own.
    void shortFilesAndLineEnds()
    {
        MeterTable t;
        t.setId(1, QStringLiteral("12345678"));
        QByteArray one = meterDataFileBytes(t, 1);
        QVERIFY(checkMeterDataFile(one).ok());
        QVERIFY(checkMeterDataFile(one.chopped(2)).ok());
        QVERIFY(checkMeterDataFile(one.replace("\r\n", "\n")).ok());
        QCOMPARE(checkMeterDataFile(one).held, QVector<int>{1});
    }

    // A garbage file names its first problems, not every line.
    void problemsAreCapped()
    {
        QByteArray b;
        for (int i = 0; i < 2080; ++i)
            b += "x\r\n";
        const MeterFileCheck c = checkMeterDataFile(b);
        QCOMPARE(c.problems.size(), 51);
        QVERIFY(c.problems.last().startsWith("... and "));
    }

    void tableProblems()
    {
        MeterTable t;
        t.setId(3, QStringLiteral("hello"));
        t.setCode(3, 5, QStringLiteral("abc"));
        t.setId(31, QStringLiteral("1234567890123456"));
        t.setCode(7, 1, QStringLiteral("1.8.0"));
        const QStringList p = meterTableProblems(t, {3, 7, 31}, 16, false);
        QCOMPARE(p.size(), 4);
        QVERIFY(p.at(0).startsWith("slot 3 id \"hello\": \"h\" is not a digit"));
        QVERIFY(p.at(1).startsWith("slot 3 row 5 \"abc\""));
        QVERIFY(p.at(2).startsWith("slot 7 id: empty, but the slot has OBIS codes"));
        QVERIFY(p.at(3).startsWith("slot 31: the gateway has 30 slots"));
    }
};

QTEST_GUILESS_MAIN(TstMeterFileCheck)
#include "tst_meter_file_check.moc"
