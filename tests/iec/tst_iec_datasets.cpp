// The data set reading of a meter's answer, as tables of captures: one row a
// shape meters send, each data set written as one line of text.
#include "iec/iec_datasets.h"

#include <QTest>

using namespace qvx;

namespace {

// "line address =code [value|unit] [value|unit]..." for each data set; the
// code is left out when it is the address itself.
QStringList sets(const IecDataBlock &b)
{
    QStringList out;
    for (const IecDataSet &s : b.sets) {
        QString t = QString::number(s.line) + QLatin1Char(' ') + s.address;
        if (s.code != s.address)
            t += QStringLiteral(" =") + s.code;
        for (const IecValueGroup &g : s.groups)
            t += QStringLiteral(" [%1|%2]").arg(g.value, g.unit);
        out << t;
    }
    return out;
}

} // namespace

class TstIecDatasets : public QObject {
    Q_OBJECT
private slots:
    void parse_data()
    {
        QTest::addColumn<QByteArray>("capture");
        QTest::addColumn<QString>("identification"); // "-" for none
        QTest::addColumn<bool>("endSeen");
        QTest::addColumn<QStringList>("sets");
        QTest::newRow("mode C answer")
            << QByteArray("/ABC5METER1\r\n\x02"
                          "0.0.0(12345678)\r\n1.8.0(0001234.567*kWh)\r\n!\r\n\x03\x41")
            << "/ABC5METER1" << true << QStringList{"2 0.0.0 [12345678|]", "3 1.8.0 [0001234.567|kWh]"};
        QTest::newRow("several data sets on a line, '!' at its end")
            << QByteArray("/HTM4HEAT\r\n\x02"
                          "6.8(0029.055*MWh)6.26(01589.28*m3)9.21(00010213)\r\n6.1(0)!\r\n\x03\x10")
            << "/HTM4HEAT" << true
            << QStringList{"2 6.8 [0029.055|MWh]", "2 6.26 [01589.28|m3]", "2 9.21 [00010213|]", "3 6.1 [0|]"};
        QTest::newRow("maximum demand with its time stamp")
            << QByteArray("\x02"
                          "1.6.0(02.468*kW)(2403100930)\r\n!\r\n")
            << "-" << true << QStringList{"1 1.6.0 [02.468|kW] [2403100930|]"};
        QTest::newRow("billing values with dates")
            << QByteArray("/X\r\n\x02"
                          "0.1.0(04)\r\n0.1.2*04(24-03-01 00:00)\r\n1.8.0*04(0001000.1*kWh)\r\n!")
            << "/X" << true
            << QStringList{"2 0.1.0 [04|]", "3 0.1.2*04 [24-03-01 00:00|]", "4 1.8.0*04 [0001000.1|kWh]"};
        QTest::newRow("'&' sub-values: value and unit of the first")
            << QByteArray("\x02"
                          "9.4(088*C&082*C)\r\n!")
            << "-" << true << QStringList{"1 9.4 [088|C]"};
        QTest::newRow("no identification: starts at STX")
            << QByteArray("\x02"
                          "C.1.0(4744xxxx)\r\n1.8.0(  -12.5*kWh)\r\n!\r\n\x03\x01")
            << "-" << true << QStringList{"1 C.1.0 [4744xxxx|]", "2 1.8.0 [  -12.5|kWh]"};
        QTest::newRow("no STX, no identification: from the first line")
            << QByteArray("1.8.0(1*kWh)\r\n2.8.0()\r\n") << "-" << false
            << QStringList{"1 1.8.0 [1|kWh]", "2 2.8.0 [|]"};
        QTest::newRow("DEL and noise before the identification")
            << QByteArray("\x7f\xff/LGZ4ZMD\r\n\x02"
                          "F.F(00)\r\n!\r\n\x03\x0a")
            << "/LGZ4ZMD" << true << QStringList{"2 F.F [00|]"};
        QTest::newRow("echoed sign-on is no identification")
            << QByteArray("/?12345678!\r\n/ABC5X\r\n\x02"
                          "0.0.0(1)\r\n!\r\n")
            << "/ABC5X" << true << QStringList{"3 0.0.0 [1|]"};
        QTest::newRow("P1 telegram: long codes, groups, CRC after '!'")
            << QByteArray("/ISK5\\2M550T-1012\r\n\r\n1-3:0.2.8(50)\r\n0-0:1.0.0(240310093000W)\r\n"
                          "1-0:1.8.1(001234.567*kWh)\r\n0-1:24.2.1(240310093000W)(00012.345*m3)\r\n"
                          "!1A2B\r\n")
            << "/ISK5\\2M550T-1012" << true
            << QStringList{"3 1-3:0.2.8 =0.2.8 [50|]", "4 0-0:1.0.0 =1.0.0 [240310093000W|]",
                           "5 1-0:1.8.1 =1.8.1 [001234.567|kWh]",
                           "6 0-1:24.2.1 =24.2.1 [240310093000W|] [00012.345|m3]"};
        QTest::newRow("unit after a space; a date keeps its space")
            << QByteArray("\x02"
                          "1.8.0(007206.0 kWh)0.9.2(24-03-10 12:00)\r\n!")
            << "-" << true << QStringList{"1 1.8.0 [007206.0|kWh]", "1 0.9.2 [24-03-10 12:00|]"};
        QTest::newRow("continuation line joins the set before")
            << QByteArray("\x02P.01(2403100000)(00)(15)\r\n(0.123)(0.045)\r\n!")
            << "-" << true
            << QStringList{"1 P.01 [2403100000|] [00|] [15|] [0.123|] [0.045|]"};
        QTest::newRow("repeated codes stay in order")
            << QByteArray("\x02"
                          "1.8.0(1)\r\n1.8.0(2)\r\n!")
            << "-" << true << QStringList{"1 1.8.0 [1|]", "2 1.8.0 [2|]"};
        QTest::newRow("long codes with F") << QByteArray("\x02"
                                                         "1-0:1.8.0*255(1)0-0:C.1.0*01(2)F.F.0*255(3)1-1:0.2.0(4)!")
                                           << "-" << true
                                           << QStringList{"1 1-0:1.8.0*255 =1.8.0 [1|]",
                                                          "1 0-0:C.1.0*01 =C.1.0*01 [2|]",
                                                          "1 F.F.0*255 =F.F.0 [3|]", "1 1-1:0.2.0 =0.2.0 [4|]"};
        QTest::newRow("ETX without '!'") << QByteArray("\x02"
                                                       "1.8.0(1)\r\n\x03\x02")
                                         << "-" << false << QStringList{"1 1.8.0 [1|]"};
        QTest::newRow("group open at the line end")
            << QByteArray("\x02"
                          "1.8.0(12.5*kWh\r\n2.8.0(3)\r\n!")
            << "-" << true << QStringList{"1 1.8.0 [12.5|kWh]", "2 2.8.0 [3|]"};
        QTest::newRow("'!' inside a value is text") << QByteArray("\x02X(a!b)\r\n!") << "-" << true
                                                   << QStringList{"1 X [a!b|]"};
        QTest::newRow("empty capture") << QByteArray() << "-" << false << QStringList{};
        QTest::newRow("Latin-1 bytes") << QByteArray("\x02T(21\xb0" "C)\r\n!") << "-" << true
                                       << QStringList{QStringLiteral("1 T [21\u00b0C|]")};
    }
    void parse()
    {
        QFETCH(QByteArray, capture);
        QFETCH(QString, identification);
        QFETCH(bool, endSeen);
        QFETCH(QStringList, sets);
        const IecDataBlock b = ParseIecDataSets(capture);
        QCOMPARE(b.hasIdentification ? b.identification : QStringLiteral("-"), identification);
        QCOMPARE(b.endSeen, endSeen);
        QCOMPARE(::sets(b), sets);
    }

    // What a group keeps of the meter's text, besides value and unit.
    void groupText()
    {
        const IecDataBlock b = ParseIecDataSets("\x02"
                                                "9.4(088*C&082*C)(  )\r\n!");
        QCOMPARE(b.sets.size(), 1);
        const IecValueGroup &g = b.sets.at(0).groups.at(0);
        QCOMPARE(g.text, QStringLiteral("088*C&082*C"));
        QCOMPARE(g.parts, (QStringList{"088*C", "082*C"}));
        QCOMPARE(b.sets.at(0).groups.at(1).text, QStringLiteral("  "));
        QVERIFY(g.closed);
    }

    // Text that is no data set is named by its line, and left out.
    void unparsedLines()
    {
        const IecDataBlock b = ParseIecDataSets("\x02"
                                                "1.8.0(1)\r\nC.1.0\r\n2.8.0(2))\r\n!");
        QCOMPARE(::sets(b), (QStringList{"1 1.8.0 [1|]", "3 2.8.0 [2|]"}));
        QCOMPARE(b.unparsedLines, (QList<int>{2, 3}));
    }
};

QTEST_APPLESS_MAIN(TstIecDatasets)
#include "tst_iec_datasets.moc"
