// The hex command's rules, ParseHex8 and the register-pair lister.
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
    void parseHex8_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("value"); // -1: conversion error
        QTest::newRow("most significant first") << "12345678" << qint64(0x12345678);
        QTest::newRow("both cases, ninth ignored") << "FFFFabcd9" << qint64(0xFFFFABCD);
        QTest::newRow("seven characters") << "1234567" << qint64(-1);
        QTest::newRow("colon") << "000000:0" << qint64(-1);
        QTest::newRow("non-ASCII digit") << QStringLiteral("0000000\u0661") << qint64(-1);
    }
    void parseHex8()
    {
        QFETCH(QString, text);
        QFETCH(qint64, value);
        const std::optional<uint32_t> got = ParseHex8(text);
        QCOMPARE(got ? qint64(*got) : qint64(-1), value);
    }

    // The examples of the manual run on a real line in tst_custom_command;
    // these are the remaining rules.
    void hexCommand_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<HexCommandError>("error");
        QTest::addColumn<QByteArray>("bytes");
        using E = HexCommandError;
        QTest::newRow("rest of a long group ignored") << "AB:C 7" << E::None << hex("AB 07");
        QTest::newRow("spaces only") << "   " << E::None << QByteArray();
        QTest::newRow("one space") << " " << E::TooShort << QByteArray();
        QTest::newRow("tab") << "01\t02" << E::BadCharacter << QByteArray();
        QTest::newRow("beyond latin-1") << QStringLiteral("01 \u20ac") << E::BadCharacter << QByteArray();
        // Checked whole: the good groups before it give no byte.
        QTest::newRow("colon in a later group") << "01 3: 02" << E::Conversion << QByteArray();
        QTest::newRow("at sign alone") << "@ " << E::Conversion << QByteArray();
    }
    void hexCommand()
    {
        QFETCH(QString, text);
        QFETCH(HexCommandError, error);
        QFETCH(QByteArray, bytes);
        const HexCommand got = ParseHexCommand(text);
        QCOMPARE(got.error, error);
        QCOMPARE(got.bytes, bytes);
    }

    void registerPairs_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QStringList>("lines");
        const QByteArray odd = withCrc(hex("01 03 03 01 02 FF"));
        QTest::newRow("odd count lists the next byte too")
            << odd
            << QStringList{"Modbus 1 -> Mbus 1", "Modbus 2 -> Mbus 2", "Modbus 3 -> Mbus 255",
                           QStringLiteral("Modbus 4 -> Mbus %1").arg(uint8_t(odd.at(6)))};
        QTest::newRow("count beyond what arrived")
            << withCrc(hex("01 03 08 01 02")) << QStringList{"Modbus 1 -> Mbus 1", "Modbus 2 -> Mbus 2"};
        QTest::newRow("exception") << withCrc(hex("01 83 02")) << QStringList();
    }
    void registerPairs()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QStringList, lines);
        QCOMPARE(ListRegisterPairs(reply).lines, lines);
    }
};

QTEST_APPLESS_MAIN(TestHexCommand)
#include "tst_hex_command.moc"
