// The real main window as a Windows program under Wine, against the Linux
// simulator started around it by scripts/windows/with-peers.sh: registers
// read over Modbus TCP and over a COM port of the Wine prefix (linked to the
// simulator's pseudo-terminal), and File > Exit writing the settings file
// beside the program with the COM port's name.  With QVX_SCREENSHOT_DIR
// set, the window after the read over the COM port is saved there as
// windows.png (scripts/windows/screenshot.sh).
#include "common/window_rig.h"
#include "core/ini_file.h"
#include "widgets/string_grid.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

using namespace qvxtest;

namespace {

// Ten holding registers from 0, as the operator asks for them; true once
// the reply's rows are in the grid.
bool readTen(WindowRig &r)
{
    r.child<QCheckBox>("checkHolding")->setChecked(true);
    r.setText("EditInputAddress", QStringLiteral("0"));
    r.setText("EditInputCount", QStringLiteral("10"));
    return r.answered([&] { r.click("BitBtn3"); });
}

// The simulator's factory state: register 7 holds 0x0080 ("Continues Read"
// alone); the grid's rows 1-10 are registers 0-9.
void checkRows(WindowRig &r)
{
    auto *grid = r.child<qvx::StringGrid>("gridInputRegisters");
    QVERIFY(grid->rowCount() >= 11);
    for (int row = 1; row <= 10; ++row)
        QCOMPARE(grid->cell(0, row), QString::number(row - 1));
    QCOMPARE(grid->cell(1, 8), QStringLiteral("00"));
    QCOMPARE(grid->cell(3, 8), QStringLiteral("80"));
}

QString peer(const char *name)
{
    const QString v = qEnvironmentVariable(name);
    if (v.isEmpty())
        qFatal("%s is not set: run this test through scripts/windows/with-peers.sh", name);
    return v;
}

} // namespace

class TstWineWindow : public QObject {
    Q_OBJECT

private slots:
    void readsRegistersOverTcp()
    {
        const QString tcp = peer("QVX_WINE_TCP");
        WindowRig r({.shown = true});
        QVERIFY(r.connectTcp(tcp.section(QLatin1Char(':'), 1).toUShort()));
        QVERIFY2(readTen(r), qPrintable(r.log.join(QLatin1Char('\n'))));
        checkRows(r);
    }

    void readsRegistersOverComPort()
    {
        const QString com = peer("QVX_WINE_COM");
        WindowRig r({.shown = true});
        r.setText("Combo_com2_parity", QStringLiteral("None"));
        QVERIFY2(r.openPort(com), qPrintable(r.log.join(QLatin1Char('\n'))));
        QVERIFY2(readTen(r), qPrintable(r.log.join(QLatin1Char('\n'))));
        checkRows(r);
        // The request went out as RTU on the COM port: unit 1, read holding.
        QVERIFY(r.log.filter(QStringLiteral("Respond:01 03 14 ")).size() == 1);
        // The manual's picture of the window under Wine, when asked for.
        const QString out = qEnvironmentVariable("QVX_SCREENSHOT_DIR");
        if (!out.isEmpty()) {
            QVERIFY(QDir().mkpath(out));
            QVERIFY(r.form->grab().save(out + QStringLiteral("/windows.png")));
        }
    }

    void exitWritesTheSettingsFileBesideTheProgram()
    {
        const QString com = peer("QVX_WINE_COM");
        WindowRig r({.shown = true});
        r.setText("Combo_com2_name", com);
        QSignalSpy closed(r.form.get(), &qvx::TForm1::closed);
        r.dialogs.dialogs.yesNoAnswers.enqueue(true);
        r.child<QAction>("Exit1")->trigger();
        QCOMPARE(closed.count(), 1);
        QVERIFY(!r.form->isVisible());
        const QString ini = r.dir.path() + QLatin1Char('/') +
                            QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName() +
                            QStringLiteral(".ini");
        qvx::IniFile file;
        QVERIFY2(file.load(ini), qPrintable(ini));
        QCOMPARE(file.value(QStringLiteral("Modbus port"), QStringLiteral("Name")), com);
    }
};

QTEST_MAIN(TstWineWindow)
#include "tst_wine_window.moc"
