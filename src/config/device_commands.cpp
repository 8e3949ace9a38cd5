#include "config/device_commands.h"

#include "widgets/guard.h"
#include "widgets/typing_limit.h"
#include "config/device_codec.h"
#include "config/register_browser.h"
#include "config/settings_readout.h"
#include "transport/reply_timer.h"
#include "transport/session.h"
#include "widgets/named_button.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace qvx {

namespace {

// An edit whose label is its buddy, so that the label names it for
// assistive technology too.
QLineEdit *labelledEdit(const QString &name, const QString &text, int limit, QLabel *label, QWidget *parent)
{
    auto *edit = new QLineEdit(text, parent);
    edit->setObjectName(name);
    setTypingLimit(edit, limit);
    label->setBuddy(edit);
    edit->setAccessibleName(label->text());
    return edit;
}

QComboBox *labelledCombo(const QString &name, const QStringList &items, QLabel *label, QWidget *parent)
{
    auto *combo = new QComboBox(parent);
    combo->setObjectName(name);
    combo->setEditable(true);
    combo->addItems(items);
    // Empty at start: the operator picks or types the value.
    combo->setCurrentIndex(-1);
    combo->setEditText(QString());
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    label->setBuddy(combo);
    combo->setAccessibleName(label->text());
    return combo;
}

QLabel *caption(const QString &text, QWidget *parent)
{
    return new QLabel(text, parent);
}

uint8_t highByte(qint64 v)
{
    return static_cast<uint8_t>((v >> 8) & 0xFF);
}
uint8_t lowByte(qint64 v)
{
    return static_cast<uint8_t>(v & 0xFF);
}

} // namespace

DeviceCommands::DeviceCommands(Session &session, RegisterBrowser &browser, SettingsReadout &readout,
                               QWidget *groupParent)
    : QObject(groupParent), m_session(session), m_browser(browser), m_readout(readout)
{
    buildCommands();
    buildTcpSettings();
    m_commands->setParent(groupParent);
    m_tcpSettings->setParent(groupParent);
}

void DeviceCommands::buildCommands()
{
    m_commands = new QGroupBox(QStringLiteral("   Commands   "));
    m_commands->setObjectName(QStringLiteral("GroupBox_commands"));
    QWidget *g = m_commands;

    auto *addressLabel = caption(QStringLiteral("New Address:"), g);
    m_editAddress = labelledEdit(QStringLiteral("Edit_address"), QStringLiteral("1"), 3, addressLabel, g);
    auto *setAddress = namedButton(QStringLiteral("BitBtn12"), QStringLiteral("Set new modbus address"), g);

    auto *baudLabel = caption(QStringLiteral("Set new Baud:"), g);
    m_comboBaud = labelledCombo(QStringLiteral("Combo_baud"), baudRateTexts(), baudLabel, g);
    auto *parityLabel = caption(QStringLiteral("Set new parity:"), g);
    m_comboParity = labelledCombo(QStringLiteral("Combo_parity"), parityTexts(), parityLabel, g);
    auto *setRtu = namedButton(QStringLiteral("BitBtn11"), QStringLiteral("Set Baud RTU"), g);
    auto *setIec = namedButton(QStringLiteral("Button1"), QStringLiteral("Set Baud for IEC"), g);

    auto *minutesLabel = caption(QStringLiteral("Network read timeout (minutes)"), g);
    m_editMinutes = labelledEdit(QStringLiteral("Edit_minutes"), QStringLiteral("2"), 4, minutesLabel, g);
    auto *setMinutes =
        namedButton(QStringLiteral("BitBtn13"), QStringLiteral("Set Readout time (2-1440 min)"), g);

    auto *flagLabel = caption(QStringLiteral("Select what Flag to Set/Clear"), g);
    m_comboFlag = labelledCombo(QStringLiteral("Combo_selectFlag"), flagItems(), flagLabel, g);
    m_checkFlag = new QCheckBox(QStringLiteral("Set/Clear flag"), g);
    m_checkFlag->setObjectName(QStringLiteral("Check_flag01"));
    auto *sendFlag = namedButton(QStringLiteral("Button7"), QStringLiteral("Send to QVX-24S"), g);

    auto *valueLabel = caption(QStringLiteral("Write custom value in custom register (16-bit):"), g);
    m_editSingleValue = labelledEdit(QStringLiteral("Edit_single_value"), QString(), 5, valueLabel, g);
    auto *writeSingle = namedButton(QStringLiteral("Button2"), QStringLiteral("Write single reg."), g);

    auto *firmware = namedButton(QStringLiteral("Button8"), QStringLiteral("Read firmware version"), g);
    QPushButton *status = m_readout.button();
    status->setParent(g);

    auto *grid = new QGridLayout(g);
    grid->setContentsMargins(5, 5, 5, 5);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(3);
    grid->addWidget(addressLabel, 0, 0);
    grid->addWidget(m_editAddress, 0, 1);
    grid->addWidget(setAddress, 0, 2, 1, 2);
    grid->addWidget(baudLabel, 1, 0);
    grid->addWidget(m_comboBaud, 1, 1);
    grid->addWidget(setRtu, 1, 2, 1, 2);
    grid->addWidget(parityLabel, 2, 0);
    grid->addWidget(m_comboParity, 2, 1);
    grid->addWidget(setIec, 2, 2, 1, 2);
    grid->addWidget(minutesLabel, 3, 0);
    grid->addWidget(m_editMinutes, 3, 1);
    grid->addWidget(setMinutes, 3, 2, 1, 2);
    grid->addWidget(flagLabel, 4, 0);
    grid->addWidget(m_comboFlag, 4, 1, 1, 2);
    grid->addWidget(m_checkFlag, 5, 1);
    grid->addWidget(sendFlag, 5, 2, 1, 2);
    grid->addWidget(valueLabel, 6, 0);
    grid->addWidget(m_editSingleValue, 6, 1);
    grid->addWidget(writeSingle, 6, 2, 1, 2);
    auto *readButtons = new QHBoxLayout;
    readButtons->addWidget(status);
    readButtons->addWidget(firmware);
    grid->addLayout(readButtons, 7, 0, 1, 4);
    grid->setColumnStretch(1, 1);
    // The long captions take two lines, so the group fits beside the link
    // settings in the window's width.
    for (QLabel *l : {minutesLabel, flagLabel, valueLabel})
        l->setWordWrap(true);
    grid->setColumnMinimumWidth(0,
                                g->fontMetrics().horizontalAdvance(QStringLiteral("timeout (minutes)")) + 2);

    connect(setAddress, &QPushButton::clicked, this, &DeviceCommands::BitBtn12Click);
    connect(setRtu, &QPushButton::clicked, this, &DeviceCommands::BitBtn11Click);
    connect(setIec, &QPushButton::clicked, this, &DeviceCommands::Button1Click);
    connect(setMinutes, &QPushButton::clicked, this, &DeviceCommands::BitBtn13Click);
    connect(sendFlag, &QPushButton::clicked, this, &DeviceCommands::Button7Click);
    connect(writeSingle, &QPushButton::clicked, this, &DeviceCommands::Button2Click);
    connect(firmware, &QPushButton::clicked, this, &DeviceCommands::Button8Click);
}

void DeviceCommands::buildTcpSettings()
{
    m_tcpSettings = new QGroupBox(QStringLiteral("   TCP Settings QVX-24S  "));
    m_tcpSettings->setObjectName(QStringLiteral("GroupBox_tcpSettings"));
    QWidget *g = m_tcpSettings;
    auto *grid = new QGridLayout(g);
    grid->setContentsMargins(5, 5, 5, 5);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(3);
    struct Row {
        const char *edit;
        const char *label;
        const char *button;
        const char *what; // tells the three "Set" buttons apart for assistive technology
        void (DeviceCommands::*handler)();
        QLineEdit **field;
    };
    const Row rows[] = {
        {"Edit_QVXIP", "Static IPv4:", "Butt_IP", "Sets the static IPv4 address",
         &DeviceCommands::Butt_IPClick, &m_editIp},
        {"Edit_QVXMASK", "Mask", "Butt_mask", "Sets the subnet mask", &DeviceCommands::Butt_maskClick,
         &m_editMask},
        {"Edit_QVXGW", "Gateway", "Butt_GW", "Sets the default gateway", &DeviceCommands::Butt_GWClick,
         &m_editGateway},
    };
    int r = 0;
    for (const Row &row : rows) {
        auto *label = caption(QLatin1String(row.label), g);
        QLineEdit *edit = labelledEdit(QLatin1String(row.edit), QString(), 15, label, g);
        *row.field = edit;
        auto *set = namedButton(QLatin1String(row.button), QStringLiteral("Set"), g);
        // "Set" needs far less than a standard button's width; the address
        // fields take the room, wide enough for "255.255.255.255".
        set->setMaximumWidth(set->fontMetrics().horizontalAdvance(set->text()) + 18);
        edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("255.255.255.255")) + 8);
        set->setAccessibleDescription(QLatin1String(row.what));
        grid->addWidget(label, r, 0);
        grid->addWidget(edit, r, 1);
        grid->addWidget(set, r, 2);
        connect(set, &QPushButton::clicked, this, row.handler);
        ++r;
    }
    grid->setColumnStretch(1, 1);
}

void DeviceCommands::startWrite()
{
    m_session.exchange().beginWrite();
}

uint8_t DeviceCommands::unit() const
{
    return m_session.exchange().settings().unit;
}

void DeviceCommands::sendWrite(const ModbusRequest &request)
{
    Exchange &exchange = m_session.exchange();
    exchange.send(exchange.modbusWindow(), request);
}

void DeviceCommands::BitBtn12Click()
{
    guard(
        [this] {
            if (!m_session.exchange().checkLink())
                return;
            const QString text = m_editAddress->text();
            if (text.isEmpty()) {
                m_session.log(QStringLiteral("Modbus address not entered"));
                return;
            }
            // Text that is not a number counts as out of range.
            const qint64 address = decimalValue(text).value_or(255);
            if (address < 1 || address > 247) {
                m_session.log(QStringLiteral("Invalid new modbus address entered..."));
                return;
            }
            startWrite();
            try {
                sendWrite(
                    ModbusRequest::writeSingle(unit(), DeviceRegister::UnitAddress, 0, lowByte(address)));
            } catch (const std::exception &) {
                m_session.log(QStringLiteral("Exception converting address value..."));
                return;
            }
        },
        m_commands);
}

void DeviceCommands::setLine(int address)
{
    if (!m_session.exchange().checkLink())
        return;
    const int baud = baudRateCode(m_comboBaud->currentText());
    if (baud < 0) {
        m_session.log(
            QStringLiteral("Wrong baud, allowable are 300,1200,2400,4800,9600,19200,38400,57600,115200..."));
        return;
    }
    const int parity = parityCode(m_comboParity->currentText());
    if (parity < 0) {
        m_session.log(QStringLiteral("Wrong parity - must be Even, Odd or None..."));
        return;
    }
    startWrite();
    sendWrite(ModbusRequest::writeSingle(unit(), address, 0, lineSettingsByte(baud, parity)));
}

void DeviceCommands::BitBtn11Click()
{
    guard([this] { setLine(DeviceRegister::RtuLine); }, m_commands);
}

void DeviceCommands::Button1Click()
{
    guard([this] { setLine(DeviceRegister::IecLine); }, m_commands);
}

void DeviceCommands::BitBtn13Click()
{
    guard(
        [this] {
            if (!m_session.exchange().checkLink())
                return;
            // The device accepts 1 as well, although the caption names 2.
            const qint64 minutes = decimalValue(m_editMinutes->text()).value_or(0);
            if (minutes < 1 || minutes > 1440) {
                m_session.log(
                    QStringLiteral("Wrong timeout value. Should be between 1 and 1440 minutes...skipped"));
                return;
            }
            startWrite();
            sendWrite(ModbusRequest::writeSingle(unit(), DeviceRegister::ReadoutMinutes, highByte(minutes),
                                                 lowByte(minutes)));
        },
        m_commands);
}

void DeviceCommands::Button7Click()
{
    guard(
        [this] {
            if (!m_session.exchange().checkLink())
                return;
            const int flag = flagNumber(m_comboFlag->currentText());
            if (flag < 0) {
                m_session.log(QStringLiteral("Selected Flag is not supported..."));
                return;
            }
            startWrite();
            sendWrite(ModbusRequest::writeSingle(unit(), DeviceRegister::Flags, 0,
                                                 flagCommandValue(flag, m_checkFlag->isChecked())));
        },
        m_commands);
}

void DeviceCommands::Button2Click()
{
    guard(
        [this] {
            if (!m_session.exchange().checkLink())
                return;
            // This command marks the write before it checks its fields: a
            // refused value still leaves WritePending set and the buffers empty.
            startWrite();
            const std::optional<qint64> value = decimalValue(m_editSingleValue->text());
            if (!value || *value < 0 || *value > 65535) {
                m_session.log(QStringLiteral("Enter correct value (0 - 65535)..."));
                return;
            }
            const auto *startField = m_browser.findChild<QLineEdit *>(QStringLiteral("EditInputAddress"));
            const std::optional<qint64> address =
                startField ? decimalValue(startField->text()) : std::optional<qint64>();
            if (!address || *address < 0 || *address > 65535) {
                m_session.log(QStringLiteral("Enter proper register address, which will be changed..."));
                return;
            }
            sendWrite(ModbusRequest::writeSingle(unit(), static_cast<int>(*address), highByte(*value),
                                                 lowByte(*value)));
        },
        m_commands);
}

void DeviceCommands::setIpv4(const QLineEdit *edit, int address)
{
    if (!m_session.exchange().checkLink())
        return;
    // A malformed address sends nothing and says nothing.
    const auto octets = ParseIPv4Text(edit->text());
    if (!octets)
        return;
    startWrite();
    const QByteArray data(reinterpret_cast<const char *>(octets->data()), 4);
    sendWrite(ModbusRequest::writeMultiple(unit(), address, 4, data));
}

void DeviceCommands::Butt_IPClick()
{
    guard([this] { setIpv4(m_editIp, DeviceRegister::IpAddress); }, m_tcpSettings);
}

void DeviceCommands::Butt_maskClick()
{
    guard([this] { setIpv4(m_editMask, DeviceRegister::Mask); }, m_tcpSettings);
}

void DeviceCommands::Butt_GWClick()
{
    guard([this] { setIpv4(m_editGateway, DeviceRegister::Gateway); }, m_tcpSettings);
}

void DeviceCommands::Button8Click()
{
    guard(
        [this] {
            if (!m_session.exchange().checkLink())
                return;
            m_readout.readFirmware();
        },
        m_commands);
}

} // namespace qvx
