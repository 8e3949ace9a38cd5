// "Read info from QVX-24 for all programmed METERS" against the simulator as
// a process (build/bin/qvxsim) on a pseudo-terminal, replies paced at
// 19200 baud 8N1 (--pace), once with the fixed reply windows and once with
// "End reply windows on a complete reply".  Prints the time of the whole
// read against the wire time (every request and reply byte at 10 bits a
// character), and against 33 windows' time-out.
//
//   QT_QPA_PLATFORM=offscreen build/bench/readall_bench [path/to/qvxsim]
#include "app/options_dialog.h"
#include "app/tform1.h"
#include "transport/session.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSpinBox>
#include <QTemporaryDir>
#include <cstdio>

namespace {

constexpr int Baud = 19200;
constexpr int BitsPerChar = 10; // 8N1: a pseudo-terminal takes no parity
constexpr int TimeoutMs = 500;

bool waitFor(const std::function<bool()> &done, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

struct Result {
    double seconds = 0;
    qint64 bytes = 0;
};

std::optional<Result> readAll(const QString &sim, bool endOnComplete)
{
    QTemporaryDir dir;
    const QString pty = dir.filePath(QStringLiteral("ttyQVX"));
    QProcess process;
    process.start(sim, {QStringLiteral("--pty"), pty, QStringLiteral("--pace"), QStringLiteral("--baud"),
                        QString::number(Baud), QStringLiteral("--parity"), QStringLiteral("none")});
    if (!process.waitForStarted() ||
        !waitFor([&] { return process.readAllStandardOutput().contains("ready") || QFile::exists(pty); },
                 5000))
        return std::nullopt;

    qvx::TForm1 form(dir.path());
    form.findChild<QSpinBox *>(QStringLiteral("UD_modbusTimeout"))->setValue(TimeoutMs);
    form.findChild<QComboBox *>(QStringLiteral("Combo_com2_speed"))->setCurrentText(QString::number(Baud));
    form.findChild<QComboBox *>(QStringLiteral("Combo_com2_parity"))->setCurrentText(QStringLiteral("None"));
    form.findChild<QComboBox *>(QStringLiteral("Combo_com2_name"))->setCurrentText(pty);
    form.optionsDialog()->endOnCompleteReply()->setChecked(endOnComplete);
    form.findChild<QAbstractButton *>(QStringLiteral("Butt_open_port2"))->click();
    if (!form.session().SerialPortOpen)
        return std::nullopt;
    auto *readAll = form.findChild<QAbstractButton *>(QStringLiteral("BitBtn14"));
    QElapsedTimer clock;
    clock.start();
    readAll->click();
    if (!waitFor([&] { return readAll->isEnabled(); }, 120000))
        return std::nullopt;
    Result r;
    r.seconds = clock.nsecsElapsed() / 1e9;
    // 33 requests of 8 bytes; the ID reply and 32 list replies of
    // 5 + 2 x registers bytes.
    r.bytes = 33 * 8 + (5 + 2 * 64) + 32 * (5 + 2 * 126);
    form.close();
    process.terminate();
    process.waitForFinished(3000);
    return r;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString sim = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                 : QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/qvxsim");
    std::printf("read of all meters, 1 + 32 requests, replies paced at %d baud, time-out %d ms\n", Baud,
                TimeoutMs);
    for (bool on : {false, true}) {
        const std::optional<Result> r = readAll(sim, on);
        if (!r) {
            std::printf("%-28s failed (simulator at %s?)\n",
                        on ? "end on complete reply:" : "fixed windows:", qPrintable(sim));
            return 1;
        }
        const double wire = double(r->bytes) * BitsPerChar / Baud;
        std::printf("%-28s %6.2f s  wire time %.2f s (%lld bytes)  %.2f x wire  %.2f x (33 x time-out)\n",
                    on ? "end on complete reply:" : "fixed windows:", r->seconds, wire,
                    static_cast<long long>(r->bytes), r->seconds / wire,
                    r->seconds / (33 * TimeoutMs / 1000.0));
    }
    return 0;
}
