// The plain rules behind qvxctl --targets: what a target is named, what an
// output pattern becomes for TCP and serial targets, a difference line as
// JSON and as a reason, and quoted input cut short.
#include "core/input_text.h"
#include "gateway/gateway_format.h"

#include <QJsonObject>
#include <QTest>

using namespace qvx;

class TstTargetNames : public QObject {
    Q_OBJECT

private slots:
    void patterns_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("expanded");
        QTest::newRow("tcp, derived name")
            << QByteArray("--tcp 10.0.0.5 --unit 3") << "10.0.0.5-502-u3 10.0.0.5 502 3";
        QTest::newRow("tcp, named") << QByteArray("--tcp 10.0.0.5:1502 --name feeder-a")
                                    << "feeder-a 10.0.0.5 1502 1";
        QTest::newRow("serial") << QByteArray("--serial /dev/ttyUSB0 --unit 7")
                                << "ttyUSB0-u7 ttyUSB0 ttyUSB0 7";
    }
    void patterns()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, expanded);
        const TargetList list = parseTargetFile(line, GatewayLink{});
        QVERIFY(!list.error);
        QCOMPARE(expandOutputPattern(QStringLiteral("{name} {host} {port} {unit}"), list.targets.at(0)),
                 expanded);
    }

    void collisionNamesBothLines()
    {
        const TargetList list = parseTargetFile("--tcp 10.0.0.5\n\n--tcp 10.0.0.6\n", GatewayLink{});
        QVERIFY(!outputCollision(QStringLiteral("-o"), QStringLiteral("t/{host}.txt"), list.targets));
        const std::optional<QString> e =
            outputCollision(QStringLiteral("-o"), QStringLiteral("./t/{unit}.txt"), list.targets);
        QVERIFY(e);
        QVERIFY2(e->contains(QLatin1String("lines 1 and 3 would both write \"t/1.txt\"")), qPrintable(*e));
    }

    void differences()
    {
        const QJsonObject row = differenceToJson(
            QStringLiteral("slot 3 row 5: gateway \"1.8.0\", file \"1.8.2\""), QStringLiteral("profile"));
        QCOMPARE(row.value("what").toString(), QStringLiteral("slot 3 row 5"));
        QCOMPARE(row.value("gateway").toString(), QStringLiteral("1.8.0"));
        QCOMPARE(row.value("profile").toString(), QStringLiteral("1.8.2"));
        const QJsonObject iec = differenceToJson(
            QStringLiteral(
                "iec: gateway {\"baud\":9600,\"parity\":\"even\"}, file {\"baud\":300,\"parity\":\"even\"}"),
            QStringLiteral("file"));
        QCOMPARE(iec.value("file").toObject().value("baud").toInt(), 300);
        QCOMPARE(differsText({"flags.dhcp", "readout_minutes", "slot 3 row 5", "slot 3 id", "slot 4 row 1"}),
                 QStringLiteral("differs: 2 settings, 2 slots"));
        QCOMPARE(differsText({"slot 1 id"}), QStringLiteral("differs: 1 slot"));
    }

    void quotedInputIsCut()
    {
        QCOMPARE(quoteInput(QStringLiteral("ab\tc")), QStringLiteral("\"ab?c\""));
        const QString cut = quoteInput(QString(1000000, QLatin1Char('x')));
        QCOMPARE(cut, QLatin1Char('"') + QString(InputQuoteChars, QLatin1Char('x')) +
                          QStringLiteral("...\" (1000000 characters)"));
        QCOMPARE(cutInput(QStringLiteral("-1")), QStringLiteral("-1"));
    }
};

QTEST_GUILESS_MAIN(TstTargetNames)
#include "tst_target_names.moc"
