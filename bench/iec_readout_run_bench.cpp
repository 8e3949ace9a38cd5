// Feeds meter-like readouts of growing size to a readout run that waits for
// the end of the message, in receive events of 1 to 1024 bytes (sizes from a
// fixed seed), and prints the time and bytes per second: the end detection
// looks only at events that carry ETX or follow one, so the time must grow
// linearly with the size.  Every run checks that the run ended with BCC OK
// on the last byte.
//
//   QT_QPA_PLATFORM=offscreen build/bench/iec_readout_run_bench
#include "iec/iec_protocol.h"
#include "iec/iec_session.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qvx::Comm2 comm; // closed: the sign-on goes nowhere
    for (const qsizetype size : {qsizetype(64) << 10, qsizetype(1) << 20, qsizetype(8) << 20}) {
        QByteArray block(1, qvx::IecStx);
        for (int i = 0; block.size() < size; ++i)
            block += QByteArray::number(i % 97) + ".8.0(0001234.567*kWh)\r\n";
        block += "!\r\n";
        block += qvx::IecEtx;
        block += char(qvx::IecBcc(block));
        const QByteArray answer = "/QVX5SIMMETER\r\n" + block;

        qvx::IecReadoutRun run(comm);
        qvx::IecReadoutRun::Options options;
        options.untilEnd = true;
        run.start(options);
        QRandomGenerator rng(42);
        QElapsedTimer clock;
        clock.start();
        for (qsizetype at = 0; at < answer.size();) {
            const qsizetype n = qMin<qsizetype>(rng.bounded(1, 1025), answer.size() - at);
            run.feed(answer.mid(at, n));
            at += n;
        }
        const double s = clock.nsecsElapsed() / 1e9;
        const bool ok = run.outcome() == qvx::IecReadoutRun::Outcome::BccOk && run.capture() == answer;
        std::printf("%9lld bytes  %8.3f ms  %8.1f MB/s  %s\n", static_cast<long long>(answer.size()),
                    s * 1000, answer.size() / s / 1e6, ok ? "BCC OK" : "WRONG");
        if (!ok)
            return 1;
    }
    return 0;
}
