// The CSV export of string grids: the register table's "Export" button and
// the shared writer for any other grid, through the scripted save dialog.
#include "widgets/dialogs.h"
#include "widgets/guard.h"
#include "widgets/string_grid.h"
#include "common/scripted_dialogs.h"
#include "config/grid_csv.h"
#include "widgets/grid_export.h"
#include "config/register_browser.h"
#include "transport/session.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <sys/resource.h>

using namespace qvx;

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

const QByteArray EmptyRegisterTable = "Addr. modbus;High ;Notes/Decode ;Low ;Notes/Decode ;Time ;\r\n"
                                      ";;;;;;\r\n";

// A save dialog that cannot be shown.
class FailingDialogs : public qvxtest::ScriptedDialogs {
public:
    QString saveFileName(QWidget *, const FileDialogRequest &) override
    {
        throw QvxError(QStringLiteral("no"));
    }
};

// Limits the size of any file this process writes while it lives, so that a
// write fails half-way whatever rights the test runs with.
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

class TstGridExport : public QObject {
    Q_OBJECT
    // A fresh folder per test, so every test sees only its own files.
    std::unique_ptr<QTemporaryDir> folder;

    QString dirPath() const { return folder->path(); }
    QString path(const char *name) const { return folder->filePath(QLatin1String(name)); }

private slots:
    void init() { folder = std::make_unique<QTemporaryDir>(); }
    void cleanup() { folder.reset(); }

    void emptyRegisterTableGivesHeaderAndSeparators()
    {
        qvxtest::ScopedDialogs scripted;
        Session session;
        session.WorkDir = dirPath();
        RegisterBrowser browser(session);
        scripted.dialogs.fileAnswers.enqueue(path("modbusUR.csv"));
        browser.findChild<QPushButton *>(QStringLiteral("BitBtn8"))->click();

        QCOMPARE(scripted.dialogs.raised.size(), 1);
        const FileDialogRequest &asked = scripted.dialogs.raised.constFirst().file;
        QCOMPARE(asked.title, QStringLiteral("Save/Export file"));
        QCOMPARE(asked.directory, dirPath());
        QCOMPARE(asked.fileName, QStringLiteral("modbusUR.csv"));
        QCOMPARE(asked.defaultSuffix, QStringLiteral("csv"));
        QVERIFY(asked.filter.contains(QStringLiteral("*.csv")));
        QCOMPARE(readAll(path("modbusUR.csv")), EmptyRegisterTable);
    }

    // Any grid, any width: every cell followed by ";", texts unquoted,
    // Latin-1, CR LF, an existing file replaced.
    void cellsAreWrittenAsTheyAre()
    {
        qvxtest::ScopedDialogs scripted;
        StringGrid grid(3, 3);
        grid.setCell(0, 0, QStringLiteral("OBIS code "));
        grid.setCell(1, 0, QStringLiteral("Value "));
        grid.setCell(2, 0, QStringLiteral("Notes     "));
        grid.setCell(0, 1, QStringLiteral("1.8.0"));
        grid.setCell(1, 1, QStringLiteral("12;5"));
        grid.setCell(2, 1, QString::fromUtf8("\"25 \xC2\xB5s\" \xE2\x82\xAC"));
        writeFile(path("iecgrid.csv"), QByteArray(1000, 'x'));
        scripted.dialogs.fileAnswers.enqueue(path("iecgrid.csv"));

        ExportGridCsv(grid, QStringLiteral("iecgrid.csv"), dirPath());

        QCOMPARE(scripted.dialogs.raised.constFirst().file.fileName, QStringLiteral("iecgrid.csv"));
        QCOMPARE(readAll(path("iecgrid.csv")), QByteArray("OBIS code ;Value ;Notes     ;\r\n"
                                                          "1.8.0;12;5;\"25 \xB5s\" ?;\r\n"
                                                          ";;;\r\n"));
    }

    void cancelWritesNothing()
    {
        qvxtest::ScopedDialogs scripted;
        StringGrid grid(6, 2);
        ExportGridCsv(grid, QStringLiteral("modbusUR.csv"), dirPath());
        QCOMPARE(scripted.dialogs.raised.size(), 1); // the dialog, no box
        QVERIFY(QDir(dirPath()).entryList(QDir::Files).isEmpty());
    }

    void missingFolderGivesTheNoRightsBox()
    {
        qvxtest::ScopedDialogs scripted;
        StringGrid grid(6, 2);
        scripted.dialogs.fileAnswers.enqueue(path("missing/modbusUR.csv"));
        ExportGridCsv(grid, QStringLiteral("modbusUR.csv"), dirPath());
        QCOMPARE(scripted.dialogs.raised.size(), 2);
        const qvxtest::RaisedDialog &box = scripted.dialogs.raised.at(1);
        QCOMPARE(box.kind, QStringLiteral("message"));
        QCOMPARE(box.icon, DialogIcon::Error);
        QCOMPARE(box.caption, QStringLiteral("Error saving file"));
        QCOMPARE(box.text, QStringLiteral("File cannot be written, no rights!\nContact administrator."));
    }

    // A write that fails half-way leaves the file that was there untouched.
    void failedWriteKeepsTheOldFile()
    {
        qvxtest::ScopedDialogs scripted;
        StringGrid grid(6, 200);
        for (int r = 0; r < 200; ++r)
            grid.setCell(0, r, QStringLiteral("row %1").arg(r));
        const QByteArray old = "old contents\r\n";
        writeFile(path("keep.csv"), old);
        scripted.dialogs.fileAnswers.enqueue(path("keep.csv"));
        {
            FileSizeLimit limit(64);
            QVERIFY(limit.ok());
            ExportGridCsv(grid, QStringLiteral("modbusUR.csv"), dirPath());
        }
        QCOMPARE(scripted.dialogs.raised.size(), 2);
        QCOMPARE(scripted.dialogs.raised.at(1).text,
                 QStringLiteral("File cannot be written, no rights!\nContact administrator."));
        QCOMPARE(readAll(path("keep.csv")), old);
        QCOMPARE(QDir(dirPath()).entryList(QDir::Files), QStringList{QStringLiteral("keep.csv")});
    }

    void dialogFailureGivesTheCannotOpenBox()
    {
        FailingDialogs failing;
        installDialogs(&failing);
        StringGrid grid(6, 2);
        ExportGridCsv(grid, QStringLiteral("modbusUR.csv"), dirPath());
        installDialogs(nullptr);
        QCOMPARE(failing.raised.size(), 1);
        QCOMPARE(failing.raised.at(0).caption, QStringLiteral("Error saving file"));
        QCOMPARE(failing.raised.at(0).icon, DialogIcon::Error);
        QCOMPARE(failing.raised.at(0).text,
                 QStringLiteral("File cannot be written or open!\nContact administrator."));
    }

    void csvBytesOfAnEmptyGrid()
    {
        QCOMPARE(GridCsvBytes(0, 6, [](int, int) { return QString(); }), QByteArray());
        QCOMPARE(GridCsvBytes(2, 2, [](int c, int r) { return QString::number(r * 2 + c); }),
                 QByteArray("0;1;\r\n2;3;\r\n"));
    }
};

QTEST_MAIN(TstGridExport)
#include "tst_grid_export.moc"
