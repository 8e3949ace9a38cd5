// The traffic monitor and the value trends through the real main window,
// against the simulated gateway in-process: over its pseudo-terminal (RTU)
// and over Modbus TCP on 127.0.0.1.
#include "app/tform1.h"
#include "common/screenshots.h"
#include "common/scripted_dialogs.h"
#include "meters/meter_values_panel.h"
#include "meters/meter_table.h"
#include "meters/meters_tab.h"
#include "monitor/traffic_monitor_window.h"
#include "monitor/traffic_tap.h"
#include "monitor/value_trends_window.h"
#include "sim/device.h"
#include "sim/meter_link.h"
#include "sim/pty_link.h"
#include "sim/tcp_server.h"
#include "transport/reply_timer.h"
#include "transport/session.h"

#include "transport/modbus.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QHeaderView>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTimer>
#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QListWidget>
#include <QLineEdit>
#include <QSpinBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <fcntl.h>
#include <memory>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace qvx;

namespace {

enum class Link { Rtu, Tcp };

struct Rig {
    qvxtest::ScopedDialogs scripted;
    QTemporaryDir dir;
    qvxsim::Device device;
    std::unique_ptr<qvxsim::TcpServer> tcp;
    std::unique_ptr<qvxsim::PtyLink> pty;
    TForm1 form{dir.path()};
    QStringList log;

    Rig(Link link, const qvxsim::Faults &faults = {})
    {
        qvxsim::LinkOptions options;
        options.faults = faults;
        QObject::connect(&form.session(), &Session::logLine, &form, [this](const QString &l) { log << l; });
        child<QSpinBox>("UD_modbusTimeout")->setValue(300);
        if (link == Link::Tcp) {
            tcp = std::make_unique<qvxsim::TcpServer>(device, options);
            tcp->listen(QHostAddress::LocalHost, 0);
            child<QLineEdit>("Edit_remoteIP")->setText(QStringLiteral("127.0.0.1"));
            child<QLineEdit>("Edit_port")->setText(QString::number(tcp->serverPort()));
            click("Butt_connectEthernet");
        } else {
            pty = std::make_unique<qvxsim::PtyLink>(device, options);
            pty->open();
            child<QComboBox>("Combo_com2_name")->setCurrentText(pty->slavePath());
            click("Butt_open_port2");
        }
        QTRY_VERIFY_WITH_TIMEOUT(form.session().linkOpen(), 5000);
        log.clear();
    }
    template <typename T> T *child(const char *name)
    {
        T *c = form.findChild<T *>(QLatin1String(name));
        if (!c)
            qFatal("missing control %s", name);
        return c;
    }
    void click(const char *name) { child<QAbstractButton>(name)->click(); }
    // Waits for the end of the next reply window.
    bool replyWindowEnded()
    {
        const qsizetype from = log.size();
        QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired()) {
            for (qsizetype i = from; i < log.size(); ++i)
                if (log.at(i).startsWith(QStringLiteral("Respond:")))
                    return true;
            QTest::qWait(20);
        }
        return false;
    }
    TrafficMonitorWindow &monitor() { return *form.trafficMonitor(); }
    // "TX RTU 1: summary" for every frame in the list.
    QStringList frames()
    {
        QTest::qWait(TrafficTap::IdleCloseMs * 2);
        monitor().showPending();
        QStringList out;
        const TrafficModel &m = monitor().model();
        for (int r = 0; r < m.rowCount(); ++r)
            out << m.text(r, TrafficModel::Dir) + QLatin1Char(' ') + m.text(r, TrafficModel::Link) +
                       QLatin1Char(' ') + m.text(r, TrafficModel::Unit) + QStringLiteral(": ") +
                       m.text(r, TrafficModel::Summary);
        return out;
    }
};

// A values log of blocks readings of rows rows, ten seconds apart.
QByteArray valuesLog(int blocks, int rows, int firstBlock = 0)
{
    QByteArray out;
    const QDateTime t0(QDate(2026, 3, 1), QTime(10, 0));
    for (int b = firstBlock; b < firstBlock + blocks; ++b) {
        out +=
            "\r\n" + t0.addSecs(10 * b).toString(QStringLiteral("HH:mm:ss,dd.MM.yyyy")).toLatin1() + "\r\n";
        for (int r = 1; r <= rows; ++r)
            out += QByteArray::number(r) + ';' + QByteArray::number(1000 * r + b) + ";\r\n";
    }
    return out;
}

// A named pipe as the values log: the load waits on it for as long as the
// test holds its writing end open.
struct LogPipe {
    QString path;
    int fd = -1;
    explicit LogPipe(const QString &p) : path(p)
    {
        if (::mkfifo(path.toLocal8Bit().constData(), 0600) == 0)
            fd = ::open(path.toLocal8Bit().constData(), O_RDWR); // does not wait for a reader
    }
    bool write(const QByteArray &b) { return ::write(fd, b.constData(), size_t(b.size())) == b.size(); }
    // The reader has the pipe open and has taken all that was written.
    bool drained() const
    {
        int n = -1;
        return ::ioctl(fd, FIONREAD, &n) == 0 && n == 0;
    }
    void close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    ~LogPipe() { close(); }
};

struct Trends {
    qvxtest::ScopedDialogs scripted;
    QTemporaryDir dir;
    ValueTrendsWindow w{nullptr};
    Trends()
    {
        w.resize(1000, 600);
        w.show();
        if (!QTest::qWaitForWindowExposed(&w))
            qFatal("window not shown");
    }
    void open(const QString &path)
    {
        scripted.dialogs.fileAnswers << path;
        w.findChild<QAbstractButton *>(QStringLiteral("TrendsOpenLog"))->click();
    }
    QAbstractButton *button(const char *name) { return w.findChild<QAbstractButton *>(QLatin1String(name)); }
    QString write(const char *name, const QByteArray &bytes)
    {
        const QString path = dir.filePath(QLatin1String(name));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            qFatal("cannot write %s", name);
        return path;
    }
};

} // namespace

Q_DECLARE_METATYPE(Link)

class TstMonitorE2e : public QObject {
    Q_OBJECT

private slots:
    void toolsMenuOpensBothWindows()
    {
        Rig r(Link::Tcp);
        r.child<QAction>("TrafficMonitor1")->trigger();
        r.child<QAction>("ValueTrends1")->trigger();
        QVERIFY(r.form.trafficMonitor()->isVisible());
        QVERIFY(r.form.valueTrends()->isVisible());
        QCOMPARE(r.form.trafficMonitor()->windowTitle(), QStringLiteral("Traffic monitor"));
        QCOMPARE(r.form.valueTrends()->windowTitle(), QStringLiteral("Value trends"));
    }

    void requestsAndRepliesInTheList_data()
    {
        QTest::addColumn<Link>("link");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QStringList>("frames");
        const QString read = QStringLiteral("Read Holding Registers: start 10, count 2");
        QTest::newRow("rtu read") << Link::Rtu << "BitBtn3"
                                  << QStringList{"TX RTU 1: " + read,
                                                 "RX RTU 1: Read Holding Registers: 4 bytes"};
        QTest::newRow("rtu write") << Link::Rtu << "Button2"
                                   << QStringList{"TX RTU 1: Write Single Register: address 10, value 513",
                                                  "RX RTU 1: Write Single Register: address 10, value 513"};
        QTest::newRow("tcp read") << Link::Tcp << "BitBtn3"
                                  << QStringList{"TX TCP 1: id 1000: " + read,
                                                 "RX TCP 1: id 1000: Read Holding Registers: 4 bytes"};
    }
    void requestsAndRepliesInTheList()
    {
        QFETCH(Link, link);
        QFETCH(QString, button);
        QFETCH(QStringList, frames);
        Rig r(link);
        r.child<QLineEdit>("EditInputAddress")->setText(QStringLiteral("10"));
        r.child<QLineEdit>("EditInputCount")->setText(QStringLiteral("2"));
        r.child<QLineEdit>("Edit_single_value")->setText(QStringLiteral("513"));
        r.click(button.toLatin1().constData());
        QVERIFY(r.replyWindowEnded());
        QCOMPARE(r.frames(), frames);
        // The specified log keeps its lines.
        QVERIFY(r.log.first().startsWith(QStringLiteral("SENT:")) || button == QLatin1String("BitBtn3"));
        QVERIFY(r.log.last().startsWith(QStringLiteral("Respond:")));
    }

    void faultsAreMarked_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QStringList>("replies");
        QTest::newRow("stray byte") << 0
                                    << QStringList{
                                           "RX RTU 1: Read Holding Registers: 4 bytes; stray byte before "
                                           "the frame"};
        QTest::newRow("crc error") << 1
                                   << QStringList{"RX RTU 1: Read Holding Registers: 4 bytes; CRC error"};
        QTest::newRow("echo") << 2
                              << QStringList{
                                     "RX RTU 1: Read Holding Registers: start 10, count 2; echo of the "
                                     "request",
                                     "RX RTU 1: Read Holding Registers: 4 bytes"};
    }
    void faultsAreMarked()
    {
        QFETCH(int, fault);
        QFETCH(QStringList, replies);
        qvxsim::Faults faults;
        faults.strayLeadingByte = fault == 0;
        faults.strayByte = 0x55;
        faults.corruptCrc = fault == 1;
        faults.echoRequest = fault == 2;
        Rig r(Link::Rtu, faults);
        r.child<QLineEdit>("EditInputAddress")->setText(QStringLiteral("10"));
        r.child<QLineEdit>("EditInputCount")->setText(QStringLiteral("2"));
        r.click("BitBtn3");
        QVERIFY(r.replyWindowEnded());
        const QStringList shown = r.frames();
        QCOMPARE(shown.mid(1), replies);
        // Marked rows are drawn as errors.
        QCOMPARE(r.monitor().model().row(1).error, true);
    }

    // The direct readout's sign-on and the meter's answer are IEC frames.
    void iecReadoutIsLabelled()
    {
        qvxtest::ScopedDialogs scripted;
        QTemporaryDir dir;
        qvxsim::Device device;
        qvxsim::MeterLink meter(device);
        QVERIFY2(meter.openPty(), qPrintable(meter.errorString()));
        TForm1 form(dir.path());
        form.findChild<QComboBox *>(QStringLiteral("Combo_com2_name"))->setCurrentText(meter.slavePath());
        form.findChild<QLineEdit *>(QStringLiteral("Edit_mserial"))->setText(QStringLiteral("12345678"));
        form.findChild<QAbstractButton *>(QStringLiteral("Button4"))->click();
        TrafficMonitorWindow &w = *form.trafficMonitor();
        auto shown = [&] {
            w.showPending();
            QStringList out;
            for (int r = 0; r < w.model().rowCount(); ++r)
                out << w.model().text(r, TrafficModel::Dir) + QLatin1Char(' ') +
                           w.model().text(r, TrafficModel::Link) + QStringLiteral(": ") +
                           w.model().text(r, TrafficModel::Summary);
            return out;
        };
        QTRY_VERIFY_WITH_TIMEOUT(shown().join('|').contains(QStringLiteral("ETX, BCC correct")), 30000);
        const QStringList frames = shown();
        QCOMPARE(frames.first(), QStringLiteral("TX IEC: sign-on request, address \"12345678\""));
        QVERIFY2(
            frames.at(1).startsWith(QStringLiteral("RX IEC: identification: manufacturer QVX, baud code 5")),
            qPrintable(frames.at(1)));
        QVERIFY(frames.filter(QStringLiteral(" RTU: ")).isEmpty());
    }

    void pauseFilterAndExports()
    {
        Rig r(Link::Tcp);
        r.child<QAction>("TrafficMonitor1")->trigger();
        TrafficMonitorWindow &w = r.monitor();
        auto *pause = w.findChild<QAbstractButton *>(QStringLiteral("MonitorPause"));
        pause->click();
        r.child<QLineEdit>("EditInputAddress")->setText(QStringLiteral("10"));
        r.child<QLineEdit>("EditInputCount")->setText(QStringLiteral("2"));
        r.click("BitBtn3");
        QVERIFY(r.replyWindowEnded());
        QCOMPARE(r.frames(), QStringList());
        QCOMPARE(w.framesSeen(), 2);
        pause->click();
        QCOMPARE(r.frames().size(), 2);

        auto *filter = w.findChild<QLineEdit *>(QStringLiteral("MonitorFilter"));
        filter->setText(QStringLiteral("write"));
        QCOMPARE(w.view()->model()->rowCount(), 0);
        filter->setText(QStringLiteral("4 bytes"));
        QCOMPARE(w.view()->model()->rowCount(), 1);
        filter->clear();

        const QString csv = r.dir.filePath(QStringLiteral("t.csv"));
        const QString cap = r.dir.filePath(QStringLiteral("t.pcapng"));
        r.scripted.dialogs.fileAnswers << csv << cap;
        w.findChild<QAbstractButton *>(QStringLiteral("MonitorExportCsv"))->click();
        w.findChild<QAbstractButton *>(QStringLiteral("MonitorSaveCapture"))->click();
        QFile c(csv), p(cap);
        QVERIFY(c.open(QIODevice::ReadOnly) && p.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = c.readAll().split('\n');
        QCOMPARE(lines.size(), 4); // header, two frames, the empty rest after the last line end
        QVERIFY(lines.at(1).contains(";TX;TCP;1;03 E8 00 00 00 06 01 03 00 0A 00 02;"));
        QVERIFY(p.readAll().startsWith(QByteArray::fromHex("0A0D0D0A")));

        w.findChild<QAbstractButton *>(QStringLiteral("MonitorClear"))->click();
        QCOMPARE(w.model().rowCount(), 0);
    }

    void autoReadTicksAddPoints()
    {
        Rig r(Link::Tcp);
        r.device.programMeter(2, QStringLiteral("10000002"), {"1.8.0", "32.7.0"});
        r.device.readoutNow();
        r.form.metersTab()->meterTable().setCode(2, 1, QStringLiteral("1.8.0"));
        r.child<QSpinBox>("UD_meterNumber")->setValue(2);
        r.child<QAction>("ValueTrends1")->trigger();
        ValueTrendsWindow &t = *r.form.valueTrends();
        MeterValuesPanel &panel = *r.form.metersTab()->valuesPanel();
        for (int tick = 1; tick <= 3; ++tick) {
            emit panel.timerAutoReadValues().timeout();
            QVERIFY(r.replyWindowEnded());
            if (tick == 1) {
                QVERIFY(t.seriesKeys().contains(QStringLiteral("s2r1")));
                t.setShown(QStringLiteral("s2r1"), true);
            }
        }
        QCOMPARE(t.pointCount(QStringLiteral("s2r1")), 3);
        t.redraw();
        QCOMPARE(t.drawnPointCount(QStringLiteral("s2r1")), 3);
        QCOMPARE(t.drawnPointCount(QStringLiteral("s2r2")), 0); // not ticked
        auto *rows = t.findChild<QListWidget *>(QStringLiteral("TrendsRows"));
        QCOMPARE(rows->item(0)->text(),
                 QStringLiteral("Active energy import (+A), total 1.8.0 (slot 2, row 1)"));
    }

    // With QVX_SCREENSHOT_DIR set, both windows are saved as pictures for
    // the manual.  Each is saved again at 916 x 788 and 1600 x 1000
    // (with the size in its name), to see what is cut off or left blank.
    void screenshots()
    {
        const QString out = qEnvironmentVariable("QVX_SCREENSHOT_DIR");
        if (out.isEmpty())
            QSKIP("QVX_SCREENSHOT_DIR not set");
        {
            qvxsim::Faults faults;
            faults.echoRequest = true;
            faults.every = 3;
            faults.exceptionRanges = {{2000, 2010}};
            Rig r(Link::Rtu, faults);
            r.child<QAction>("TrafficMonitor1")->trigger();
            const char *fields[][3] = {{"10", "2", "BitBtn3"},
                                       {"100", "1", "Button2"},
                                       {"0", "4", "BitBtn3"},
                                       {"2000", "2", "BitBtn3"},
                                       {"55400", "6", "BitBtn3"}};
            for (const auto &f : fields) {
                r.child<QLineEdit>("EditInputAddress")->setText(QLatin1String(f[0]));
                r.child<QLineEdit>("EditInputCount")->setText(QLatin1String(f[1]));
                r.child<QLineEdit>("Edit_single_value")->setText(QStringLiteral("1"));
                r.click(f[2]);
                QVERIFY(r.replyWindowEnded());
            }
            r.frames();
            QVERIFY(qvxtest::saveAtSizes(&r.monitor(), out, QStringLiteral("traffic_monitor")));
        }
        Rig r(Link::Tcp);
        MeterTable &table = r.form.metersTab()->meterTable();
        const QStringList codes = {"1.8.0", "1.7.0", "32.7.0"};
        for (int i = 0; i < codes.size(); ++i)
            table.setCode(1, i + 1, codes.at(i));
        ValueTrendsWindow &t = *r.form.valueTrends();
        const QDateTime start = QDateTime::currentDateTime().addSecs(-2 * 3600);
        for (int i = 0; i < 720; ++i) {
            const double load = 1500 + 900 * std::sin(i / 60.0) + 200 * std::sin(i / 7.0);
            QVector<std::optional<qint64>> v = {qint64(1234000 + i * 5 + i * i / 300), qint64(load),
                                                qint64(2300 + 30 * std::sin(i / 40.0))};
            t.addReading(1, v, start.addSecs(i * 10));
        }
        for (const QString &k : t.seriesKeys())
            t.setShown(k, true);
        r.child<QAction>("ValueTrends1")->trigger();
        t.redraw();
        QTest::qWait(200);
        QVERIFY(qvxtest::saveAtSizes(&t, out, QStringLiteral("value_trends")));
    }

    // The log is read off the window's thread: while it comes (here through
    // a pipe that is still open) timers fire and clicks are handled; then
    // the rows appear.
    void valuesLogLoadKeepsWindowResponsive()
    {
        Trends t;
        LogPipe pipe(t.dir.filePath(QStringLiteral("logvalues.txt")));
        QVERIFY(pipe.fd >= 0);
        t.open(pipe.path);
        QVERIFY(pipe.write(valuesLog(2, 3)));
        QVERIFY(t.w.loading());
        QCOMPARE(t.w.statusText(), QStringLiteral("Reading logvalues.txt..."));
        QVERIFY(t.w.findChild<QProgressBar *>(QStringLiteral("TrendsProgress"))->isVisible());
        QVERIFY(t.button("TrendsCancel")->isVisible());

        QTimer tick;
        QSignalSpy fired(&tick, &QTimer::timeout);
        tick.start(20);
        QVERIFY(fired.wait(10000));
        auto *normalised = t.w.findChild<QCheckBox *>(QStringLiteral("TrendsNormalised"));
        QTest::mouseClick(normalised, Qt::LeftButton, {}, QPoint(8, normalised->height() / 2));
        QVERIFY(normalised->isChecked());
        QVERIFY(t.w.loading());

        QVERIFY(pipe.write(valuesLog(3, 3, 2)));
        QTRY_VERIFY_WITH_TIMEOUT(pipe.drained(), 20000);
        pipe.close();
        QTRY_VERIFY_WITH_TIMEOUT(!t.w.loading(), 20000);
        QCOMPARE(t.w.statusText(), QStringLiteral("logvalues.txt: read 5 blocks, skipped 0."));
        QCOMPARE(t.w.pointCount(QStringLiteral("log:%1:r3").arg(pipe.path)), 5);
        QVERIFY(!t.button("TrendsCancel")->isVisible());
    }

    // Cancel ends the load at once: nothing is added, and the window opens
    // the next log as usual.
    void cancelEndsValuesLogLoad()
    {
        Trends t;
        LogPipe pipe(t.dir.filePath(QStringLiteral("slow.txt")));
        QVERIFY(pipe.fd >= 0);
        t.open(pipe.path);
        QVERIFY(pipe.write(valuesLog(2, 3)));
        QTRY_VERIFY_WITH_TIMEOUT(pipe.drained(), 20000);
        QVERIFY(t.w.loading());
        t.button("TrendsCancel")->click();
        QVERIFY(!t.w.loading());
        QCOMPARE(t.w.statusText(), QStringLiteral("slow.txt: reading cancelled, the chart is as it was."));
        QVERIFY(!t.button("TrendsCancel")->isVisible());
        pipe.close(); // the reading thread ends; what it read is dropped
        QTest::qWait(100);
        QCOMPARE(t.w.storedPoints(), 0);
        QVERIFY(t.w.seriesKeys().isEmpty());

        t.open(t.write("logvalues.txt", valuesLog(4, 2)));
        QTRY_VERIFY_WITH_TIMEOUT(!t.w.loading(), 20000);
        QCOMPARE(t.w.statusText(), QStringLiteral("logvalues.txt: read 4 blocks, skipped 0."));
        QCOMPARE(t.w.storedPoints(), 8);
    }

    // Opening the same log again replaces its points; closing the window
    // gives them back while live readings stay.
    void reopenedLogReplacesItsPoints()
    {
        Trends t;
        t.w.addReading(1, {qint64(5), qint64(6)});
        const QString path = t.write("logvalues.txt", valuesLog(50, 4));
        for (int i = 0; i < 3; ++i) {
            t.open(path);
            QTRY_VERIFY_WITH_TIMEOUT(!t.w.loading(), 20000);
            QCOMPARE(t.w.storedPoints(), 2 + 50 * 4);
            QCOMPARE(t.w.seriesKeys().size(), 2 + 4);
        }
        // The log shrank to two rows: the other two go.
        QFile::remove(path);
        t.write("logvalues.txt", valuesLog(10, 2));
        t.open(path);
        QTRY_VERIFY_WITH_TIMEOUT(!t.w.loading(), 20000);
        QCOMPARE(t.w.storedPoints(), 2 + 10 * 2);
        t.w.close();
        QCOMPARE(t.w.storedPoints(), 2);
        QCOMPARE(t.w.seriesKeys(), (QStringList{QStringLiteral("s1r1"), QStringLiteral("s1r2")}));
    }

    // Legend and row names are whole at the window's size; where the window
    // is too small a name is shortened and its tooltip holds it whole.
    void rowNamesAndLegendShowWhole()
    {
        MeterTable table;
        const QStringList codes = {"1.8.0", "1.7.0", "32.7.0"};
        for (int i = 0; i < codes.size(); ++i)
            table.setCode(2, i + 1, codes.at(i));
        qvxtest::ScopedDialogs scripted;
        ValueTrendsWindow w(&table);
        w.resize(1000, 600);
        w.show();
        w.addReading(2, {qint64(1), qint64(2), qint64(3)});
        for (const QString &k : w.seriesKeys())
            w.setShown(k, true);
        w.redraw();
        auto *rows = w.findChild<QListWidget *>(QStringLiteral("TrendsRows"));
        auto *legend = w.findChild<QListWidget *>(QStringLiteral("TrendsLegend"));
        QVERIFY(legend->isVisible());
        QCOMPARE(legend->count(), 3);
        auto whole = [](QListWidget *list) {
            for (int i = 0; i < list->count(); ++i) {
                const QRect r = list->visualItemRect(list->item(i));
                if (r.width() < list->fontMetrics().horizontalAdvance(list->item(i)->text()) ||
                    !list->viewport()->rect().contains(r))
                    return false;
            }
            return true;
        };
        QTRY_VERIFY(whole(rows));
        QTRY_VERIFY(whole(legend));
        for (QListWidget *list : {rows, legend})
            for (int i = 0; i < list->count(); ++i)
                QCOMPARE(list->item(i)->toolTip(), list->item(i)->text());
        QCOMPARE(legend->item(0)->text(),
                 QStringLiteral("Active energy import (+A), total 1.8.0 (slot 2, row 1)"));
    }

    // The summary column takes the width the window gains.
    void lastColumnTakesSpareWidth()
    {
        Rig r(Link::Tcp);
        r.child<QAction>("TrafficMonitor1")->trigger();
        TrafficMonitorWindow &w = r.monitor();
        w.resize(900, 500);
        QHeaderView *header = w.view()->horizontalHeader();
        QTRY_VERIFY(header->sectionSize(TrafficModel::Summary) > 0);
        const int before = header->sectionSize(TrafficModel::Summary);
        w.resize(1400, 500);
        QTRY_COMPARE(header->sectionSize(TrafficModel::Summary), before + 500);
    }

    // A frame keeps its bytes in an allocation of their size, whatever buffer
    // the read left them in; Clear empties the list and its store.
    void framesAreCompactAndClearEmptiesTheStore()
    {
        Rig r(Link::Tcp);
        TrafficMonitorWindow &w = r.monitor();
        QList<TrafficFrame> frames;
        for (int i = 0; i < 1000; ++i) {
            QByteArray read;
            read.reserve(16384); // what a socket read leaves behind
            read.append(tcpFrame(quint16(i), 1, pduReadInput(1000, 2)));
            frames << TrafficFrame{1000000LL * i, TrafficDir::Tx, TrafficLink::Tcp, read, {}};
        }
        w.addFrames(frames);
        frames.clear();
        w.showPending();
        QCOMPARE(w.model().rowCount(), 1000);
        QVERIFY2(w.model().bytesHeld() < 1000 * 200, qPrintable(QString::number(w.model().bytesHeld())));
        QCOMPARE(w.model().text(0, TrafficModel::Summary), decodeTrafficFrame(w.model().row(0).frame).text);
        w.findChild<QAbstractButton *>(QStringLiteral("MonitorClear"))->click();
        QCOMPARE(w.model().rowCount(), 0);
        QCOMPARE(w.model().bytesHeld(), 0);
        QCOMPARE(w.framesSeen(), 0);
    }

    void valuesLogWithDamagedBlock()
    {
        Rig r(Link::Tcp);
        ValueTrendsWindow &t = *r.form.valueTrends();
        const QString path = r.dir.filePath(QStringLiteral("logvalues.txt"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("\r\n10:00:00,01.03.2026\r\n1;10;\r\n2;20;\r\n"
                "\r\n10:00:10,01.03.2026\r\n1;11\xFF\r\ngarbage\r\n"
                "\r\n10:00:20,01.03.2026\r\n1;12;\r\n2;22;\r\n");
        f.close();
        r.scripted.dialogs.fileAnswers << path;
        t.findChild<QAbstractButton *>(QStringLiteral("TrendsOpenLog"))->click();
        QTRY_COMPARE_WITH_TIMEOUT(t.statusText(), QStringLiteral("logvalues.txt: read 2 blocks, skipped 1."),
                                  20000);
        const QString row1 = QStringLiteral("log:%1:r1").arg(path);
        QCOMPARE(t.pointCount(row1), 2);
        t.redraw();
        QCOMPARE(t.drawnPointCount(row1), 2);

        const QString png = r.dir.filePath(QStringLiteral("t.png"));
        const QString csv = r.dir.filePath(QStringLiteral("t.csv"));
        r.scripted.dialogs.fileAnswers << png << csv;
        t.findChild<QAbstractButton *>(QStringLiteral("TrendsSaveImage"))->click();
        t.findChild<QAbstractButton *>(QStringLiteral("TrendsExportCsv"))->click();
        QVERIFY(QImage(png).width() > 0);
        QFile c(csv);
        QVERIFY(c.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = c.readAll().split('\n');
        QCOMPARE(lines.at(0), QByteArray("Time;Row 1 (logvalues.txt);Row 2 (logvalues.txt)\r"));
        QCOMPARE(lines.at(1), QByteArray("2026-03-01 10:00:00;10;20\r"));
    }
};

QTEST_MAIN(TstMonitorE2e)
#include "tst_monitor_e2e.moc"
