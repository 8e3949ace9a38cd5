// The real main window talking to the simulated QVX-24S in-process, over
// Modbus TCP on 127.0.0.1 or over the simulator's pseudo-terminal.  The
// simulator's frame monitor records every request it received.
#pragma once

#include "app/tform1.h"
#include "common/scripted_dialogs.h"
#include "config/register_browser.h"
#include "config/settings_readout.h"
#include "config/settings_tab.h"
#include "sim/pty_link.h"
#include "sim/tcp_server.h"
#include "transport/reply_timer.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace qvxtest {

enum class Link { Tcp, Rtu, None };

struct SimRig {
    ScopedDialogs dialogs;
    QTemporaryDir dir;
    qvxsim::Device device;
    QList<QByteArray> received; // RTU frames or TCP ADUs, as the simulator got them
    std::unique_ptr<qvxsim::TcpServer> tcp;
    std::unique_ptr<qvxsim::PtyLink> pty;
    std::unique_ptr<qvx::TForm1> form = std::make_unique<qvx::TForm1>(dir.path());
    QStringList log;

    explicit SimRig(Link link, int timeoutMs = 100)
    {
        qvxsim::LinkOptions options;
        options.monitor = [this](const QString &, const QString &direction, const QByteArray &bytes) {
            if (direction == QLatin1String("RX"))
                received << bytes;
        };
        QObject::connect(&form->session(), &qvx::Session::logLine, form.get(),
                         [this](const QString &l) { log << l; });
        child<QSpinBox>("UD_modbusTimeout")->setValue(timeoutMs);
        if (link == Link::Tcp) {
            tcp = std::make_unique<qvxsim::TcpServer>(device, options);
            tcp->listen(QHostAddress::LocalHost, 0);
            connectTcp(tcp->serverPort());
        } else if (link == Link::Rtu) {
            pty = std::make_unique<qvxsim::PtyLink>(device, options);
            pty->open();
            child<QComboBox>("Combo_com2_name")->setCurrentText(pty->slavePath());
            click("Butt_open_port2");
        }
        log.clear();
    }

    // Connects the window to a Modbus TCP server on 127.0.0.1.
    void connectTcp(quint16 port)
    {
        setText("Edit_remoteIP", QStringLiteral("127.0.0.1"));
        setText("Edit_port", QString::number(port));
        child<QSpinBox>("UD_connectTimeout")->setValue(100);
        click("Butt_connectEthernet");
        QTRY_VERIFY_WITH_TIMEOUT(ready(), 5000);
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
    // Unit and PDU of every request, whichever the link.
    QList<QByteArray> requestPdus() const
    {
        QList<QByteArray> out;
        for (const QByteArray &r : received)
            out << (tcp ? r.mid(6) : r.chopped(2));
        return out;
    }
};

} // namespace qvxtest
