// The readout tab's "Data sets..." window and "Copy codes to meter slot..."
// through the real window, the test playing the meter on a pseudo-terminal:
// a heat meter that puts several data sets on a line, joins values with "&"
// and ends its last line with "!", and an electricity meter with a time-
// stamped maximum demand and a dated billing value.
#include "common/pty_pair.h"
#include "common/window_rig.h"
#include "iec/data_sets_window.h"
#include "iec/readout_tab.h"
#include "iec/readout_view.h"
#include "meters/meters_tab.h"
#include "sim/meter.h"
#include "widgets/string_grid.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>

using namespace qvx;

namespace {

QByteArray answer(const QByteArray &identification, const QByteArray &block)
{
    const QByteArray data = "\x02" + block + "\x03";
    return identification + "\r\n" + data + char(qvxsim::iecBcc(data));
}

const QByteArray Heat = answer("/ABC4HEAT123", "6.8(0029.055*MWh)6.26(01589.28*m3)9.21(00010213)\r\n"
                                               "6.26*01(01502.11*m3)6.8*01(0027.810*MWh)\r\n"
                                               "9.4(088*C&082*C)9.22(R)!\r\n");
// Both kinds in one answer: three sets on a line, then one a line with
// further values.
const QByteArray Mixed = answer("/ABC4HEAT123", "6.8(0029.055*MWh)6.26(01589.28*m3)9.21(00010213)\r\n"
                                                "6.26*01(01502.11*m3)6.8*01(0027.810*MWh)\r\n"
                                                "9.4(088*C&082*C)9.22(R)\r\n"
                                                "0.0.0(12345678)\r\n1-0:1.8.0*255(0001234.567*kWh)\r\n"
                                                "1.6.0(02.468*kW)(2403100930)\r\n"
                                                "0.1.2*04(24-03-01 00:00)\r\n!\r\n");

struct Rig : qvxtest::WindowRig {
    qvxtest::PtyPair meter;
    ReadoutTab *tab = form->readoutTab();
    // One readout to the end of the meter's answer.
    bool read(const QByteArray &bytes)
    {
        setText("Combo_com2_name", meter.slavePath());
        child<QCheckBox>("CheckBox_untilEnd")->setChecked(true);
        const qsizetype from = log.size();
        click("Button4");
        return meter.read(5).size() == 5 && meter.write(bytes) &&
               waitForLine(QStringLiteral("Readout complete: %1 bytes, BCC OK").arg(bytes.size()), from);
    }
    QStringList row(DataSetsWindow *w, int r)
    {
        QStringList cells;
        for (int c = 0; c < w->grid()->colCount(); ++c)
            cells << w->grid()->cell(c, r);
        return cells;
    }
};

} // namespace

class TstReadoutDataSets : public QObject {
    Q_OBJECT
private slots:
    // Every data set of the capture, with its further values, also after
    // the text view was edited; the export as the tool's other exports.
    void dataSetsWindowAndExport()
    {
        Rig r;
        QVERIFY2(r.read(Mixed), qPrintable(r.log.join('\n')));
        r.tab->memoReadout()->selectAll();
        r.tab->memoReadout()->removeSelectedLines();
        r.child<QAction>("DataSets")->trigger();
        DataSetsWindow *w = r.tab->dataSetsWindow();
        QVERIFY(w && w->isVisible() && !w->isModal());
        QCOMPARE(w->grid()->rowCount(), 1 + 7 + 4);
        QCOMPARE(r.row(w, 0), (QStringList{"Line", "Code", "Sent as", "Name", "Value", "Unit", "Further values"}));
        QCOMPARE(r.row(w, 1).mid(0, 3), (QStringList{"2", "6.8", "6.8"}));
        QCOMPARE(r.row(w, 3).mid(4), (QStringList{"00010213", "", ""}));
        QCOMPARE(r.row(w, 6).mid(4), (QStringList{"088", "C", "088 C & 082 C"}));
        QCOMPARE(r.row(w, 7).mid(1, 2), (QStringList{"9.22", "9.22"}));
        QCOMPARE(r.row(w, 9).mid(1, 3),
                 (QStringList{"1.8.0", "1-0:1.8.0*255", "Active energy import (+A), total [kWh]"}));
        QCOMPARE(r.row(w, 10).mid(4), (QStringList{"02.468", "kW", "2403100930"}));
        QCOMPARE(r.row(w, 11).mid(4), (QStringList{"24-03-01 00:00", "", ""}));
        QVERIFY2(w->summary()->text().contains(QStringLiteral("Identification /ABC4HEAT123")),
                 qPrintable(w->summary()->text()));
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(w->findChild<QPushButton *>(
            QStringLiteral("Button_exportDataSets")));
        QCOMPARE(a->text(QAccessible::Name), QStringLiteral("Export CSV..."));

        const QString path = r.dir.filePath(QStringLiteral("sets.csv"));
        r.dialogs.dialogs.fileAnswers.enqueue(path);
        w->findChild<QPushButton *>(QStringLiteral("Button_exportDataSets"))->click();
        QCOMPARE(r.dialogs.dialogs.raised.last().file.fileName, QStringLiteral("iecdatasets.csv"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = f.readAll().split('\n');
        QCOMPARE(lines.size(), 1 + 11 + 1);
        QCOMPARE(lines.at(0), QByteArray("Line;Code;Sent as;Name;Value;Unit;Further values;\r"));
        QCOMPARE(lines.at(6), QByteArray("4;9.4;9.4;;088;C;088 C & 082 C;\r"));
        QCOMPARE(lines.at(10), QByteArray("7;1.6.0;1.6.0;") +
                                   r.row(w, 10).at(3).toLatin1() + ";02.468;kW;2403100930;\r");
    }

    // "Parse" keeps the first data set of a line; the copy takes them all.
    void copyCodesOfAHeatMeter()
    {
        Rig r;
        QVERIFY2(r.read(Heat), qPrintable(r.log.join('\n')));
        r.click("BitBtn20");
        QCOMPARE(r.tab->gridIEC()->rowCount(), 1 + 3);
        r.dialogs.dialogs.numberAnswers.enqueue(2);
        r.child<QAction>("CopyCodesToMeterSlot")->trigger();
        MetersTab *meters = r.form->metersTab();
        const QStringList codes{"6.8.0", "6.26.0", "9.21.0", "6.26.0.1", "6.8.0.1", "9.4.0", "9.22.0"};
        for (int row = 1; row <= codes.size(); ++row)
            QCOMPARE(meters->gridRegisters()->cell(1, row), codes.at(row - 1));
        QVERIFY(meters->gridRegisters()->cell(1, codes.size() + 1).isEmpty());
        QVERIFY2(r.log.last().startsWith(QStringLiteral("Copied 7 OBIS codes to meter slot 2")),
                 qPrintable(r.log.last()));
    }
};

QTEST_MAIN(TstReadoutDataSets)
#include "tst_readout_datasets.moc"
