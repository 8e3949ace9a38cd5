// The real main window in a fresh program folder, and its Modbus link: to the
// simulated QVX-24S run in-process, over Modbus TCP on 127.0.0.1 or over a
// pseudo-terminal, or none (the test opens one itself, to a peer it plays).
// Tests look at what the operator sees (log lines, cells, panels, controls)
// and at what went over the wire (the simulator records both directions).
#pragma once

#include "app/tform1.h"
#include "common/scripted_dialogs.h"
#include "sim/device.h"
#include "sim/pty_link.h"
#include "sim/tcp_server.h"
#include "transport/session.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>

namespace qvxtest {

enum class Link { None, Tcp, Rtu };

struct RigOptions {
    Link link = Link::None;
    int timeoutMs = 0; // the window's Modbus time-out (UD_modbusTimeout); 0 keeps its own
    bool shown = false;
    bool demoMeter = true; // the simulated device starts with its demo meter programmed
    qvxsim::Faults faults;
    QString programDir; // the window's program folder; empty: a fresh temporary one (dir)
};

class WindowRig {
public:
    ScopedDialogs dialogs;
    QTemporaryDir dir;
    qvxsim::Device device;
    QList<QByteArray> received; // RTU frames or TCP ADUs as the simulator got them
    QList<QByteArray> replied;  // and what it sent back
    std::unique_ptr<qvxsim::TcpServer> tcp;
    std::unique_ptr<qvxsim::PtyLink> pty;
    std::unique_ptr<qvx::TForm1> form;
    QStringList log;
    qvxsim::LinkOptions sim; // for the simulator's links

    explicit WindowRig(const RigOptions &o = {})
        : device(o.demoMeter ? QStringLiteral("12345678") : QString()),
          form(std::make_unique<qvx::TForm1>(o.programDir.isEmpty() ? dir.path() : o.programDir))
    {
        sim.faults = o.faults;
        sim.monitor = [this](const QString &, const QString &direction, const QByteArray &bytes) {
            (direction == QLatin1String("RX") ? received : replied) << bytes;
        };
        QObject::connect(&session(), &qvx::Session::logLine, form.get(),
                         [this](const QString &l) { log << l; });
        if (o.timeoutMs)
            child<QSpinBox>("UD_modbusTimeout")->setValue(o.timeoutMs);
        if (o.shown) {
            form->show();
            form->activateWindow();
            (void)QTest::qWaitForWindowActive(form.get());
        }
        if (o.link != Link::None) {
            link(o.link);
            log.clear();
        }
    }
    ~WindowRig()
    {
        if (form)
            form->close();
    }

    qvx::Session &session() { return form->session(); }
    template <typename T> T *child(const char *name)
    {
        T *c = form->findChild<T *>(QLatin1String(name));
        if (!c)
            qFatal("missing control %s", name);
        return c;
    }
    void click(const char *name) { child<QAbstractButton>(name)->click(); }
    void setText(const char *name, const QString &text)
    {
        if (auto *combo = form->findChild<QComboBox *>(QLatin1String(name)))
            combo->setCurrentText(text);
        else
            child<QLineEdit>(name)->setText(text);
    }

    // Starts the simulator's side of the link and opens the window's.
    bool link(Link l)
    {
        if (l == Link::Tcp) {
            tcp = std::make_unique<qvxsim::TcpServer>(device, sim);
            return tcp->listen(QHostAddress::LocalHost, 0) && connectTcp(tcp->serverPort());
        }
        pty = std::make_unique<qvxsim::PtyLink>(device, sim);
        return pty->open() && openPort(pty->slavePath());
    }
    // The link steps as the operator takes them; true once the window shows
    // the link up.
    bool connectTcp(quint16 port)
    {
        setText("Edit_remoteIP", QStringLiteral("127.0.0.1"));
        setText("Edit_port", QString::number(port));
        click("Butt_connectEthernet");
        return QTest::qWaitFor([this] { return tcpConnected(); }, 5000);
    }
    bool openPort(const QString &path)
    {
        setText("Combo_com2_name", path);
        click("Butt_open_port2");
        return portOpen();
    }
    bool tcpConnected() { return !child<QAbstractButton>("Butt_connectEthernet")->isEnabled(); }
    bool portOpen()
    {
        return child<QAbstractButton>("Butt_open_port2")->text() == QLatin1String("Disconnect");
    }
    bool linked() { return tcpConnected() || portOpen(); }

    // Faults for the replies from now on.
    void setFaults(const qvxsim::Faults &faults)
    {
        sim.faults = faults;
        if (tcp)
            tcp->setFaults(faults);
        if (pty)
            pty->server().setFaults(faults);
    }
    // Unit and PDU of every request, whichever the link; pdus() without the unit.
    QList<QByteArray> requests() const
    {
        QList<QByteArray> out;
        for (const QByteArray &r : received)
            out << (tcp ? r.mid(6) : r.chopped(2));
        return out;
    }
    QList<QByteArray> pdus() const
    {
        QList<QByteArray> out;
        for (const QByteArray &r : requests())
            out << r.mid(1);
        return out;
    }

    qsizetype indexOfPrefix(const QString &prefix, qsizetype from = 0) const
    {
        for (qsizetype i = from; i < log.size(); ++i)
            if (log.at(i).startsWith(prefix))
                return i;
        return -1;
    }
    // Waits for a line that starts with prefix, logged at index from or later.
    bool waitForLine(const QString &prefix, qsizetype from, int timeoutMs = 20000)
    {
        return QTest::qWaitFor([&] { return indexOfPrefix(prefix, from) >= 0; }, timeoutMs);
    }
    // Runs an operation and waits for the "Respond:" line that ends its reply window.
    bool answered(const std::function<void()> &operation, int timeoutMs = 20000)
    {
        const qsizetype from = log.size();
        operation();
        return waitForLine(QStringLiteral("Respond:"), from, timeoutMs);
    }
};

} // namespace qvxtest
