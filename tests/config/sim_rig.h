// The real main window talking to the simulated QVX-24S in-process, over a
// Modbus TCP connection on 127.0.0.1 or over the simulator's pseudo-terminal.
// The simulator's frame monitor records every request it received, so tests
// compare the bytes on the wire and then the device's state.
#pragma once

#include "app/tform1.h"
#include "common/scripted_dialogs.h"
#include "config/register_browser.h"
#include "config/settings_readout.h"
#include "config/settings_tab.h"
#include "sim/device.h"
#include "sim/pty_link.h"
#include "sim/tcp_server.h"
#include "transport/reply_timer.h"
#include "transport/session.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace qvxtest {

enum class Link { Tcp, Rtu };

struct SimRig {
    ScopedDialogs dialogs;
    QTemporaryDir dir;
    qvxsim::Device device;
    QList<QByteArray> received; // requests as the simulator saw them (RTU frame or TCP ADU)
    qvxsim::LinkOptions options;
    std::unique_ptr<qvxsim::TcpServer> tcp;
    std::unique_ptr<qvxsim::PtyLink> pty;
    std::unique_ptr<qvx::TForm1> form;
    QStringList log;

    explicit SimRig(Link link, int timeoutMs = 100)
    {
        options.monitor = [this](const QString &, const QString &direction, const QByteArray &bytes) {
            if (direction == QLatin1String("RX"))
                received << bytes;
        };
        form = std::make_unique<qvx::TForm1>(dir.path());
        QObject::connect(&form->session(), &qvx::Session::logLine, form.get(),
                         [this](const QString &l) { log << l; });
        child<QSpinBox>("UD_modbusTimeout")->setValue(timeoutMs);
        if (link == Link::Tcp) {
            tcp = std::make_unique<qvxsim::TcpServer>(device, options);
            if (!tcp->listen(QHostAddress::LocalHost, 0))
                return;
            child<QLineEdit>("Edit_remoteIP")->setText(QStringLiteral("127.0.0.1"));
            child<QLineEdit>("Edit_port")->setText(QString::number(tcp->serverPort()));
            child<QSpinBox>("UD_connectTimeout")->setValue(100);
            click("Butt_connectEthernet");
            QDeadlineTimer deadline(5000);
            while (!ready() && !deadline.hasExpired())
                QTest::qWait(10);
        } else {
            pty = std::make_unique<qvxsim::PtyLink>(device, options);
            if (!pty->open())
                return;
            child<QComboBox>("Combo_com2_name")->setCurrentText(pty->slavePath());
            click("Butt_open_port2");
        }
        log.clear();
    }

    qvx::Session &session() { return form->session(); }
    qvx::SettingsReadout &readout() { return *form->settingsTab()->settingsReadout(); }
    qvx::RegisterBrowser &browser() { return *form->settingsTab()->registerBrowser(); }
    bool ready() { return session().linkOpen(); }

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
            combo->setEditText(text);
        else
            child<QLineEdit>(name)->setText(text);
    }

    // Waits for the end of the write window: the "Respond:" line.
    bool waitForRespond(int timeoutMs = 8000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            for (const QString &l : log)
                if (l.startsWith(QLatin1String("Respond:")))
                    return true;
            QTest::qWait(10);
        }
        return false;
    }
    // Waits until the settings readout or firmware query has ended.
    bool waitForReadoutEnd(int timeoutMs = 15000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            if (!readout().timerStatus().isEnabled())
                return true;
            QTest::qWait(10);
        }
        return false;
    }
    // The requests' unit and PDU, whichever the link: what the device was asked.
    QList<QByteArray> requestPdus() const
    {
        QList<QByteArray> out;
        for (const QByteArray &r : received)
            out << (tcp ? r.mid(6) : r.left(r.size() - 2));
        return out;
    }
};

} // namespace qvxtest
