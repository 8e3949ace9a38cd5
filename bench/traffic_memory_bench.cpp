// What a frame costs the traffic monitor: Modbus TCP requests and replies go
// over a real connection on 127.0.0.1 (so every reply is a socket read, with
// the buffer a read leaves behind) through the tap into the window until the
// list holds its bound of 100,000 frames.  Prints the resident memory before,
// at the bound and after "Clear", and the memory per frame.
//
//   QT_QPA_PLATFORM=offscreen build/bench/traffic_memory_bench [frames]
#include "monitor/traffic_monitor_window.h"
#include "monitor/traffic_tap.h"
#include "transport/modbus.h"
#include "transport/session.h"

#include "bench_memory.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTableView>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <chrono>
#include <cstdio>

namespace {

qint64 nowUsec()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const qint64 wanted = argc > 1 ? QByteArray(argv[1]).toLongLong() : qvx::TrafficModel::MaxFrames;
    qvx::Session session;
    qvx::TrafficTap tap(session);
    qvx::TrafficMonitorWindow window(tap);
    window.resize(1000, 600);
    window.show();
    app.processEvents();

    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 1;
    QTcpSocket client;
    QTcpSocket *peer = nullptr;
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    if (!client.waitForConnected(5000) || !server.waitForNewConnection(5000))
        return 1;
    peer = server.nextPendingConnection();
    const QByteArray pdu = QByteArray::fromHex("04080000000100000002");
    qvx::XportSocket &tcp = session.socket();

    quint16 transaction = 1000;
    qint64 frames = 0;
    auto sendRequest = [&] {
        const QByteArray request = qvx::tcpFrame(transaction, 1, qvx::pduReadInput(1000, 4));
        client.write(request);
        emit tcp.bytesWrittenTap(request, nowUsec());
        ++frames;
    };
    QObject::connect(peer, &QTcpSocket::readyRead, [&] {
        peer->readAll();
        peer->write(qvx::tcpFrame(transaction, 1, pdu));
    });
    QObject::connect(&client, &QTcpSocket::readyRead, [&] {
        // As the link reads a reply: everything the socket holds.
        const QByteArray reply = client.readAll();
        emit tcp.bytesReadTap(reply, nowUsec());
        ++frames;
        ++transaction;
        if (frames < wanted)
            sendRequest();
        else
            app.quit();
    });

    const long before = rssKiB();
    QElapsedTimer clock;
    clock.start();
    sendRequest();
    app.exec();
    tap.flushAll();
    window.showPending();
    app.processEvents();
    const long full = rssKiB();
    const int listed = window.model().rowCount();
    std::printf("frames through the tap: %lld in %lld ms, in the list: %d\n", static_cast<long long>(frames),
                static_cast<long long>(clock.elapsed()), listed);
    std::printf("memory: %ld KiB before, %ld KiB with the list full\n", before, full);
    std::printf("memory per frame: %.0f bytes\n", listed ? (full - before) * 1024.0 / listed : 0.0);

    // The filter reads every summary (decoded again since they are not kept).
    QElapsedTimer filterClock;
    filterClock.start();
    auto *filter = window.findChild<QLineEdit *>(QStringLiteral("MonitorFilter"));
    filter->setText(QStringLiteral("exception"));
    app.processEvents();
    std::printf("filter \"exception\" over the full list: %lld ms, %d rows shown\n",
                static_cast<long long>(filterClock.elapsed()), window.view()->model()->rowCount());
    filter->clear();
    app.processEvents();

    window.findChild<QPushButton *>(QStringLiteral("MonitorClear"))->click();
    app.processEvents();
    const long cleared = rssKiB();
    std::printf("after Clear: %d frames in the list, memory %ld KiB (%ld KiB above before)\n",
                window.model().rowCount(), cleared, cleared - before);
    return 0;
}
