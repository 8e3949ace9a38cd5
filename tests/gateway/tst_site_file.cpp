// The site file as a table: names (quoted with spaces), profiles relative
// to the file, comments and blank lines kept on save, gateways changed,
// removed and added, and bad lines refused with their numbers.
#include "gateway/site_file.h"

#include <QTest>

using namespace qvx;

class TstSiteFile : public QObject {
    Q_OBJECT
private slots:
    void parse_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("profiles");
        QTest::addColumn<QStringList>("links");
        QTest::newRow("old targets line") << QByteArray("--tcp 10.0.0.5 --unit 3\n") << QStringList{""}
                                          << QStringList{""} << QStringList{"--tcp 10.0.0.5:502 --unit 3"};
        QTest::newRow("quoted name, profile, CR LF")
            << QByteArray("name=\"Feeder 3\" profile=feeders.json --tcp 10.0.0.13 --unit 3\r\n")
            << QStringList{"Feeder 3"} << QStringList{"feeders.json"}
            << QStringList{"--tcp 10.0.0.13:502 --unit 3"};
        QTest::newRow("words anywhere, # in quotes, comment after")
            << QByteArray("--serial /dev/ttyS0 name=\"Pump #2\" --unit 2  # the pump\n# only a comment\n")
            << QStringList{"Pump #2"} << QStringList{""} << QStringList{"--serial /dev/ttyS0 --baud 9600 --parity even --unit 2"};
    }
    void parse()
    {
        QFETCH(QByteArray, text);
        QFETCH(QStringList, names);
        QFETCH(QStringList, profiles);
        QFETCH(QStringList, links);
        const SiteFile site = ParseSiteFile(text);
        QVERIFY2(site.ok(), qPrintable(site.errors.join(QLatin1Char('\n'))));
        QStringList n, p, l;
        for (const SiteGateway &g : site.gateways) {
            n << g.name;
            p << g.profile;
            l << g.link.describe();
        }
        QCOMPARE(n, names);
        QCOMPARE(p, profiles);
        QCOMPARE(l, links);
        // qvxctl --targets takes the same lines.
        QVERIFY(!parseTargetFile(text, GatewayLink{}).error);
    }

    void badLinesNamed_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("errors");
        QTest::newRow("every bad line")
            << QByteArray("# ok\n--tcp 10.0.0.1\nname=\"open --tcp 10.0.0.2\nfoo --tcp 10.0.0.3\n"
                          "--tcp 10.0.0.1\nname= --tcp 10.0.0.4\n--unit 3\n")
            << QStringList{"line 3: a quote (\") is not closed", "line 4: \"foo\" is not an option",
                           "line 5: the same gateway as line 2 (--tcp 10.0.0.1:502 --unit 1); --allow-duplicates "
                           "runs them one after the other",
                           "line 6: name= needs a value of 1 to 200 characters", "line 7: no --tcp or --serial"};
        QTest::newRow("name twice") << QByteArray("name=a name=b --tcp h\n")
                                    << QStringList{"line 1: name= given twice"};
    }
    void badLinesNamed()
    {
        QFETCH(QByteArray, text);
        QFETCH(QStringList, errors);
        const SiteFile site = ParseSiteFile(text);
        QCOMPARE(site.errors, errors);
        QVERIFY(site.gateways.isEmpty());
        // The targets file stops at the first.
        QCOMPARE(*parseTargetFile(text, GatewayLink{}).error, errors.first());
    }

    void savedWithCommentsKept()
    {
        SiteFile site = ParseSiteFile("# Site North\n\nname=A --tcp 10.0.0.1   # first\n--tcp 10.0.0.2\n"
                                      "name=\"Gone\" --tcp 10.0.0.3\n");
        QVERIFY(site.ok());
        site.gateways[1].name = QStringLiteral("Feeder 2");
        site.gateways[1].profile = QStringLiteral("p 2.json");
        site.gateways.removeAt(2);
        SiteGateway added;
        added.name = QStringLiteral("New one");
        added.linkArgs = QStringList{"--tcp", "10.0.0.9", "--unit", "4"};
        site.gateways << added;
        QCOMPARE(SiteFileBytes(site),
                 QByteArray("# Site North\r\n\r\nname=A --tcp 10.0.0.1   # first\r\n"
                            "name=\"Feeder 2\" profile=\"p 2.json\" --tcp 10.0.0.2\r\n"
                            "name=\"New one\" --tcp 10.0.0.9 --unit 4\r\n"));
        const SiteFile again = ParseSiteFile(SiteFileBytes(site));
        QCOMPARE(again.gateways.size(), 3);
        QCOMPARE(again.gateways.at(2).link.unit, 4);
    }

    // A CR inside a line separates words, as qvxctl reads it; saving must
    // not join them into one that no longer parses.
    void loneCarriageReturnSurvivesSaving()
    {
        const SiteFile site = ParseSiteFile("--serial\r/dev/ttyUSB0 --unit 2\n");
        QVERIFY(site.ok());
        QCOMPARE(site.gateways.size(), 1);
        const QByteArray saved = SiteFileBytes(site);
        const SiteFile again = ParseSiteFile(saved);
        QVERIFY2(again.ok(), qPrintable(again.errors.join(QLatin1Char('\n'))));
        QCOMPARE(again.gateways.at(0).link.serialPort, QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(SiteFileBytes(again), saved);
    }

    void profilePaths_data()
    {
        QTest::addColumn<QString>("site");
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QString>("path");
        QTest::newRow("beside") << "/sites/north/site.txt" << "feeders.json" << "/sites/north/feeders.json";
        QTest::newRow("up") << "/sites/north/site.txt" << "../common/p.json" << "/sites/common/p.json";
        QTest::newRow("absolute") << "/sites/north/site.txt" << "/etc/p.json" << "/etc/p.json";
        QTest::newRow("relative site") << "site.txt" << "p.json" << "p.json";
        QTest::newRow("none") << "/sites/site.txt" << "" << "";
    }
    void profilePaths()
    {
        QFETCH(QString, site);
        QFETCH(QString, profile);
        QFETCH(QString, path);
        QCOMPARE(SiteProfilePath(site, profile), path);
    }
};

QTEST_APPLESS_MAIN(TstSiteFile)
#include "tst_site_file.moc"
