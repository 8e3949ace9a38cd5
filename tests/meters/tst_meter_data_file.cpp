// The meter data file: its 2080 lines, the round trip, the lenient reading of
// files the tool did not write, and the two buttons with their messages.
#include "common/scripted_dialogs.h"
#include "meters/meter_data_file.h"
#include "meters/meters_tab.h"
#include "transport/session.h"

#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace qvx;

namespace {

// A block: its ID line, the given register lines, "r;;" up to row 63, and
// the empty line.
QByteArray block(const QByteArray &idLine, const QList<QByteArray> &rows = {})
{
    QByteArray b = idLine + "\r\n";
    for (int r = 1; r <= 63; ++r)
        b += (r <= rows.size() ? rows.at(r - 1) : QByteArray::number(r) + ";;") + "\r\n";
    return b + "\r\n";
}

} // namespace

class TstMeterDataFile : public QObject {
    Q_OBJECT

private slots:
    void emptyTableGives2080Lines()
    {
        const QList<QByteArray> lines = meterDataFileBytes(MeterTable()).split('\n');
        QCOMPARE(lines.size(), 2080 + 1);
        for (int i = 0; i < 2080; ++i)
            QCOMPARE(lines.at(i), (i % 65 == 0    ? ";"
                                   : i % 65 == 64 ? ""
                                                  : QByteArray::number(i % 65) + ";;") +
                                      "\r");
    }

    void savedTableLoadsBackWhole()
    {
        MeterTable saved, loaded;
        for (int s = 1; s <= 32; ++s) {
            saved.setId(s, QString::number(10000000 + s));
            for (int r = 1; r <= 64; ++r)
                saved.setCode(s, r, QStringLiteral("1-%1:%2.8.%3\xE9").arg(s % 10).arg(r).arg(s));
        }
        loaded.setCode(7, 64, QStringLiteral("kept"));
        QVERIFY(!loadMeterDataLines(splitTextLines(meterDataFileBytes(saved)), loaded));
        for (int s = 1; s <= 32; ++s) {
            QCOMPARE(loaded.id(s), saved.id(s));
            for (int r = 1; r <= 63; ++r)
                QCOMPARE(loaded.code(s, r), saved.code(s, r));
        }
        QCOMPARE(loaded.code(7, 64), QStringLiteral("kept")); // row 64 is not saved
    }

    // Each file is read into a table of "old" entries; one entry is checked.
    void loadsLeniently_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("slot");
        QTest::addColumn<int>("row"); // 0: the ID
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("error");
        const QByteArray one = block("12345678;", {"1;1.8.0;"});
        QTest::newRow("one block: slot 1") << one << 1 << 1 << "1.8.0" << QString();
        QTest::newRow("one block: slot 2 kept") << one << 2 << 0 << "old" << QString();
        QTest::newRow("ID: last character cut") << block("1234567X") << 1 << 0 << "1234567" << QString();
        QTest::newRow("empty ID line") << block("") << 1 << 0 << "" << QString();
        QTest::newRow("row by place")
            << block("A;", {"1;;", "2;;", "7;1.8.0;"}) << 1 << 3 << "1.8.0" << QString();
        QTest::newRow("not a number") << block("A;", {"x;1.8.0;"}) << 1 << 1 << "old" << QString();
        QTest::newRow("number -1") << block("A;", {"-1;1.8.0;"}) << 1 << 1 << "old" << QString();
        QTest::newRow("one ';'") << block("A;", {"5;1.8.0"}) << 1 << 1 << "old" << QString();
        QTest::newRow("any last character") << block("A;", {"5;1.8.0;x"}) << 1 << 1 << "1.8.0;" << QString();
        QTest::newRow("row 64") << block("A;").chopped(2) + "64;2.8.0;\r\n"
                                << 1 << 64 << "2.8.0" << QString();
        QTest::newRow("CR and LF ends")
            << "ID;\n1;1.8.0;\r2;2.8.0;\n" + QByteArray(62, '\n') << 1 << 2 << "2.8.0" << QString();
        QTest::newRow("ends in block 2") << one + "87654321;\r\n"
                                         << 2 << 0 << "87654321"
                                         << "List index out of bounds (66)";
        // A block is looked for while 64 times its number is below the last
        // line's: a file of two whole blocks reads on into a third.
        QTest::newRow("two blocks") << one + block("8;") << 2 << 0 << "8"
                                    << "List index out of bounds (130)";
        QTest::newRow("empty file") << QByteArray() << 1 << 0 << "old" << QString();
        QTest::newRow("binary") << QByteArray("\x00\xFF;\x01;\x02\r\n", 8) + QByteArray(64, '\n') << 1 << 0
                                << QString::fromLatin1("\x00\xFF;\x01;", 5) << "";
    }
    void loadsLeniently()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, slot);
        QFETCH(int, row);
        QFETCH(QString, text);
        QFETCH(QString, error);
        MeterTable t;
        for (int s = 1; s <= 32; ++s) {
            t.setId(s, QStringLiteral("old"));
            for (int r = 1; r <= 64; ++r)
                t.setCode(s, r, QStringLiteral("old"));
        }
        QCOMPARE(loadMeterDataLines(splitTextLines(file), t).value_or(QString()), error);
        QCOMPARE(row == 0 ? t.id(slot) : t.code(slot, row), text);
    }

    void buttonsSaveAndLoadThroughTheDialogs()
    {
        qvxtest::ScopedDialogs scripted;
        QTemporaryDir dir;
        Session session;
        session.WorkDir = dir.path() + QLatin1Char('/');
        MetersTab tab(session);
        auto *save = tab.findChild<QPushButton *>(QStringLiteral("BitBtn17"));
        auto *load = tab.findChild<QPushButton *>(QStringLiteral("BitBtn18"));
        QCOMPARE(save->text(), QStringLiteral("Save to file meter data"));
        QCOMPARE(load->text(), QStringLiteral("Load data from file"));
        tab.meterTable().setId(1, QStringLiteral("12345678"));
        const QString path = dir.filePath(QStringLiteral("m.csv"));
        scripted.dialogs.fileAnswers << path << dir.filePath(QStringLiteral("gone/m.csv"));
        save->click();
        save->click(); // unwritable target
        save->click(); // cancelled
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), meterDataFileBytes(tab.meterTable()));

        tab.meterTable().setId(1, QStringLiteral("before"));
        scripted.dialogs.fileAnswers << dir.filePath(QStringLiteral("missing.csv")) << path;
        load->click();
        QCOMPARE(tab.meterTable().id(1), QStringLiteral("before"));
        load->click();
        QCOMPARE(tab.meterTable().id(1), QStringLiteral("12345678"));

        const auto &d = scripted.dialogs.raised;
        QCOMPARE(d.size(), 7);
        QCOMPARE(d.at(0).file.title, QStringLiteral("Save/Export file"));
        QCOMPARE(d.at(0).file.filter, QStringLiteral("CSV files (*.csv)"));
        QCOMPARE(d.at(0).file.directory, session.WorkDir);
        QCOMPARE(d.at(1).file.fileName, QStringLiteral("m.csv")); // the previous file proposed
        QVERIFY(d.at(2).text.startsWith(QStringLiteral("Can not save - exception!")) &&
                d.at(2).text.size() > 25);
        QCOMPARE(d.at(4).file.filter, QStringLiteral("CSV (*.csv)"));
        QVERIFY(d.at(5).text.startsWith(QStringLiteral("Exception looading file - ")));
    }
};

QTEST_MAIN(TstMeterDataFile)
#include "tst_meter_data_file.moc"
