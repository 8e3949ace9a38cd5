// The readout's plain logic: lines built from receive events, the splitter
// and the value normalisation, as tables of cases.
#include "iec/iec_lines.h"
#include "iec/iec_parse.h"

#include <QTest>

using namespace qvx;

namespace {

// Rows as "obis|value" (the value normalised as the table shows it), so
// that a case reads as one line.
QStringList table(const QStringList &lines)
{
    QStringList out;
    for (const IecRow &r : SplitIecLines(lines))
        out << r.obis + QLatin1Char('|') + NormalizeIecValue(r.value);
    return out;
}

const QString STX = QStringLiteral("\x02");
const QString CR = QStringLiteral("\r");

} // namespace

class TstIecParse : public QObject {
    Q_OBJECT
private slots:
    void splitter_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("example readout")
            << QStringList{"/XXX5METER\r", STX + "1.8.0(0001234.567*kWh)\r", "0.0.0(4711)\r", "!\r", "\x03x"}
            << QStringList{STX + "1.8.0|0001234.567 kWh", "0.0.0|4711"};
        QTest::newRow("only the first group") << QStringList{"", "1.8.1(000123.4*kWh)(2015-01-01 00:00)\r"}
                                              << QStringList{"1.8.1|000123.4 kWh"};
        QTest::newRow("no parenthesis") << QStringList{"", "C.1.0\r"} << QStringList{"C.1.0|"};
        QTest::newRow("typed without CR loses its last character")
            << QStringList{"", "C.1.0"} << QStringList{"C.1.|"};
        QTest::newRow("four characters skipped") << QStringList{"", "F(0)"} << QStringList{};
        QTest::newRow("five characters parsed") << QStringList{"", "F(00)\r"} << QStringList{"F|00"};
        QTest::newRow("line 0 never parsed") << QStringList{"1.8.0(1*kWh)\r"} << QStringList{};
        QTest::newRow("empty view") << QStringList{} << QStringList{};
        QTest::newRow("continuation line") << QStringList{"", "(00012)\r"} << QStringList{"|00012"};
        QTest::newRow("no closing parenthesis")
            << QStringList{"", "1.8.0(0012.5*kWh\r"} << QStringList{"1.8.0|0012.5 kWh"};
        QTest::newRow("closing parenthesis as last character")
            << QStringList{"", "1.8.0(12)"} << QStringList{"1.8.0|12"};
        QTest::newRow("opening parenthesis as last character")
            << QStringList{"", "1.8.0("} << QStringList{"1.8.0|"};
        QTest::newRow("leading spaces kept") << QStringList{"", "  1.8.0(5)\r"} << QStringList{"  1.8.0|5"};
        QTest::newRow("every star a space") << QStringList{"", "X(1*2*3)\r"} << QStringList{"X|1 2 3"};
        QTest::newRow("empty group") << QStringList{"", "1.8.0()\r"} << QStringList{"1.8.0|"};
    }
    void splitter()
    {
        QFETCH(QStringList, lines);
        QFETCH(QStringList, rows);
        QCOMPARE(table(lines), rows);
    }

    // The bytes of receive events, "|" marking where one event ends (answers
    // split anywhere are the window test's).
    void capture_data()
    {
        QTest::addColumn<QByteArray>("events");
        QTest::addColumn<int>("startIndex");
        QTest::addColumn<QList<QByteArray>>("lines");
        QTest::addColumn<int>("endIndex");
        using L = QList<QByteArray>;
        QTest::newRow("Latin-1 and NUL")
            << QByteArray("\xe9\xff\x00x", 4) << 0 << L{QByteArray("\xe9\xff\x00x", 4)} << 0;
        QTest::newRow("empty lines") << QByteArray("\n\n") << 0 << L{"", "", ""} << 2;
        QTest::newRow("index past the end goes to the last line")
            << QByteArray("x\ny") << 7 << L{"x", "y"} << 1;
        QTest::newRow("negative index means line 0") << QByteArray("a\nb") << -1 << L{"a", "b"} << 1;
    }
    void capture()
    {
        QFETCH(QByteArray, events);
        QFETCH(int, startIndex);
        QFETCH(QList<QByteArray>, lines);
        QFETCH(int, endIndex);
        IecLines store;
        int index = startIndex;
        for (const QByteArray &event : events.split('|'))
            store.capture(event, index);
        QCOMPARE(store.all(), lines);
        QCOMPARE(index, endIndex);
    }

    void captureIntoMiddleLine()
    {
        IecLines store;
        int index = 0;
        store.capture("a\nb\nc", index);
        index = 0;
        store.capture("X\nY", index);
        // The receiving line grows, an empty line is added at the end, and the
        // next bytes go to the line after the receiving one.
        QCOMPARE(store.all(), (QList<QByteArray>{"aX", "bY", "c", ""}));
        QCOMPARE(index, 1);
    }

    // A control's name takes IecControlColumns columns on screen; the widest
    // line sets the view's horizontal range, also after lines are removed.
    void columnsCountNamesWide_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<qsizetype>("widest");
        QTest::addColumn<qsizetype>("widestAfterFirstRemoved");
        constexpr qsizetype W = IecControlColumns;
        QTest::newRow("no controls") << QByteArray("abcd\nab") << qsizetype(4) << qsizetype(2);
        QTest::newRow("STX ETX CR") << QByteArray("\x02"
                                                  "A\x03\r\nabcde")
                                    << 1 + 3 * W << qsizetype(5);
        QTest::newRow("DEL, C1 byte is one column") << QByteArray("x\nx\x7f\x80") << 2 + W << 2 + W;
    }
    void columnsCountNamesWide()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(qsizetype, widest);
        QFETCH(qsizetype, widestAfterFirstRemoved);
        IecLines store;
        int index = 0;
        // Split, as receive events split a line.
        store.capture(bytes.left(3), index);
        store.capture(bytes.mid(3), index);
        QCOMPARE(store.widest(), widest);
        store.removeLines(0, 0);
        QCOMPARE(store.widest(), widestAfterFirstRemoved);
        QCOMPARE(store.columns(0), widestAfterFirstRemoved);
    }

    void displayShowsEveryByte_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("shown");
        QTest::newRow("STX ETX CR") << QByteArray("\x02"
                                                  "A\x03\r")
                                    << QString::fromUtf8("\u2402A\u2403\u240d");
        QTest::newRow("NUL and DEL") << QByteArray("\x00\x7f", 2) << QString::fromUtf8("\u2400\u2421");
        QTest::newRow("C1 range") << QByteArray("\x80\x9f") << QString::fromUtf8("\ufffd\ufffd");
        QTest::newRow("Latin-1 letters") << QByteArray("\xe9\xa0") << QString::fromUtf8("\u00e9\u00a0");
    }
    void displayShowsEveryByte()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, shown);
        QCOMPARE(iecDisplayText(bytes), shown);
        QCOMPARE(iecDisplayText(bytes, 1, 1), shown.mid(1, 1));
    }
};

QTEST_GUILESS_MAIN(TstIecParse)
#include "tst_iec_parse.moc"
