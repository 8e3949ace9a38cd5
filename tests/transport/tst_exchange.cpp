// The request path end to end through the real window: a periodic read never
// breaks a sequence, a reply that does not answer its request is never
// decoded, and with the option on a window ends on a complete reply.
#include "common/hex.h"
#include "common/window_rig.h"
#include "meters/meters_tab.h"
#include "app/options_dialog.h"
#include "transport/exchange.h"
#include "transport/reply_timer.h"
#include "widgets/string_grid.h"

#include <QCheckBox>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>

using namespace qvx;
using namespace qvxtest;

namespace {

const QString Respond = QStringLiteral("Respond:");

// A Modbus TCP peer that answers every request frame it receives in a way of
// its own: noise, or the simulated device's reply under the previous
// transaction identifier.
class OddPeer : public QObject {
public:
    enum class Kind { Noise, StaleTransaction };
    explicit OddPeer(Kind kind) : m_kind(kind)
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *s = m_server.nextPendingConnection();
            QObject::connect(s, &QTcpSocket::readyRead, this, [this, s] { answer(s); });
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    int requests = 0;

private:
    void answer(QTcpSocket *s)
    {
        const QByteArray in = s->readAll();
        ++requests;
        if (m_kind == Kind::Noise) {
            QByteArray noise(8 + static_cast<int>(m_random.bounded(120)), Qt::Uninitialized);
            for (char &c : noise)
                c = static_cast<char>(m_random.bounded(256));
            s->write(noise);
            return;
        }
        const QByteArray pdu = m_device.handlePdu(in.mid(7));
        QByteArray out =
            tcpFrame(static_cast<uint16_t>((uint8_t(in[0]) << 8 | uint8_t(in[1])) - 1), uint8_t(in[6]), pdu);
        s->write(out);
    }
    Kind m_kind;
    QTcpServer m_server;
    qvxsim::Device m_device;
    QRandomGenerator m_random{20261209};
};

RigOptions rigOptions(Link link, int timeoutMs)
{
    RigOptions o;
    o.link = link;
    o.timeoutMs = timeoutMs;
    return o;
}

bool readAllDone(WindowRig &rig)
{
    return rig.child<QAbstractButton>("BitBtn14")->isEnabled() && rig.session().status(3).isEmpty();
}

} // namespace

class TstExchange : public QObject {
    Q_OBJECT
private slots:
    // Auto-read at its shortest period during a read of all meters with
    // 600 ms windows: the sequence runs through once, and the ticks that came
    // meanwhile read the values once after it.
    void autoReadWaitsForTheReadOfAllMeters()
    {
        WindowRig rig(rigOptions(Link::Tcp, 600));
        for (int slot = 1; slot <= 32; ++slot)
            rig.device.programMeter(slot, QStringLiteral("%1").arg(20000000 + slot),
                                    {QStringLiteral("1.8.0")});
        rig.child<QSpinBox>("UD_autoRead")->setValue(10);
        rig.child<QCheckBox>("Check_autoRead")->setChecked(true);
        rig.click("BitBtn14");
        QTRY_VERIFY_WITH_TIMEOUT(readAllDone(rig), 30000);
        // The waiting tick reads once, after the last list.
        QTRY_VERIFY_WITH_TIMEOUT(rig.requests().size() >= 34, 3000);
        rig.child<QCheckBox>("Check_autoRead")->setChecked(false);
        const QList<QByteArray> pdus = rig.requests();
        QCOMPARE(pdus.first(), hex("01 03 03 20 00 40"));
        for (int k = 1; k <= 32; ++k)
            QCOMPARE(uint8_t(pdus.at(k).at(1)), uint8_t(0x03));
        QCOMPARE(uint8_t(pdus.at(33).at(1)), uint8_t(0x04));
        MeterTable &table = rig.form->metersTab()->meterTable();
        for (int slot = 1; slot <= 32; ++slot) {
            QCOMPARE(table.id(slot), QStringLiteral("%1").arg(20000000 + slot));
            QCOMPARE(table.code(slot, 1), QStringLiteral("1.8.0.0"));
        }
        // Every window ended with its "Respond:" line (a regular tick may
        // have read once more since).
        QTRY_VERIFY(std::count_if(rig.log.cbegin(), rig.log.cend(),
                                  [](const QString &l) { return l.startsWith(Respond); }) >= 34);
    }

    // A peer that answers with noise or under a stale transaction identifier
    // fills no slot: every such reply is one "Reply ignored" line.
    void repliesThatDoNotAnswerAreNotDecoded_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("line");
        QTest::newRow("noise") << int(OddPeer::Kind::Noise) << QStringLiteral("Reply ignored: ");
        QTest::newRow("stale transaction") << int(OddPeer::Kind::StaleTransaction)
                                           << QStringLiteral("Reply ignored: transaction identifier ");
    }
    void repliesThatDoNotAnswerAreNotDecoded()
    {
        QFETCH(int, kind);
        QFETCH(QString, line);
        OddPeer peer(static_cast<OddPeer::Kind>(kind));
        WindowRig rig(rigOptions(Link::None, 100));
        QVERIFY(rig.connectTcp(peer.port()));
        rig.log.clear();
        rig.click("BitBtn14");
        QTRY_VERIFY_WITH_TIMEOUT(readAllDone(rig), 15000);
        QCOMPARE(peer.requests, 33);
        MeterTable &table = rig.form->metersTab()->meterTable();
        for (int slot = 1; slot <= 32; ++slot) {
            QVERIFY2(table.id(slot).isEmpty(), qPrintable(table.id(slot)));
            for (int row = 1; row <= 63; ++row)
                QVERIFY(table.code(slot, row).isEmpty());
        }
        QCOMPARE(rig.log.filter(line).size(), 33);
    }

    // With the option on, a 20 s window ends as soon as the whole reply is
    // in, over either link; the option is kept in the settings file.
    void windowEndsOnACompleteReply_data()
    {
        QTest::addColumn<Link>("link");
        QTest::newRow("tcp") << Link::Tcp;
        QTest::newRow("rtu") << Link::Rtu;
    }
    void windowEndsOnACompleteReply()
    {
        QFETCH(Link, link);
        WindowRig rig(rigOptions(link, 20000));
        rig.form->optionsDialog()->endOnCompleteReply()->setChecked(true);
        QVERIFY(rig.session().exchange().settings().endOnCompleteReply);
        rig.click("BitBtn15"); // one slot's OBIS list: its window is the time-out
        QTRY_VERIFY_WITH_TIMEOUT(rig.log.filter(Respond).size() == 1, 5000);
        QVERIFY(rig.child<ReplyTimer>("Timer_readQVX_single") &&
                !rig.child<ReplyTimer>("Timer_readQVX_single")->isEnabled());
        QCOMPARE(rig.form->metersTab()->gridRegisters()->cell(1, 1), QStringLiteral("1.8.0.0"));
        rig.form->close();
        QFile ini(rig.form->settingsFilePath());
        QVERIFY(ini.open(QIODevice::ReadOnly));
        QVERIFY(ini.readAll().contains("[Options]\r\nEndOnCompleteReply=1\r\n"));
    }
};

QTEST_MAIN(TstExchange)
#include "tst_exchange.moc"
