#include "widgets/port_box.h"

#include "transport/comm2.h"

#include <QSerialPortInfo>
#include <QStandardItemModel>

namespace qvx {
namespace {

// An editable combo box puts an item's edit role into its text when it is
// chosen: the edit role is the port's name, the display role the list's text.
class PortModel : public QStandardItemModel {
public:
    using QStandardItemModel::QStandardItemModel;
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role == Qt::EditRole)
            return QStandardItemModel::data(index, Qt::UserRole);
        return QStandardItemModel::data(index, role);
    }
};

} // namespace

QString portChoiceText(const PortChoice &choice)
{
    if (choice.description.isEmpty())
        return choice.name;
    if (choice.name.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
        return choice.description + QStringLiteral(" (") + choice.name + QLatin1Char(')');
    const QString device = choice.device.isEmpty() ? choice.name : choice.device;
    return device + QStringLiteral(" \u2014 ") + choice.description;
}

QList<PortChoice> systemPortChoices()
{
    QList<PortChoice> choices;
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        if (!info.portName().isEmpty())
            choices.append({info.portName(), info.systemLocation(), info.description()});
    }
    // The system's other names (/dev/serial/by-id) and the order the link
    // layer keeps; the ports above keep their descriptions.
    QList<PortChoice> ordered;
    for (const QString &name : Comm2::systemPortNames()) {
        PortChoice c{name, {}, {}};
        for (const PortChoice &known : choices)
            if (known.name == name)
                c = known;
        ordered.append(c);
    }
    // Standard ports (COM1 to COM20, ttyS0 to ttyS19) are left out of that
    // list: their descriptions still count.
    for (const PortChoice &c : choices) {
        bool listed = false;
        for (const PortChoice &o : ordered)
            listed = listed || o.name == c.name;
        if (!listed)
            ordered.append(c);
    }
    return ordered;
}

PortBox::PortBox(const QStringList &fixedNames, Source source, QWidget *parent)
    : QComboBox(parent), m_fixed(fixedNames), m_source(std::move(source))
{
    setEditable(true);
    // Enter must not add the typed text to the list of choices.
    setInsertPolicy(QComboBox::NoInsert);
    setModel(new PortModel(this));
    refresh();
}

void PortBox::refresh()
{
    const QString text = currentText();
    const QList<PortChoice> system = m_source ? m_source() : QList<PortChoice>();
    auto *m = static_cast<QStandardItemModel *>(model());
    const QSignalBlocker quiet(this);
    m->clear();
    auto add = [m](const PortChoice &c) {
        auto *item = new QStandardItem(portChoiceText(c));
        item->setData(c.name, Qt::UserRole);
        item->setToolTip(c.device.isEmpty() ? c.name : c.device);
        m->appendRow(item);
    };
    QStringList listed;
    for (const QString &name : m_fixed) {
        PortChoice c{name, {}, {}};
        for (const PortChoice &s : system)
            if (s.name.compare(name, Qt::CaseInsensitive) == 0)
                c = s;
        add(c);
        listed << c.name.toUpper();
    }
    for (const PortChoice &s : system) {
        if (listed.contains(s.name.toUpper()))
            continue;
        add(s);
        listed << s.name.toUpper();
    }
    setEditText(text);
}

void PortBox::showPopup()
{
    refresh();
    QComboBox::showPopup();
}

} // namespace qvx
