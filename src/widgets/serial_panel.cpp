#include "widgets/serial_panel.h"

#include "widgets/dialogs.h"
#include "widgets/guard.h"
#include "widgets/port_box.h"
#include "transport/port_name.h"
#include "transport/session.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QThread>

namespace qvx {
namespace {

constexpr int StatusPanel = 1;

// Every box is editable: the items are the choices offered, and whatever the
// operator types (or the settings file holds) is shown as it is.
QComboBox *makeBox(const char *name, const QStringList &items, const QString &current, QWidget *parent)
{
    auto *box = new QComboBox(parent);
    box->setObjectName(QLatin1String(name));
    box->setEditable(true);
    // Enter must not add the typed text to the list of choices.
    box->setInsertPolicy(QComboBox::NoInsert);
    box->addItems(items);
    box->setCurrentText(current);
    return box;
}

void addLabelled(QFormLayout *form, const QString &label, QWidget *field)
{
    auto *caption = new QLabel(label, field->parentWidget());
    caption->setBuddy(field);
    field->setAccessibleName(label);
    form->addRow(caption, field);
}

} // namespace

SerialPanel::SerialPanel(Session &session, QWidget *parent)
    : QGroupBox(QStringLiteral("   Serial port settings   "), parent), m_session(session)
{
    QStringList speeds;
    for (qint32 rate : StandardBaudRates)
        speeds << QString::number(rate);

    // The system's ports with their descriptions, read again each time the
    // list opens; the text stays the port's name.
    m_name = new PortBox(standardPortNames(), systemPortChoices, this);
    m_name->setObjectName(QStringLiteral("Combo_com2_name"));
    m_name->setCurrentText(QStringLiteral("COM1"));
    // A pseudo-terminal's or a /dev/serial/by-id name is longer than the box
    // can be in this column: the line under the box shows it whole, wrapped
    // at its separators, for as long as the box cuts it off (and the tip too).
    m_wholeName = new QLabel(this);
    m_wholeName->setObjectName(QStringLiteral("Label_com2_name_whole"));
    m_wholeName->setAccessibleName(QStringLiteral("Name in full"));
    m_wholeName->setTextFormat(Qt::PlainText);
    m_wholeName->setWordWrap(true);
    // Its width is the panel's, never the other way round.
    m_wholeName->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    connect(m_name, &QComboBox::currentTextChanged, this, &SerialPanel::showWholeName);
    m_name->installEventFilter(this);
    m_speed = makeBox("Combo_com2_speed", speeds, QStringLiteral("19200"), this);
    m_parity = makeBox("Combo_com2_parity",
                       {QStringLiteral("None"), QStringLiteral("Even"), QStringLiteral("Odd"),
                        QStringLiteral("Mark"), QStringLiteral("Space")},
                       QStringLiteral("Even"), this);
    m_dataBits =
        makeBox("Combo_dbits", {QStringLiteral("7"), QStringLiteral("8")}, QStringLiteral("8"), this);
    m_stopBits =
        makeBox("Combo_com2_stop", {QStringLiteral("1"), QStringLiteral("2")}, QStringLiteral("1"), this);

    // Kept for the operator's eye and nothing else: no part of the program
    // reads it.
    m_bytesTimeout = new QSpinBox(this);
    m_bytesTimeout->setObjectName(QStringLiteral("UD_timeout_port"));
    m_bytesTimeout->setRange(0, 99);
    m_bytesTimeout->setValue(0);
    if (auto *edit = m_bytesTimeout->findChild<QLineEdit *>()) {
        edit->setObjectName(QStringLiteral("Edit_timeout_port"));
        edit->setReadOnly(true);
        edit->setAccessibleName(QStringLiteral("Bytes timeout"));
    }

    m_autoOpen = new QCheckBox(QStringLiteral("Automatically open "), this);
    m_autoOpen->setObjectName(QStringLiteral("CB_open_port2"));

    m_open = new QPushButton(QStringLiteral("Connect to port"), this);
    m_open->setObjectName(QStringLiteral("Butt_open_port2"));
    connect(m_open, &QPushButton::clicked, this, &SerialPanel::Butt_open_port2Click);
    connect(&m_session.comm2(), &Comm2::deviceLost, this, &SerialPanel::Comm2DeviceLost);

    for (QComboBox *box : {m_name, m_speed, m_parity, m_dataBits, m_stopBits})
        connect(box, &QComboBox::currentTextChanged, this, &SerialPanel::lineChanged);

    auto *form = new QFormLayout(this);
    addLabelled(form, QStringLiteral("Name"), m_name);
    form->addRow(m_wholeName);
    showWholeName();
    addLabelled(form, QStringLiteral("Speed"), m_speed);
    addLabelled(form, QStringLiteral("Parity"), m_parity);
    addLabelled(form, QStringLiteral("Data bits"), m_dataBits);
    addLabelled(form, QStringLiteral("Stop bits"), m_stopBits);
    addLabelled(form, QStringLiteral("Bytes timeout"), m_bytesTimeout);
    form->addRow(m_autoOpen);
    form->addRow(m_open);
}

bool SerialPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_name && event->type() == QEvent::Resize)
        showWholeName();
    return QGroupBox::eventFilter(watched, event);
}

void SerialPanel::showWholeName()
{
    const QString name = m_name->currentText();
    m_name->setToolTip(name);
    const QLineEdit *edit = m_name->lineEdit();
    // The edit's text area: its contents less the two-pixel margin it keeps
    // on either side.
    const bool cut = edit && edit->fontMetrics().horizontalAdvance(name) > edit->contentsRect().width() - 4;
    QString wrappable;
    for (QChar c : name) {
        wrappable += c;
        if (c == QLatin1Char('/') || c == QLatin1Char('-') || c == QLatin1Char('_') || c == QLatin1Char('\\'))
            wrappable += QChar(0x200B); // a place to break the line, shown as nothing
    }
    m_wholeName->setText(wrappable);
    if (auto *form = qobject_cast<QFormLayout *>(layout()))
        form->setRowVisible(m_wholeName, cut);
}

QString SerialPanel::portName() const
{
    return m_name->currentText();
}

Comm2::LineSettings SerialPanel::lineSettings() const
{
    return lineSettingsFromTexts(m_speed->currentText(), m_parity->currentText(), m_dataBits->currentText(),
                                 m_stopBits->currentText());
}

void SerialPanel::Butt_open_port2Click()
{
    guard(
        [this] {
            if (m_session.TransportMode == TransportModeKind::Tcp) {
                m_session.log(QStringLiteral("There is active TCP connection, close it first!"));
                return;
            }
            TogglePort();
        },
        this);
}

void SerialPanel::TogglePort()
{
    if (m_session.SerialPortOpen)
        closePort();
    else
        openPort();
}

void SerialPanel::Comm2DeviceLost(const QString &reason)
{
    guard(
        [this, &reason] {
            if (!m_session.SerialPortOpen)
                return;
            m_session.log(
                QStringLiteral("Serial device %1 lost: %2").arg(m_session.comm2().devicePath(), reason));
            // Everything after this finds the link closed: a reply window that
            // is still open ends as it does for a closed link.
            closePort();
        },
        this);
}

void SerialPanel::closePort()
{
    Comm2 &comm = m_session.comm2();
    // The component has no threads of its own to stop: releasing the device
    // is all its closing takes, so it happens first, as the handle release.
    comm.close();
    m_session.setStatus(StatusPanel, comm.devicePath() + QStringLiteral(" is closed"));
    m_session.setSerialPortOpen(false);
    // A short pause before the boxes come back, so that a quick reopen does
    // not reach a USB adapter's driver while it is still letting go.
    QThread::msleep(30);
    setLineBoxesEnabled(true);
    m_session.log(QStringLiteral("Serial port for modbus closed"));
    m_open->setText(QStringLiteral("Connect to port"));
}

void SerialPanel::openPort()
{
    Comm2 &comm = m_session.comm2();
    const QString path = serialDevicePath(m_name->currentText());
    comm.setDevicePath(path);
    const PortOpenFailure failure = comm.probeOpen();
    if (failure != PortOpenFailure::None) {
        dialogs().message(this, DialogIcon::Warning, QStringLiteral("Connect to port"),
                          portOpenFailureText(failure));
        m_session.setStatus(StatusPanel, path + QStringLiteral(" is closed"));
        return;
    }
    comm.setLineSettings(lineSettings());
    comm.open(); // raises; nothing below runs then

    // The texts as the boxes show them, typed values included; the stop bits
    // are not part of it.
    const QString line = m_name->currentText() + QStringLiteral(" - ") + m_speed->currentText() +
                         QLatin1Char(',') + m_dataBits->currentText() + QLatin1Char(',') +
                         m_parity->currentText();
    m_session.setStatus(StatusPanel, line);
    m_session.setSerialPortOpen(true);
    m_session.log(line);
    setLineBoxesEnabled(false);
    m_open->setText(QStringLiteral("Disconnect"));
}

void SerialPanel::setLineBoxesEnabled(bool enabled)
{
    m_name->setEnabled(enabled);
    m_speed->setEnabled(enabled);
    m_parity->setEnabled(enabled);
    m_stopBits->setEnabled(enabled);
}

} // namespace qvx
