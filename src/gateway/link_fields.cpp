#include "gateway/link_fields.h"

#include "transport/session.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>

namespace qvx {

LinkFields LinkFields::find(QWidget *window)
{
    LinkFields f;
    if (!window)
        return f;
    f.port = window->findChild<QComboBox *>(QStringLiteral("Combo_com2_name"));
    f.speed = window->findChild<QComboBox *>(QStringLiteral("Combo_com2_speed"));
    f.parity = window->findChild<QComboBox *>(QStringLiteral("Combo_com2_parity"));
    f.host = window->findChild<QLineEdit *>(QStringLiteral("Edit_remoteIP"));
    f.tcpPort = window->findChild<QLineEdit *>(QStringLiteral("Edit_port"));
    f.unit = window->findChild<QSpinBox *>(QStringLiteral("UDmodbusAddress"));
    f.timeout = window->findChild<QSpinBox *>(QStringLiteral("UD_modbusTimeout"));
    return f;
}

GatewayLink LinkFields::current(Session &session) const
{
    GatewayLink link;
    link.tcp = session.TransportMode == TransportModeKind::Tcp;
    if (host)
        link.host = host->text();
    if (tcpPort)
        link.port = tcpPort->text().toInt();
    if (port)
        link.serialPort = port->currentText();
    if (speed)
        link.baud = speed->currentText().toInt();
    if (parity)
        link.parity = parity->currentText().toLower();
    if (link.parity != QLatin1String("none") && link.parity != QLatin1String("odd"))
        link.parity = QStringLiteral("even");
    link.unit = session.exchange().settings().unit;
    link.timeoutMs = qMax(100, session.exchange().settings().timeoutMs);
    return link;
}

void LinkFields::show(const GatewayLink &link) const
{
    if (!link.tcp) {
        if (speed)
            speed->setCurrentText(QString::number(link.baud));
        if (parity)
            parity->setCurrentText(parityCaption(link.parity));
    }
    if (unit)
        unit->setValue(link.unit);
}

QString parityCaption(const QString &parity)
{
    return parity.isEmpty() ? parity : parity.left(1).toUpper() + parity.mid(1).toLower();
}

} // namespace qvx
