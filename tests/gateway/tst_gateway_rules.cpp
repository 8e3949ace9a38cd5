// Plain rules of the gateway runners: which requests are sent again after a
// lost reply, the order of a scan's probes and its estimate of the time left.
#include "config/device_codec.h"
#include "gateway/gateway_format.h"
#include "gateway/request_repeat.h"

#include <QTest>

using namespace qvx;

Q_DECLARE_METATYPE(qvx::ModbusRequest)
using Activity = QMap<int, int>;

namespace {

QString order(const QVector<ScanProbe> &probes)
{
    QStringList out;
    for (const ScanProbe &p : probes)
        out << QStringLiteral("%1%2:%3").arg(p.baud).arg(p.parity.left(1)).arg(p.unit);
    return out.join(QLatin1Char(' '));
}

} // namespace

class TstGatewayRules : public QObject {
    Q_OBJECT
private slots:
    void repeat_data()
    {
        QTest::addColumn<ModbusRequest>("request");
        QTest::addColumn<bool>("safe");
        const QByteArray four(4, '\1');
        QTest::newRow("read holding") << ModbusRequest::readHolding(1, 7, 1) << true;
        QTest::newRow("read input") << ModbusRequest::readInput(1, 1000, 126) << true;
        QTest::newRow("identification") << ModbusRequest::readDeviceId(1, 2) << true;
        QTest::newRow("register values") << ModbusRequest::writeSingle(1, 100, 0, 15) << true;
        QTest::newRow("meter slot") << ModbusRequest::writeMultiple(1, 800, 8, QByteArray(8, '\1')) << true;
        QTest::newRow("IPv4 block") << ModbusRequest::writeMultiple(1, 55400, 4, four) << true;
        QTest::newRow("stored flag set")
            << ModbusRequest::writeSingle(1, 7, 0, flagCommandValue(5, true)) << true;
        QTest::newRow("stored flag cleared")
            << ModbusRequest::writeSingle(1, 7, 0, flagCommandValue(1, false)) << true;
        QTest::newRow("Reset") << ModbusRequest::writeSingle(1, 7, 0, flagCommandValue(17, false)) << false;
        QTest::newRow("unknown flag command") << ModbusRequest::writeSingle(1, 7, 0, 2) << false;
        QTest::newRow("register 7 as a block") << ModbusRequest::writeMultiple(1, 6, 4, four) << false;
        QTest::newRow("unit address")
            << ModbusRequest::writeSingle(1, DeviceRegister::UnitAddress, 0, 5) << false;
        QTest::newRow("RTU line") << ModbusRequest::writeSingle(1, DeviceRegister::RtuLine, 0, 0x50) << false;
        QTest::newRow("block over the unit address")
            << ModbusRequest::writeMultiple(1, DeviceRegister::UnitAddress - 1, 4, four) << false;
        QTest::newRow("IEC line") << ModbusRequest::writeSingle(1, DeviceRegister::IecLine, 0, 0x48) << true;
    }
    void repeat()
    {
        QFETCH(ModbusRequest, request);
        QFETCH(bool, safe);
        QCOMPARE(RequestSafeToRepeat(request), safe);
    }

    void likelyUnits_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("units");
        QTest::newRow("default") << 1 << 247 << 1 << "1, 247, 2-10";
        QTest::newRow("field unit 17") << 1 << 247 << 17 << "1, 17, 247, 2-10";
        QTest::newRow("field unit among 2-10") << 1 << 247 << 5 << "1, 5, 247, 2-4, 6-10";
        QTest::newRow("range 1-20") << 1 << 20 << 1 << "1-10";
        QTest::newRow("range above 10") << 15 << 20 << 1 << "";
        QTest::newRow("range above 10, field inside") << 15 << 20 << 17 << "17";
    }
    void likelyUnits()
    {
        QFETCH(int, first);
        QFETCH(int, last);
        QFETCH(int, field);
        QFETCH(QString, units);
        QCOMPARE(scanUnitsText(scanLikelyUnits(first, last, field)), units);
    }

    // Likely units at every rate and parity, then the others at the busy
    // rates, then at the rest.
    void probeOrder_data()
    {
        QTest::addColumn<Activity>("activity");
        QTest::addColumn<QString>("order");
        const QString likely = "9600e:1 9600e:12 9600e:2 9600n:1 9600n:12 9600n:2 "
                               "19200e:1 19200e:12 19200e:2 19200n:1 19200n:12 19200n:2 ";
        QTest::newRow("quiet line") << Activity{} << likely + "9600e:11 9600n:11 19200e:11 19200n:11";
        QTest::newRow("busy at 19200")
            << Activity{{19200, 12}} << likely + "19200e:11 19200n:11 9600e:11 9600n:11";
    }
    void probeOrder()
    {
        QFETCH(Activity, activity);
        QFETCH(QString, order);
        // Units 1-12, the field's unit 12: 1, 12 and 2-10 are likely, 11 is
        // not (3-10 left out of the comparison).
        QVector<ScanProbe> probes =
            scanProbes({9600, 19200}, {QStringLiteral("even"), QStringLiteral("none")}, 1, 12, 12, activity);
        QCOMPARE(probes.size(), 2 * 2 * 12);
        probes.erase(std::remove_if(probes.begin(), probes.end(),
                                    [](const ScanProbe &p) { return p.unit >= 3 && p.unit <= 10; }),
                     probes.end());
        QCOMPARE(::order(probes), order);
        QCOMPARE(probes.at(11).stage, ScanStage::Likely);
        QCOMPARE(probes.at(12).stage, activity.isEmpty() ? ScanStage::Rest : ScanStage::Active);
        QCOMPARE(probes.last().stage, ScanStage::Rest);
    }

    void fullSweepHoldsEveryProbeOnce()
    {
        const QVector<ScanProbe> probes =
            scanProbes(scanBaudOrder(), {"even", "none", "odd"}, 1, 247, 17, {});
        QCOMPARE(probes.size(), 9 * 3 * 247);
        QSet<QString> seen;
        for (const ScanProbe &p : probes)
            seen.insert(QStringLiteral("%1 %2 %3").arg(p.baud).arg(p.parity).arg(p.unit));
        QCOMPARE(seen.size(), probes.size());
        // A gateway at unit 1 on the last rate and parity is the 324th probe.
        int at = 0;
        while (!(probes.at(at).baud == 300 && probes.at(at).parity == QLatin1String("odd") &&
                 probes.at(at).unit == 1))
            ++at;
        QCOMPARE(at, 8 * 3 * 12 + 2 * 12);
    }

    // Before any probe the nominal times; then each rate tried takes what
    // its probes took, the others their nominal time scaled alike.
    void estimate()
    {
        const QVector<ScanProbe> probes = scanProbes({9600, 300}, {QStringLiteral("even")}, 1, 4, 1, {});
        ScanEstimate e(50, false);
        const qint64 nominal = 4 * scanProbeMs(9600, 50) + 4 * scanProbeMs(300, 50);
        QCOMPARE(e.remainingMs(probes, 0), nominal);
        // Probes at 9600 that took half their nominal time.
        for (int i = 0; i < 2; ++i)
            e.record(9600, scanProbeMs(9600, 50) / 2);
        QCOMPARE(e.remainingMs(probes, 2),
                 2 * (scanProbeMs(9600, 50) / 2) + qint64(4 * scanProbeMs(300, 50) / 2.0 + 0.5));
        QCOMPARE(e.remainingMs(probes, int(probes.size())), 0);
        ScanEstimate tcp(200, true);
        QCOMPARE(tcp.remainingMs(probes, 0), 8 * 200);
    }
};

QTEST_APPLESS_MAIN(TstGatewayRules)
#include "tst_gateway_rules.moc"
