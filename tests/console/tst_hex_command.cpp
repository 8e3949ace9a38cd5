// The custom command's byte rules, the eight-digit hex reader and the
// register-pair lister, as plain functions.
#include "common/hex.h"
#include "console/hex_command.h"
#include "console/register_pairs.h"
#include "transport/modbus.h"

#include <QTest>

using namespace qvx;
using qvxtest::hex;

Q_DECLARE_METATYPE(HexCommandError)

class TestHexCommand : public QObject {
    Q_OBJECT
private slots:
    void parseHex8_data();
    void parseHex8();
    void hexCommand_data();
    void hexCommand();
    void refusalsHaveTheirLines();
    void registerPairs_data();
    void registerPairs();
};

void TestHexCommand::parseHex8_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<uint>("value");
    QTest::newRow("zero") << "00000000" << true << 0u;
    QTest::newRow("all ones") << "FFFFFFFF" << true << 0xFFFFFFFFu;
    QTest::newRow("most significant first") << "12345678" << true << 0x12345678u;
    QTest::newRow("lower case") << "0000abCD" << true << 0xABCDu;
    QTest::newRow("ninth character not read") << "123456789" << true << 0x12345678u;
    QTest::newRow("idle time word") << "000927C0" << true << 600000u;
    QTest::newRow("seven characters") << "1234567" << false << 0u;
    QTest::newRow("empty") << "" << false << 0u;
    QTest::newRow("colon") << "000000:0" << false << 0u;
    QTest::newRow("at sign") << "000000@1" << false << 0u;
    QTest::newRow("G") << "0000000G" << false << 0u;
    QTest::newRow("space") << "00000 01" << false << 0u;
    QTest::newRow("sign") << "+0000001" << false << 0u;
    QTest::newRow("arabic-indic digit") << QStringLiteral("0000000\u0661") << false << 0u;
}

void TestHexCommand::parseHex8()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(uint, value);
    const std::optional<uint32_t> got = ParseHex8(text);
    QCOMPARE(got.has_value(), ok);
    if (ok)
        QCOMPARE(*got, value);
}

void TestHexCommand::hexCommand_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<HexCommandError>("error");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("badGroup");
    using E = HexCommandError;
    QTest::newRow("eight groups") << "01 03 00 00 00 0A C5 CD" << E::None << hex("01 03 00 00 00 0A C5 CD")
                                  << "";
    QTest::newRow("one-character groups") << "1 3" << E::None << hex("01 03") << "";
    QTest::newRow("long group: first two only") << "0103" << E::None << hex("01") << "";
    QTest::newRow("rest of a long group ignored") << "AB:C" << E::None << hex("AB") << "";
    QTest::newRow("runs of spaces") << "  01   03  " << E::None << hex("01 03") << "";
    QTest::newRow("one character and a space") << "5 " << E::None << hex("05") << "";
    QTest::newRow("empty") << "" << E::None << QByteArray() << "";
    QTest::newRow("spaces only") << "   " << E::None << QByteArray() << "";
    QTest::newRow("one character") << "5" << E::TooShort << QByteArray() << "";
    QTest::newRow("one space") << " " << E::TooShort << QByteArray() << "";
    QTest::newRow("lower case") << "a1" << E::BadCharacter << QByteArray() << "";
    QTest::newRow("G") << "0G" << E::BadCharacter << QByteArray() << "";
    QTest::newRow("tab") << "01\t02" << E::BadCharacter << QByteArray() << "";
    QTest::newRow("beyond latin-1") << QStringLiteral("01 \u20ac") << E::BadCharacter << QByteArray() << "";
    // Checked whole before anything is sent: the groups before it give no byte.
    QTest::newRow("colon in a later group") << "01 3: 02" << E::Conversion << QByteArray() << "3:";
    QTest::newRow("at sign alone") << "@ " << E::Conversion << QByteArray() << "@";
    QTest::newRow("question mark at the end") << "01 02 ?" << E::Conversion << QByteArray() << "?";
}

void TestHexCommand::hexCommand()
{
    QFETCH(QString, text);
    QFETCH(HexCommandError, error);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, badGroup);
    const HexCommand got = ParseHexCommand(text);
    QCOMPARE(got.error, error);
    QCOMPARE(got.bytes, bytes);
    QCOMPARE(got.badGroup, badGroup);
}

void TestHexCommand::refusalsHaveTheirLines()
{
    QCOMPARE(hexCommandMessage(HexCommandError::TooShort),
             QStringLiteral("Wrong custom hex command, 2 symbols at least..."));
    QCOMPARE(hexCommandMessage(HexCommandError::BadCharacter),
             QStringLiteral("Wrong custom hex command, 0..F uppercase allowed"));
    QVERIFY(hexConversionMessage(QStringLiteral("3:")).contains(QLatin1String("'3:'")));
}

void TestHexCommand::registerPairs_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("checkLines");
    QTest::addColumn<QStringList>("lines");
    const QByteArray odd = withCrc(hex("01 03 03 01 02 FF"));
    QTest::newRow("one register") << withCrc(hex("01 03 02 00 0A")) << QStringList()
                                  << QStringList{"Modbus 1 -> Mbus 0", "Modbus 2 -> Mbus 10"};
    QTest::newRow("odd count lists the next byte too")
        << odd << QStringList()
        << QStringList{"Modbus 1 -> Mbus 1", "Modbus 2 -> Mbus 2", "Modbus 3 -> Mbus 255",
                       QStringLiteral("Modbus 4 -> Mbus %1").arg(uint8_t(odd.at(6)))};
    QTest::newRow("count beyond what arrived") << withCrc(hex("01 03 08 01 02")) << QStringList()
                                               << QStringList{"Modbus 1 -> Mbus 1", "Modbus 2 -> Mbus 2"};
    QTest::newRow("no data") << withCrc(hex("01 03 00")) << QStringList() << QStringList();
    QTest::newRow("bad CRC") << hex("01 03 02 00 0A 00 01") << QStringList{"Error in CRC field\r"}
                             << QStringList();
    QTest::newRow("exception") << withCrc(hex("01 83 02")) << QStringList{"Error - ILLEGAL DATA ADDRESS\r"}
                               << QStringList();
}

void TestHexCommand::registerPairs()
{
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, checkLines);
    QFETCH(QStringList, lines);
    const RegisterPairListing got = ListRegisterPairs(reply);
    QCOMPARE(got.check.logLines, checkLines);
    QCOMPARE(got.lines, lines);
}

QTEST_APPLESS_MAIN(TestHexCommand)
#include "tst_hex_command.moc"
