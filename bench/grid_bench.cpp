// Register table under load: 100 reads of 999 registers each, appended through
// the reply window's real path (CheckReply, DecodeRegisterReply, row writer,
// "Respond:" line, repaint), then the 99,900 rows exported as CSV.
//
// A reply's byte count is one byte, so one reply carries at most 127
// registers; a read of 999 registers is therefore timed as the 8 replies
// (7 x 127 + 110) that deliver them, each ending one reply window.
//
// Run: build-dir/bench/grid_bench   (prints its own figures)
#include "widgets/dialogs.h"
#include "widgets/string_grid.h"
#include "config/register_browser.h"
#include "transport/modbus.h"
#include "transport/session.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Answers the save dialog with a fixed path; nothing else is expected.
class BenchDialogs final : public qvx::Dialogs {
public:
    QString path;
    int messages = 0;
    void message(QWidget *, qvx::DialogIcon, const QString &, const QString &) override { ++messages; }
    bool askYesNo(QWidget *, qvx::DialogIcon, const QString &, const QString &) override { return false; }
    QString saveFileName(QWidget *, const qvx::FileDialogRequest &) override { return path; }
    QString openFileName(QWidget *, const qvx::FileDialogRequest &) override { return {}; }
};

QByteArray holdingReply(int registers, int seed)
{
    QByteArray pdu;
    pdu.append('\x01');
    pdu.append('\x03');
    pdu.append(static_cast<char>(registers * 2));
    for (int i = 0; i < registers * 2; ++i)
        pdu.append(static_cast<char>((seed + i) & 0xFF));
    return qvx::withCrc(pdu);
}

double ms(qint64 ns)
{
    return double(ns) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    constexpr int Reads = 100;
    constexpr int RegistersPerRead = 999;
    constexpr int MaxPerReply = 127;

    qvx::Session session;
    session.SerialPortOpen = true; // the window only looks at the flag
    int logLines = 0;
    QObject::connect(&session, &qvx::Session::logLine, [&logLines](const QString &) { ++logLines; });

    qvx::RegisterBrowser browser(session);
    browser.resize(1000, 700);
    browser.show();
    QApplication::processEvents();

    std::vector<QByteArray> replies;
    for (int left = RegistersPerRead; left > 0; left -= MaxPerReply)
        replies.push_back(holdingReply(std::min(left, MaxPerReply), left));

    std::vector<double> perRead;
    QElapsedTimer clock;
    for (int read = 0; read < Reads; ++read) {
        clock.start();
        for (const QByteArray &reply : replies) {
            session.RxBuffer = reply;
            browser.Timer_modbusTimer();
        }
        // Let the table repaint what it shows, as it would between reads.
        browser.registerGrid().scrollToBottom();
        QApplication::processEvents();
        perRead.push_back(ms(clock.nsecsElapsed()));
    }

    const qvx::StringGrid &grid = browser.registerGrid();
    const int dataRows = grid.rowCount() - 2;

    QTemporaryDir dir;
    BenchDialogs dialogs;
    dialogs.path = dir.filePath(QStringLiteral("modbusUR.csv"));
    qvx::installDialogs(&dialogs);
    clock.start();
    browser.BitBtn8Click();
    const double exportMs = ms(clock.nsecsElapsed());
    qvx::installDialogs(nullptr);

    std::vector<double> sorted = perRead;
    std::sort(sorted.begin(), sorted.end());
    double total = 0;
    for (double v : perRead)
        total += v;

    std::printf("register rows appended: %d in %d reads (%zu replies per read), %d log lines\n", dataRows,
                Reads, replies.size(), logLines);
    std::printf(
        "per read of %d registers: mean %.2f ms, median %.2f ms, max %.2f ms (first %.2f, last %.2f)\n",
        RegistersPerRead, total / Reads, sorted[sorted.size() / 2], sorted.back(), perRead.front(),
        perRead.back());
    std::printf("export of %d rows: %.1f ms, %lld bytes%s\n", grid.rowCount(), exportMs,
                static_cast<long long>(QFileInfo(dialogs.path).size()),
                dialogs.messages ? " (ERROR BOX SHOWN)" : "");
    const bool ok = dataRows == Reads * RegistersPerRead && dialogs.messages == 0;
    return ok ? 0 : 1;
}
