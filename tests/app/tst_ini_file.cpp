// The settings file format: Windows private-profile files read and written
// byte-compatibly, the integer forms, the key table and the key filters'
// character rules.
#include "core/ini_file.h"
#include "core/key_filters.h"
#include "core/settings_keys.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace qvx;

class TestIniFile : public QObject {
    Q_OBJECT
private slots:
    void missingFileGivesDefaults();
    void roundTripThroughFile();
    void readsWindowsWrittenFile();
    void lookupsIgnoreCase();
    void valuesAreTrimmedAndUnquoted();
    void unknownSectionsKeysAndCommentsAreKept();
    void newKeyGoesAfterLastKeyOfItsSection();
    void valueWithLineBreaksStaysOneLine();
    void newSectionIsAppendedWithItsSpaces();
    void firstOfDuplicateKeysWins();
    void latin1BytesRoundTrip();
    void lfOnlyFileIsWrittenWithCrlf();

    void integerForms_data();
    void integerForms();
    void wrongKindsGiveDefaults_data();
    void wrongKindsGiveDefaults();
    void keyTableOrderAndDefaults();
    void settingsFileIsProgramNameWithIni();

    void keyFilterRules_data();
    void keyFilterRules();
};

void TestIniFile::valueWithLineBreaksStaysOneLine()
{
    // A pasted control text must not start a section that takes the keys
    // below it away.
    IniFile ini;
    ini.parse("[Modbus]\r\nCount=1\r\nTimeout=600\r\n");
    ini.setValue(QStringLiteral("Modbus"), QStringLiteral("Count"), QStringLiteral("5\r\n[Other]\nx=1"));
    IniFile reread;
    reread.parse(ini.serialize());
    QCOMPARE(reread.value(QStringLiteral("Modbus"), QStringLiteral("Timeout")), QStringLiteral("600"));
    QCOMPARE(reread.value(QStringLiteral("Modbus"), QStringLiteral("Count")),
             QStringLiteral("5  [Other] x=1"));
    QCOMPARE(reread.sections(), QStringList{QStringLiteral("Modbus")});
}

void TestIniFile::missingFileGivesDefaults()
{
    QTemporaryDir dir;
    IniFile ini;
    QVERIFY(!ini.load(dir.filePath(QStringLiteral("absent.ini"))));
    QCOMPARE(ini.value(QStringLiteral("Modbus port"), QStringLiteral("Name"), QStringLiteral("COM1")),
             QStringLiteral("COM1"));
    QVERIFY(ini.sections().isEmpty());
}

void TestIniFile::roundTripThroughFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.ini"));
    IniFile out;
    out.setValue(QStringLiteral("Modbus port"), QStringLiteral("Name"), QStringLiteral("COM3"));
    out.setValue(QStringLiteral("Modbus"), QStringLiteral("Timeout"), QStringLiteral("650"));
    out.setValue(QStringLiteral("Modbus port"), QStringLiteral("Speed"), QStringLiteral("9600"));
    QVERIFY(out.save(path));

    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(),
             QByteArray("[Modbus port]\r\nName=COM3\r\nSpeed=9600\r\n[Modbus]\r\nTimeout=650\r\n"));

    IniFile in;
    QVERIFY(in.load(path));
    QCOMPARE(in.value(QStringLiteral("Modbus port"), QStringLiteral("Speed")), QStringLiteral("9600"));
    QCOMPARE(in.value(QStringLiteral("Modbus"), QStringLiteral("Timeout")), QStringLiteral("650"));
    QCOMPARE(in.serialize(), out.serialize());
}

void TestIniFile::readsWindowsWrittenFile()
{
    IniFile ini;
    ini.parse("[Modbus port]\r\nName=COM4\r\nSpeed=38400\r\nParity=None\r\n\r\n"
              "[Modbus]\r\nAutoOpen=1\r\nTimeout=1000\r\n[Misc]\r\nDir=C:\\Data\\qvx\\\r\n");
    QCOMPARE(ini.sections(), (QStringList{"Modbus port", "Modbus", "Misc"}));
    QCOMPARE(ini.value(QStringLiteral("Modbus port"), QStringLiteral("Parity")), QStringLiteral("None"));
    QCOMPARE(ini.value(QStringLiteral("Modbus"), QStringLiteral("AutoOpen")), QStringLiteral("1"));
    QCOMPARE(ini.value(QStringLiteral("Misc"), QStringLiteral("Dir")), QStringLiteral("C:\\Data\\qvx\\"));
    // Unchanged content is written back byte for byte.
    QCOMPARE(ini.serialize(),
             QByteArray("[Modbus port]\r\nName=COM4\r\nSpeed=38400\r\nParity=None\r\n\r\n"
                        "[Modbus]\r\nAutoOpen=1\r\nTimeout=1000\r\n[Misc]\r\nDir=C:\\Data\\qvx\\\r\n"));
}

void TestIniFile::lookupsIgnoreCase()
{
    IniFile ini;
    ini.parse("[MODBUS PORT]\r\nnAmE=COM2\r\n");
    QCOMPARE(ini.value(QStringLiteral("Modbus port"), QStringLiteral("Name")), QStringLiteral("COM2"));
    ini.setValue(QStringLiteral("modbus port"), QStringLiteral("NAME"), QStringLiteral("COM5"));
    // The file's own spelling of section and key is kept.
    QCOMPARE(ini.serialize(), QByteArray("[MODBUS PORT]\r\nnAmE=COM5\r\n"));
}

void TestIniFile::valuesAreTrimmedAndUnquoted()
{
    IniFile ini;
    ini.parse("  [ Ethernet ]  \n  IP =  10.0.0.7  \nPort=\"502\"\nNote=' x '\nEmpty=\n");
    QCOMPARE(ini.value(QStringLiteral("Ethernet"), QStringLiteral("IP")), QStringLiteral("10.0.0.7"));
    QCOMPARE(ini.value(QStringLiteral("Ethernet"), QStringLiteral("Port")), QStringLiteral("502"));
    QCOMPARE(ini.value(QStringLiteral("Ethernet"), QStringLiteral("Note")), QStringLiteral(" x "));
    QVERIFY(ini.contains(QStringLiteral("Ethernet"), QStringLiteral("Empty")));
    QCOMPARE(ini.value(QStringLiteral("Ethernet"), QStringLiteral("Empty"), QStringLiteral("d")), QString());
}

void TestIniFile::unknownSectionsKeysAndCommentsAreKept()
{
    IniFile ini;
    ini.parse("; written by hand\r\n[Other tool]\r\nWindow=1\r\n[Modbus]\r\n; keep me\r\nTimeout=600\r\n"
              "Extra=yes\r\ngarbage line\r\n");
    ini.setValue(QStringLiteral("Modbus"), QStringLiteral("Timeout"), QStringLiteral("700"));
    QCOMPARE(ini.serialize(),
             QByteArray("; written by hand\r\n[Other tool]\r\nWindow=1\r\n[Modbus]\r\n; keep me\r\n"
                        "Timeout=700\r\nExtra=yes\r\ngarbage line\r\n"));
    QCOMPARE(ini.keys(QStringLiteral("Modbus")), (QStringList{"Timeout", "Extra"}));
}

void TestIniFile::newKeyGoesAfterLastKeyOfItsSection()
{
    IniFile ini;
    ini.parse("[Modbus]\r\nTimeout=600\r\n\r\n; next\r\n[Misc]\r\n");
    ini.setValue(QStringLiteral("Modbus"), QStringLiteral("Address"), QStringLiteral("7"));
    QCOMPARE(ini.serialize(), QByteArray("[Modbus]\r\nTimeout=600\r\nAddress=7\r\n\r\n; next\r\n[Misc]\r\n"));
}

void TestIniFile::newSectionIsAppendedWithItsSpaces()
{
    IniFile ini;
    ini.parse("[Misc]\r\nDir=/x/\r\n");
    ini.setValue(QStringLiteral("Modbus port"), QStringLiteral("SB"), QStringLiteral("2"));
    QCOMPARE(ini.serialize(), QByteArray("[Misc]\r\nDir=/x/\r\n[Modbus port]\r\nSB=2\r\n"));
}

void TestIniFile::firstOfDuplicateKeysWins()
{
    IniFile ini;
    ini.parse("[Modbus]\nAddress=3\nAddress=4\n[Modbus]\nAddress=5\n");
    QCOMPARE(ini.value(QStringLiteral("Modbus"), QStringLiteral("Address")), QStringLiteral("3"));
}

void TestIniFile::latin1BytesRoundTrip()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("l1.ini"));
    const QByteArray bytes("[Misc]\r\nDir=C:\\Z\xe4hler\\M\xfc\x64\x65\\\r\n[Caf\xe9]\r\nK=\xff\xa0\x80\r\n");
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    IniFile ini;
    QVERIFY(ini.load(path));
    QCOMPARE(ini.value(QStringLiteral("Misc"), QStringLiteral("Dir")),
             QStringLiteral("C:\\Z\u00e4hler\\M\u00fcde\\"));
    QCOMPARE(ini.value(QStringLiteral("caf\u00e9"), QStringLiteral("k")).toLatin1(),
             QByteArray("\xff\xa0\x80"));
    QVERIFY(ini.save(path));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), bytes);
}

void TestIniFile::lfOnlyFileIsWrittenWithCrlf()
{
    IniFile ini;
    ini.parse("[Ethernet]\nPort=502\n");
    QCOMPARE(ini.serialize(), QByteArray("[Ethernet]\r\nPort=502\r\n"));
}

void TestIniFile::integerForms_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<qint64>("value");
    QTest::newRow("decimal") << "600" << true << qint64(600);
    QTest::newRow("negative") << "-5" << true << qint64(-5);
    QTest::newRow("plus sign") << "+7" << true << qint64(7);
    QTest::newRow("dollar hex") << "$1F4" << true << qint64(500);
    QTest::newRow("0x hex") << "0x258" << true << qint64(600);
    QTest::newRow("x hex") << "XfF" << true << qint64(255);
    QTest::newRow("beyond 32 bits") << "99999999999" << true << qint64(99999999999);
    QTest::newRow("empty") << "" << false << qint64(0);
    QTest::newRow("text") << "fast" << false << qint64(0);
    QTest::newRow("trailing text") << "600ms" << false << qint64(0);
    QTest::newRow("decimal point") << "6.5" << false << qint64(0);
    QTest::newRow("inner space") << "6 00" << false << qint64(0);
    QTest::newRow("hex digits without prefix") << "1F" << false << qint64(0);
    QTest::newRow("prefix alone") << "$" << false << qint64(0);
    QTest::newRow("beyond 64 bits") << "99999999999999999999" << false << qint64(0);
    QTest::newRow("arabic-indic digits") << QString::fromUtf8("\u0666\u0660\u0660") << false << qint64(0);
}

void TestIniFile::integerForms()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(qint64, value);
    const auto n = iniToInteger(text);
    QCOMPARE(n.has_value(), valid);
    if (valid)
        QCOMPARE(*n, value);
}

void TestIniFile::wrongKindsGiveDefaults_data()
{
    QTest::addColumn<QString>("key"); // section/key
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("expected");
    QTest::newRow("timeout text") << "Modbus/Timeout"
                                  << "slow"
                                  << "600";
    QTest::newRow("timeout hex") << "Modbus/Timeout"
                                 << "$3E8"
                                 << "1000";
    QTest::newRow("connect timeout empty") << "Ethernet/Timeout"
                                           << ""
                                           << "50";
    QTest::newRow("autoopen any nonzero") << "Modbus/AutoOpen"
                                          << "-3"
                                          << "1";
    QTest::newRow("autoopen zero") << "Modbus/AutoOpen"
                                   << "0"
                                   << "0";
    QTest::newRow("autoopen text") << "Modbus/AutoOpen"
                                   << "yes"
                                   << "0";
    QTest::newRow("speed not in list kept") << "Modbus port/Speed"
                                            << "14400"
                                            << "14400";
    QTest::newRow("count text kept") << "Modbus/Count"
                                     << "abc"
                                     << "abc";
    QTest::newRow("text cut at 2047") << "Ethernet/IP" << QString(3000, u'9') << QString(2047, u'9');
}

void TestIniFile::wrongKindsGiveDefaults()
{
    QFETCH(QString, key);
    QFETCH(QString, raw);
    QFETCH(QString, expected);
    for (const SettingKey &k : settingKeys(QStringLiteral("/p/")))
        if (k.section + u'/' + k.key == key) {
            QCOMPARE(normalizedSetting(k, raw), expected);
            return;
        }
    QFAIL("no such key");
}

void TestIniFile::keyTableOrderAndDefaults()
{
    QStringList order;
    QStringList defaults;
    for (const SettingKey &k : settingKeys(QStringLiteral("/opt/qvx/"))) {
        order << k.section + u'/' + k.key;
        defaults << k.defaultValue;
    }
    QCOMPARE(order,
             (QStringList{"Modbus port/Name", "Modbus port/Speed", "Modbus port/Parity", "Modbus port/SB",
                          "Modbus port/DB", "Modbus/AutoOpen", "Modbus/Timeout", "Modbus/Address",
                          "Modbus/STADDR", "Modbus/Count", "Misc/Dir", "Ethernet/IP", "Ethernet/Port",
                          "Ethernet/Timeout", "Options/EndOnCompleteReply", "Options/AdapterEchoes"}));
    QCOMPARE(defaults, (QStringList{"COM1", "19200", "Even", "1", "8", "0", "600", "1", "1", "125",
                                    "/opt/qvx/", DefaultRemoteIp, "502", "50", "0", "0"}));
}

void TestIniFile::settingsFileIsProgramNameWithIni()
{
    QCOMPARE(settingsFilePath(QStringLiteral("/data/"), QStringLiteral("/usr/bin/qvxtool")),
             QStringLiteral("/data/qvxtool.ini"));
    QCOMPARE(settingsFilePath(QStringLiteral("/d/"), QStringLiteral("C:/Tools/QVX24.exe")),
             QStringLiteral("/d/QVX24.ini"));
}

void TestIniFile::keyFilterRules_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("accepted");
    QTest::addColumn<QString>("refused");
    const QString always = QStringLiteral("0123456789\b\n\r");
    QTest::newRow("digits") << int(KeyFilterKind::Digits) << always << QStringLiteral("a.-:F x$");
    QTest::newRow("digits and dot") << int(KeyFilterKind::DigitsDot) << always + u'.'
                                    << QStringLiteral("a-:F ,");
    QTest::newRow("meter id") << int(KeyFilterKind::MeterId) << always + u'F' << QStringLiteral("f.E-");
    QTest::newRow("obis code") << int(KeyFilterKind::ObisCode) << always + QStringLiteral("-:.")
                               << QStringLiteral("*A (/");
}

void TestIniFile::keyFilterRules()
{
    QFETCH(int, kind);
    QFETCH(QString, accepted);
    QFETCH(QString, refused);
    for (QChar c : accepted)
        QVERIFY2(keyFilterAccepts(KeyFilterKind(kind), c), qPrintable(QString(c)));
    for (QChar c : refused)
        QVERIFY2(!keyFilterAccepts(KeyFilterKind(kind), c), qPrintable(QString(c)));
}

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_ini_file.moc"
