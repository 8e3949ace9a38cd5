// The simulated QVX-24S in-process: functions, exceptions, limits, flag
// commands, the meter table layout, collected values and persistence.
#include "common/hex.h"
#include "sim/device.h"
#include "sim/frames.h"
#include "transport/modbus.h"

#include <QTemporaryDir>
#include <QTest>

using qvxtest::hex;

using namespace qvxsim;

static QList<int> registersOf(const QByteArray &readReply)
{
    QList<int> out;
    for (int i = 2; i + 1 < readReply.size(); i += 2)
        out.append((uint8_t(readReply[i]) << 8) | uint8_t(readReply[i + 1]));
    return out;
}

static QByteArray writeMultiplePdu(int address, const QList<int> &values)
{
    QByteArray data;
    for (int v : values) {
        data.append(char(v >> 8));
        data.append(char(v & 0xFF));
    }
    return qvx::pduWriteMultiple(address, uint8_t(data.size()), data);
}

class TstSimDevice : public QObject {
    Q_OBJECT
private slots:
    void answersEachFunction_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("read flags") << qvx::pduReadHolding(7, 1) << hex("03 02 00 80");
        QTest::newRow("read readout period") << qvx::pduReadHolding(100, 1) << hex("03 02 00 0F");
        QTest::newRow("read comm block") << qvx::pduReadHolding(32785, 3) << hex("03 06 00 01 00 40 00 40");
        QTest::newRow("read ipv4 address") << qvx::pduReadHolding(55400, 2) << hex("03 04 C0 A8 01 64");
        QTest::newRow("read gateway") << qvx::pduReadHolding(55402, 2) << hex("03 04 C0 A8 01 01");
        QTest::newRow("read mask") << qvx::pduReadHolding(55404, 2) << hex("03 04 FF FF FF 00");
        QTest::newRow("read tcp idle 120 s") << qvx::pduReadHolding(55418, 2) << hex("03 04 00 01 D4 C0");
        QTest::newRow("write single echoes") << qvx::pduWriteSingle(100, 0x05, 0xA0) << hex("06 00 64 05 A0");
        QTest::newRow("write multiple answers start and count")
            << qvx::pduWriteMultiple(55400, 4, hex("0A 01 02 03")) << hex("10 D8 68 00 02");
        QTest::newRow("unknown function") << hex("01 00 00 00 01") << hex("81 01");
        QTest::newRow("function 5 unknown") << hex("05 00 00 FF 00") << hex("85 01");
        QTest::newRow("unknown holding address") << qvx::pduReadHolding(200, 1) << hex("83 02");
        QTest::newRow("range running past a block") << qvx::pduReadHolding(120, 10) << hex("83 02");
        QTest::newRow("input outside values") << qvx::pduReadInput(7, 1) << hex("84 02");
        QTest::newRow("count zero") << qvx::pduReadHolding(0, 0) << hex("83 03");
        QTest::newRow("count 127") << qvx::pduReadHolding(1000, 127) << hex("83 03");
        QTest::newRow("write to unknown address") << qvx::pduWriteSingle(300, 0, 1) << hex("86 02");
        QTest::newRow("unit address 0") << qvx::pduWriteSingle(32785, 0, 0) << hex("86 03");
        QTest::newRow("unit address 248") << qvx::pduWriteSingle(32785, 0, 248) << hex("86 03");
        QTest::newRow("readout period 0") << qvx::pduWriteSingle(100, 0, 0) << hex("86 03");
        QTest::newRow("readout period 1441") << qvx::pduWriteSingle(100, 0x05, 0xA1) << hex("86 03");
        QTest::newRow("rtu baud code 9") << qvx::pduWriteSingle(32786, 0, 0x90) << hex("86 03");
        QTest::newRow("rtu parity code 3") << qvx::pduWriteSingle(32786, 0, 0x43) << hex("86 03");
        QTest::newRow("iec 115200 none") << qvx::pduWriteSingle(32787, 0, 0x82) << hex("06 80 13 00 82");
        QTest::newRow("byte count disagrees") << hex("10 00 64 00 02 03 00 01 00") << hex("90 03");
        QTest::newRow("read request too short") << hex("03 00 07") << hex("83 03");
        QTest::newRow("mei type not 14") << hex("2B 0D 02 00") << hex("AB 01");
        QTest::newRow("device id code 5") << hex("2B 0E 05 00") << hex("AB 03");
        QTest::newRow("device id object 9 alone") << hex("2B 0E 04 09") << hex("AB 02");
        QTest::newRow("device id product code alone")
            << hex("2B 0E 04 01") << hex("2B 0E 04 82 00 00 01 01 07") + "QVX-24S";
    }
    void answersEachFunction()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        Device d;
        QCOMPARE(d.handlePdu(request).toHex(' '), reply.toHex(' '));
    }

    void deviceIdentificationCarriesTextObjects()
    {
        Device d;
        const QByteArray r = d.handlePdu(qvx::pduReadDeviceId(2));
        QCOMPARE(r.left(7), hex("2B 0E 02 82 00 00 07"));
        // Objects 0..6 follow as id, length, text.
        qsizetype at = 7;
        QList<QByteArray> texts;
        for (int id = 0; id < 7; ++id) {
            QCOMPARE(int(uint8_t(r[at])), id);
            const int len = uint8_t(r[at + 1]);
            texts.append(r.mid(at + 2, len));
            at += 2 + len;
        }
        QCOMPARE(at, r.size());
        QCOMPARE(texts[1], QByteArray("QVX-24S"));
        QVERIFY(!texts[0].isEmpty());
        QVERIFY(!texts[2].isEmpty());
    }

    void reads126RegistersInOneRequest()
    {
        Device d;
        const QByteArray r = d.handlePdu(qvx::pduReadHolding(1000, 126));
        QCOMPARE(r.size(), 2 + 252);
        QCOMPARE(uint8_t(r[1]), uint8_t(252));
        QCOMPARE(d.handlePdu(qvx::pduReadInput(1000, 126)).size(), 2 + 252);
    }

    void writes126RegistersInOneRequest()
    {
        Device d;
        QList<int> values;
        for (int i = 0; i < 126; ++i)
            values.append(0x0100 + i);
        QCOMPARE(d.handlePdu(writeMultiplePdu(1128, values)), hex("10 04 68 00 7E"));
        QCOMPARE(registersOf(d.handlePdu(qvx::pduReadHolding(1128, 126))), values);
    }

    void rejectsAWholeWriteWithOneBadValue()
    {
        Device d;
        QCOMPARE(d.handlePdu(writeMultiplePdu(32785, {5, 0x0999})), hex("90 03"));
        QCOMPARE(d.unitAddress(), uint8_t(1));
    }

    void flagCommands_data()
    {
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("after");
        QTest::newRow("set DHCP") << 0x80 << 0x81 << 0x81;
        QTest::newRow("clear Continues Read") << 0x80 << 0x08 << 0x00;
        QTest::newRow("set 64-bit") << 0x00 << 0x85 << 0x10;
        QTest::newRow("set 16-digit ID") << 0x00 << 0x86 << 0x20;
        QTest::newRow("set long OBIS") << 0x00 << 0x87 << 0x40;
        QTest::newRow("set change baud after ACK") << 0x00 << 0x84 << 0x08;
        QTest::newRow("clear one of several") << 0x71 << 0x05 << 0x61;
        QTest::newRow("set an already set flag") << 0x01 << 0x81 << 0x01;
        QTest::newRow("Reset leaves flags") << 0x71 << 0x91 << 0x71;
        QTest::newRow("Reset unchecked leaves flags") << 0x71 << 0x11 << 0x71;
    }
    void flagCommands()
    {
        QFETCH(int, before);
        QFETCH(int, command);
        QFETCH(int, after);
        Device d;
        d.setHolding(Device::RegFlags, uint16_t(before));
        QCOMPARE(d.handlePdu(qvx::pduWriteSingle(7, 0, uint8_t(command))),
                 qvx::pduWriteSingle(7, 0, uint8_t(command)));
        QCOMPARE(registersOf(d.handlePdu(qvx::pduReadHolding(7, 1))), QList<int>{after});
    }

    void flagCommandsOutsideTheListAreRefused_data()
    {
        QTest::addColumn<int>("value");
        QTest::newRow("flag 0") << 0x80;
        QTest::newRow("flag 9") << 0x89;
        QTest::newRow("flag 18") << 0x12;
        QTest::newRow("high byte set") << 0x0181;
    }
    void flagCommandsOutsideTheListAreRefused()
    {
        QFETCH(int, value);
        Device d;
        QCOMPARE(d.handlePdu(qvx::pduWriteSingle(7, uint8_t(value >> 8), uint8_t(value))), hex("86 03"));
    }

    void resetRestartsAndAppliesPendingRtuSettings()
    {
        Device d;
        QCOMPARE(d.handlePdu(qvx::pduWriteSingle(32786, 0, 0x82)), hex("06 80 12 00 82"));
        QCOMPARE(d.rtuLine().baud, 9600); // without "Change baud after ACK": waits for a restart
        QCOMPARE(d.rtuLineWritten().baud, 115200);
        d.handlePdu(qvx::pduWriteSingle(7, 0, 0x91));
        QCOMPARE(d.restarts(), 1);
        QCOMPARE(d.rtuLine().baud, 115200);
        QCOMPARE(d.rtuLine().parity, 'N');
        // Values are gone until the next readout.
        QCOMPARE(d.input(1000), uint16_t(0xFFFF));
        d.tick(0);
        QVERIFY(d.input(1000) != 0xFFFF || d.input(1001) != 0xFFFF);
    }

    void changeBaudAfterAckSwitchesAtOnce()
    {
        Device d;
        d.setFlag(FlagChangeBaudAfterAck, true);
        d.handlePdu(qvx::pduWriteSingle(32786, 0, 0x51));
        QCOMPARE(d.rtuLine(), (LineSettings{19200, 'O', 8, 1}));
    }

    void newUnitAddressTakesEffectAfterTheReply()
    {
        Device d;
        const QByteArray reply = handleRtuFrame(d, qvx::rtuFrame(1, qvx::pduWriteSingle(32785, 0, 7)));
        QCOMPARE(reply, qvx::rtuFrame(1, qvx::pduWriteSingle(32785, 0, 7)));
        QVERIFY(handleRtuFrame(d, qvx::rtuFrame(1, qvx::pduReadHolding(7, 1))).isEmpty());
        QCOMPARE(handleRtuFrame(d, qvx::rtuFrame(7, qvx::pduReadHolding(32785, 1))),
                 qvx::rtuFrame(7, hex("03 02 00 07")));
    }

    void rtuStaysSilent_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QByteArray badCrc = qvx::rtuFrame(1, qvx::pduReadHolding(7, 1));
        badCrc[badCrc.size() - 1] = char(badCrc[badCrc.size() - 1] ^ 0x01);
        QTest::newRow("bad crc") << badCrc;
        QTest::newRow("other unit") << qvx::rtuFrame(2, qvx::pduReadHolding(7, 1));
        QTest::newRow("broadcast") << qvx::rtuFrame(0, qvx::pduWriteSingle(100, 0, 30));
        QTest::newRow("too short") << hex("01 03");
    }
    void rtuStaysSilent()
    {
        QFETCH(QByteArray, frame);
        Device d;
        QVERIFY(handleRtuFrame(d, frame).isEmpty());
    }

    void broadcastIsCarriedOut()
    {
        Device d;
        handleRtuFrame(d, qvx::rtuFrame(0, qvx::pduWriteSingle(100, 0, 30)));
        QCOMPARE(d.readoutMinutes(), 30);
    }

    void tcpAnswersOwnUnitAndZeroAnd255_data()
    {
        QTest::addColumn<int>("unit");
        QTest::addColumn<bool>("answered");
        QTest::newRow("own") << 1 << true;
        QTest::newRow("zero") << 0 << true;
        QTest::newRow("255") << 255 << true;
        QTest::newRow("other") << 2 << false;
    }
    void tcpAnswersOwnUnitAndZeroAnd255()
    {
        QFETCH(int, unit);
        QFETCH(bool, answered);
        Device d;
        const QByteArray reply =
            handleTcpAdu(d, qvx::tcpFrame(1234, uint8_t(unit), qvx::pduReadHolding(100, 1)));
        if (answered)
            QCOMPARE(reply, qvx::tcpFrame(1234, uint8_t(unit), hex("03 02 00 0F")));
        else
            QVERIFY(reply.isEmpty());
    }

    void meterIdLayoutFollowsTheDigitFlag_data()
    {
        QTest::addColumn<bool>("sixteen");
        QTest::addColumn<int>("slot");
        QTest::addColumn<QString>("id");
        QTest::addColumn<int>("address");
        QTest::addColumn<QList<int>>("registers");
        QTest::newRow("8 digits slot 3") << false << 3 << "12345678" << 804 << QList<int>{0x1234, 0x5678};
        QTest::newRow("8 digits filler") << false << 1 << "1234567F" << 800 << QList<int>{0x1234, 0x567F};
        QTest::newRow("16 digits slot 2")
            << true << 2 << "1234567890123456" << 804 << QList<int>{0x1234, 0x5678, 0x9012, 0x3456};
        QTest::newRow("16 digits slot 32")
            << true << 32 << "0000000000000042" << 924 << QList<int>{0, 0, 0, 0x0042};
    }
    void meterIdLayoutFollowsTheDigitFlag()
    {
        QFETCH(bool, sixteen);
        QFETCH(int, slot);
        QFETCH(QString, id);
        QFETCH(int, address);
        QFETCH(QList<int>, registers);
        Device d(QString{});
        d.setFlag(Flag16DigitId, sixteen);
        d.programMeter(slot, id, {"1.8.0"});
        QCOMPARE(registersOf(d.handlePdu(qvx::pduReadHolding(address, int(registers.size())))), registers);
        QCOMPARE(d.meterId(slot), id);
    }

    void obisListsLieAt1000Plus128PerSlot()
    {
        Device d(QString{});
        d.programMeter(3, "12345678", {"1.8.0", "32.7.0.255"});
        const int base = 1000 + 128 * 2;
        QCOMPARE(registersOf(d.handlePdu(qvx::pduReadHolding(base, 6))),
                 (QList<int>{0x0108, 0x0000, 0x2007, 0x00FF, 0xFF00, 0x0000}));
    }

    void emptyDeviceHasNoIdsAndEmptyRows()
    {
        Device d(QString{});
        const QList<int> ids = registersOf(d.handlePdu(qvx::pduReadHolding(800, 120)));
        QVERIFY(std::all_of(ids.begin(), ids.end(), [](int v) { return v == 0xFFFF; }));
        QCOMPARE(registersOf(d.handlePdu(qvx::pduReadHolding(1000, 2))), (QList<int>{0xFF00, 0}));
        const QList<int> values = registersOf(d.handlePdu(qvx::pduReadInput(1000, 126)));
        QVERIFY(std::all_of(values.begin(), values.end(), [](int v) { return v == 0xFFFF; }));
    }

    void valuesIn32And64BitLayout_data()
    {
        QTest::addColumn<bool>("wide");
        QTest::newRow("32-bit") << false;
        QTest::newRow("64-bit") << true;
    }
    void valuesIn32And64BitLayout()
    {
        QFETCH(bool, wide);
        Device d(QString{});
        d.setFlag(Flag64BitValues, wide);
        // Row 2 has no value: an empty entry; row 4: a code the meter lacks.
        d.programMeter(2, "87654321", {"1.8.0", "", "32.7.0", "96.1.0"});
        d.handlePdu(qvx::pduWriteMultiple(Device::entryAddress(2, 2), 4, hex("FF 00 00 00")));
        d.tick(0);
        const SimMeter &m = d.meters().meter("87654321");
        const int step = wide ? 4 : 2;
        auto value = [&](int row) {
            const QList<int> regs =
                registersOf(d.handlePdu(qvx::pduReadInput(Device::valueAddress(2, row, wide), step)));
            uint64_t v = 0;
            for (int r : regs)
                v = (v << 16) | uint64_t(r);
            return v;
        };
        const uint64_t none = wide ? ~uint64_t(0) : 0xFFFFFFFFu;
        QCOMPARE(value(1), uint64_t(m.find(1, 8, 0)->scaled()));
        QCOMPARE(value(2), none);
        QCOMPARE(value(3), uint64_t(m.find(32, 7, 0)->scaled()));
        QCOMPARE(value(4), none);
        QCOMPARE(value(5), none);
        QCOMPARE(Device::valueAddress(2, 3, wide), wide ? 1136 : 1132);
    }

    void negativeValuesAreSignedIn64BitAndMissingIn32Bit()
    {
        // Find a moment where a meter with solar export has negative net power.
        for (bool wide : {false, true}) {
            Device d(QString{});
            d.setFlag(Flag64BitValues, wide);
            QString id;
            qint64 t = 0;
            for (int k = 0; k < 200 && id.isEmpty(); ++k) {
                const QString candidate = QString::number(10000000 + k);
                SimMeter probe(candidate);
                for (qint64 ms = 0; ms < 900000; ms += 30000) {
                    probe.advanceTo(ms);
                    if (probe.find(16, 7, 0)->value < -0.1) {
                        id = candidate;
                        t = ms;
                        break;
                    }
                }
            }
            QVERIFY(!id.isEmpty());
            d.programMeter(1, id, {"16.7.0"});
            d.tick(t);
            d.readoutNow();
            const QList<int> regs = registersOf(d.handlePdu(qvx::pduReadInput(1000, wide ? 4 : 2)));
            if (wide) {
                QCOMPARE(regs[0], 0xFFFF); // sign extension of a small negative number
                QVERIFY(regs[3] != 0xFFFF || regs[2] != 0xFFFF);
            } else {
                QCOMPARE(regs, (QList<int>{0xFFFF, 0xFFFF}));
            }
        }
    }

    void valuesMoveWithTime()
    {
        Device d; // slot 1 programmed: 1.8.0 in row 1, 1.7.0 in row 5
        auto reg32 = [&](int row) {
            const QList<int> r =
                registersOf(d.handlePdu(qvx::pduReadInput(Device::valueAddress(1, row, false), 2)));
            return (uint32_t(r[0]) << 16) | uint32_t(r[1]);
        };
        const uint32_t energy = reg32(1), power = reg32(5);
        d.tick(10 * 60 * 1000);
        QVERIFY(reg32(1) > energy);
        QVERIFY(reg32(5) != power);
    }

    void periodicReadoutWaitsForThePeriodWithoutContinuousRead()
    {
        Device d;
        d.setFlag(FlagContinuousRead, false);
        d.tick(0);
        const QList<int> before = registersOf(d.handlePdu(qvx::pduReadInput(1000, 2)));
        d.tick(60 * 1000);
        QCOMPARE(registersOf(d.handlePdu(qvx::pduReadInput(1000, 2))), before);
        d.tick(15 * 60 * 1000);
        QVERIFY(registersOf(d.handlePdu(qvx::pduReadInput(1000, 2))) != before);
    }

    void stateSurvivesSaveAndLoad()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("state.json");
        Device a(QString{});
        a.handlePdu(qvx::pduWriteSingle(32785, 0, 17));
        a.handlePdu(qvx::pduWriteSingle(7, 0, 0x86));
        a.handlePdu(qvx::pduWriteSingle(100, 0, 42));
        a.handlePdu(qvx::pduWriteMultiple(55400, 4, hex("0A 01 02 03")));
        a.programMeter(5, "1234567890123456", {"1.8.0", "2.8.0"});
        QVERIFY(a.saveState(path));
        Device b;
        QString error;
        QVERIFY2(b.loadState(path, &error), qPrintable(error));
        QCOMPARE(b.unitAddress(), uint8_t(17));
        QVERIFY(b.flag(Flag16DigitId));
        QCOMPARE(b.readoutMinutes(), 42);
        QCOMPARE(b.meterId(5), QString("1234567890123456"));
        QVERIFY(!b.slotProgrammed(1));
        for (int addr : {55400, 55401, 1512, 1513, 1514})
            QCOMPARE(b.holding(addr), a.holding(addr));
    }

    void damagedStateFileChangesNothing()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("state.json");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(R"({"kind":"qvxsim state","general":"00"})");
        f.close();
        Device d;
        QVERIFY(!d.loadState(path));
        QCOMPARE(d.unitAddress(), uint8_t(1));
        QVERIFY(d.slotProgrammed(1));
    }
};

QTEST_GUILESS_MAIN(TstSimDevice)
#include "tst_sim_device.moc"
