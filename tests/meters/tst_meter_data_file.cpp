// The meter data file: its 2080 lines, the save/load round trip, the lenient
// reading of files the tool did not write, and the two buttons with their
// dialogs and messages.
#include "app/string_grid.h"
#include "common/scripted_dialogs.h"
#include "meters/meter_data_file.h"
#include "meters/meter_values_panel.h"
#include "meters/meters_tab.h"
#include "transport/session.h"

#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

using namespace qvx;

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Every ID and every code filled, row 64 included.
MeterTable fullTable()
{
    MeterTable t;
    for (int s = 1; s <= MeterTable::Slots; ++s) {
        t.setId(s, QStringLiteral("%1").arg(10000000 + s));
        for (int r = 1; r <= MeterTable::Rows; ++r)
            t.setCode(s, r, QStringLiteral("1-%1:%2.8.%3").arg(s % 10).arg(r).arg(s));
    }
    return t;
}

// A block of a file: its ID line, then the given register lines, then
// "r;;" lines up to row 63, then the empty line.
QByteArray block(const QByteArray &idLine, const QList<QByteArray> &rows = {})
{
    QByteArray b = idLine + "\r\n";
    for (int r = 1; r <= 63; ++r)
        b += (r <= rows.size() ? rows.at(r - 1) : QByteArray::number(r) + ";;") + "\r\n";
    return b + "\r\n";
}

class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit limited = m_saved;
        limited.rlim_cur = bytes;
        m_ok = setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_saved); }
    bool ok() const { return m_ok; }

private:
    rlimit m_saved{};
    bool m_ok = false;
};

} // namespace

class TstMeterDataFile : public QObject {
    Q_OBJECT

private slots:
    void emptyTableGives2080Lines()
    {
        const QByteArray bytes = meterDataFileBytes(MeterTable());
        QVERIFY(bytes.endsWith("\r\n"));
        QList<QByteArray> lines = bytes.split('\n');
        QCOMPARE(lines.takeLast(), QByteArray());
        QCOMPARE(lines.size(), 2080);
        for (int i = 0; i < lines.size(); ++i) {
            const int r = i % 65;
            const QByteArray expected = r == 0 ? ";" : r == 64 ? "" : QByteArray::number(r) + ";;";
            QCOMPARE(lines.at(i), expected + "\r");
        }
    }

    void savedTableLoadsBackWhole()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("meters.csv"));
        const MeterTable saved = fullTable();
        QVERIFY(!saveMeterDataFile(path, saved));
        const MeterDataRead read = readMeterDataFile(path);
        QVERIFY(!read.error);
        MeterTable loaded;
        loaded.setCode(7, 64, QStringLiteral("kept"));
        QVERIFY(!loadMeterDataLines(read.lines, loaded));
        for (int s = 1; s <= MeterTable::Slots; ++s) {
            QCOMPARE(loaded.id(s), saved.id(s));
            for (int r = 1; r <= 63; ++r)
                QCOMPARE(loaded.code(s, r), saved.code(s, r));
        }
        // Row 64 is not saved, and the file's empty line does not touch it.
        QCOMPARE(loaded.code(7, 64), QStringLiteral("kept"));
    }

    // Each file is read into a table whose every entry was "old"; then one
    // entry is looked at.
    void loadsLeniently_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("slot");
        QTest::addColumn<int>("row"); // 0: the ID
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("error");

        const QByteArray one = block("12345678;", {"1;1.8.0;"});
        QTest::newRow("one block: slot 1 read") << one << 1 << 1 << "1.8.0" << QString();
        QTest::newRow("one block: slot 2 kept") << one << 2 << 0 << "old" << QString();
        QTest::newRow("ID without its last character, whatever it is")
            << block("1234567X") << 1 << 0 << "1234567" << QString();
        QTest::newRow("empty ID line") << block("") << 1 << 0 << "" << QString();
        QTest::newRow("row by place, not by number")
            << block("A;", {"1;;", "2;;", "7;1.8.0;"}) << 1 << 3 << "1.8.0" << QString();
        QTest::newRow("first field not a number")
            << block("A;", {"x;1.8.0;"}) << 1 << 1 << "old" << QString();
        QTest::newRow("first field -1") << block("A;", {"-1;1.8.0;"}) << 1 << 1 << "old" << QString();
        QTest::newRow("one ';' only") << block("A;", {"5;1.8.0"}) << 1 << 1 << "old" << QString();
        QTest::newRow("three ';'") << block("A;", {"5;1.8.0;;"}) << 1 << 1 << "old" << QString();
        QTest::newRow("last character cut whatever it is")
            << block("A;", {"5;1.8.0;x"}) << 1 << 1 << "1.8.0;" << QString();
        QTest::newRow("empty code stored") << block("A;", {"5;;"}) << 1 << 1 << "" << QString();
        QTest::newRow("row 64 from the block's last line")
            << QByteArray(block("A;").chopped(2) + "64;2.8.0;\r\n") << 1 << 64 << "2.8.0" << QString();
        QTest::newRow("LF and CR line ends") << QByteArray("ID;\n1;1.8.0;\r2;2.8.0;\n") + QByteArray(62, '\n')
                                             << 1 << 2 << "2.8.0" << QString();
        QTest::newRow("ends inside the second block: its ID stays")
            << QByteArray(one + "87654321;\r\n") << 2 << 0 << "87654321"
            << QStringLiteral("List index out of bounds (66)");
        // A block is looked for while 64 times its number is below the last
        // line's: a file of two whole blocks reads on into a third.
        QTest::newRow("two blocks read on into a third")
            << QByteArray(one + block("87654321;")) << 2 << 0 << "87654321"
            << QStringLiteral("List index out of bounds (130)");
        QTest::newRow("ends inside the first block") << QByteArray("ID;\r\n1;1.8.0;\r\n") << 1 << 1 << "1.8.0"
                                                     << QStringLiteral("List index out of bounds (2)");
        QTest::newRow("empty file") << QByteArray() << 1 << 0 << "old" << QString();
        QTest::newRow("one line") << QByteArray("ID;") << 1 << 0 << "old" << QString();
        QTest::newRow("binary") << QByteArray("\x00\xFF;\x01;\x02\r\n", 8) + QByteArray(64, '\n') << 1 << 0
                                << QString::fromLatin1("\x00\xFF;\x01;", 5) << QString();
    }
    void loadsLeniently()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, slot);
        QFETCH(int, row);
        QFETCH(QString, text);
        QFETCH(QString, error);

        MeterTable t;
        for (int s = 1; s <= MeterTable::Slots; ++s) {
            t.setId(s, QStringLiteral("old"));
            for (int r = 1; r <= MeterTable::Rows; ++r)
                t.setCode(s, r, QStringLiteral("old"));
        }
        const std::optional<QString> got = loadMeterDataLines(splitTextLines(file), t);
        QCOMPARE(got.value_or(QString()), error);
        QCOMPARE(row == 0 ? t.id(slot) : t.code(slot, row), text);
    }

    void failedSaveKeepsTheOldFile()
    {
        QTemporaryDir dir;
        QVERIFY(saveMeterDataFile(dir.filePath(QStringLiteral("no/such/folder/m.csv")), MeterTable()));
        const QString path = dir.filePath(QStringLiteral("m.csv"));
        QVERIFY(writeFile(path, "old"));
        {
            FileSizeLimit limit(1000);
            QVERIFY(limit.ok());
            const std::optional<QString> error = saveMeterDataFile(path, fullTable());
            QVERIFY(error && !error->isEmpty());
        }
        QCOMPARE(readAll(path), QByteArray("old"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("m.csv")});
    }

    // --- the two buttons ---------------------------------------------------------

    void saveButtonWritesTheChosenFile()
    {
        qvxtest::ScopedDialogs scripted;
        QTemporaryDir dir;
        Session session;
        session.WorkDir = dir.path() + QLatin1Char('/');
        MetersTab tab(session);
        tab.meterTable() = fullTable();
        auto *save = tab.findChild<QPushButton *>(QStringLiteral("BitBtn17"));
        QCOMPARE(save->text(), QStringLiteral("Save to file meter data"));

        save->click(); // cancelled
        const QString path = dir.filePath(QStringLiteral("m.csv"));
        scripted.dialogs.fileAnswers << path;
        save->click();
        scripted.dialogs.fileAnswers << dir.filePath(QStringLiteral("gone/m.csv"));
        save->click();

        const auto &raised = scripted.dialogs.raised;
        QCOMPARE(raised.size(), 4);
        QCOMPARE(raised.at(0).kind, QStringLiteral("save"));
        QCOMPARE(raised.at(0).file.title, QStringLiteral("Save/Export file"));
        QCOMPARE(raised.at(0).file.filter, QStringLiteral("CSV files (*.csv)"));
        QCOMPARE(raised.at(0).file.directory, session.WorkDir);
        // The dialog proposes the file of its previous use.
        QCOMPARE(raised.at(2).file.fileName, QStringLiteral("m.csv"));
        QCOMPARE(readAll(path), meterDataFileBytes(fullTable()));
        QCOMPARE(raised.at(3).kind, QStringLiteral("message"));
        QVERIFY(raised.at(3).text.startsWith(QStringLiteral("Can not save - exception!")));
        QVERIFY(raised.at(3).text.size() > QStringLiteral("Can not save - exception!").size());
    }

    void loadButtonReadsTheChosenFile()
    {
        qvxtest::ScopedDialogs scripted;
        QTemporaryDir dir;
        Session session;
        MetersTab tab(session);
        auto *load = tab.findChild<QPushButton *>(QStringLiteral("BitBtn18"));
        QCOMPARE(load->text(), QStringLiteral("Load data from file"));
        tab.meterTable().setId(1, QStringLiteral("before"));

        scripted.dialogs.fileAnswers << dir.filePath(QStringLiteral("missing.csv"));
        load->click();
        QCOMPARE(tab.meterTable().id(1), QStringLiteral("before"));

        const QString path = dir.filePath(QStringLiteral("m.csv"));
        QVERIFY(writeFile(path, block("12345678;", {"1;1.8.0;"}) + "87654321;\r\n"));
        scripted.dialogs.fileAnswers << path;
        load->click();

        const auto &raised = scripted.dialogs.raised;
        QCOMPARE(raised.size(), 4);
        QCOMPARE(raised.at(0).kind, QStringLiteral("open"));
        QCOMPARE(raised.at(0).file.filter, QStringLiteral("CSV (*.csv)"));
        QVERIFY(raised.at(1).text.startsWith(QStringLiteral("Exception looading file - ")));
        QCOMPARE(raised.at(3).text, QStringLiteral("List index out of bounds (66)"));
        QCOMPARE(tab.meterTable().id(1), QStringLiteral("12345678"));
        QCOMPARE(tab.meterTable().code(1, 1), QStringLiteral("1.8.0"));
        QCOMPARE(tab.meterTable().id(2), QStringLiteral("87654321"));

        tab.valuesPanel()->setFileButtonsEnabled(false);
        QVERIFY(!load->isEnabled());
        QVERIFY(!tab.findChild<QPushButton *>(QStringLiteral("BitBtn17"))->isEnabled());
    }
};

QTEST_MAIN(TstMeterDataFile)
#include "tst_meter_data_file.moc"
