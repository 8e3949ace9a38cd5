// The simulator's RTU framer on line noise: 32 KiB of random bytes fed as
// the pseudo-terminal delivers them (512-byte reads), byte by byte and in
// one piece, then a request after the silence.  Prints the CPU time per byte
// of noise: the event loop that also serves Modbus TCP is busy that long, so
// it must stay small and must not grow with the noise already seen (the
// framer once took some 125 us a byte, 4 s for 32 KiB).
//
//   build-bench/bench/sim_rtu_noise_bench [KiB]
#include "sim/frames.h"
#include "transport/modbus.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    const int kib = argc > 1 ? std::atoi(argv[1]) : 32;
    QRandomGenerator random(24);
    QByteArray noise(qsizetype(kib) * 1024, Qt::Uninitialized);
    for (char &c : noise)
        c = char(random.bounded(256));
    const QByteArray read = qvx::rtuFrame(1, qvx::pduReadHolding(7, 1));

    std::printf("RTU framer, %d KiB of random noise then a request after the silence\n", kib);
    for (const int piece : {512, 1, int(noise.size())}) {
        qvxsim::RtuFramer framer;
        qsizetype frames = 0;
        qsizetype most = 0;
        QElapsedTimer t;
        t.start();
        for (qsizetype at = 0; at < noise.size(); at += piece) {
            frames += framer.feed(noise.mid(at, piece)).size();
            most = qMax(most, framer.pending());
        }
        const double ms = double(t.nsecsElapsed()) / 1e6;
        framer.clear();
        const bool answered = framer.feed(read) == QList<QByteArray>{read};
        std::printf("  pieces of %5d bytes: %8.2f ms, %6.3f us a byte, %lld frames in the noise, "
                    "at most %lld bytes held, request after it %s\n",
                    piece, ms, ms * 1000 / double(noise.size()), static_cast<long long>(frames),
                    static_cast<long long>(most), answered ? "found" : "LOST");
        if (!answered)
            return 1;
    }
    return 0;
}
