// The serial port name box: an editable combo box whose list shows the ports
// the system reports with their description ("USB-SERIAL CH340 (COM5)",
// "/dev/ttyUSB0 — FT232R USB UART"), read again each time the list opens,
// while its text, the one stored and opened, stays the port's name ("COM5").
// A name typed by hand is taken as it is.
#pragma once

#include <QComboBox>
#include <QList>
#include <functional>

namespace qvx {

struct PortChoice {
    QString name;        // what is stored and opened, e.g. "COM5", "ttyUSB0"
    QString device;      // the system's device path, e.g. "/dev/ttyUSB0" (may be empty)
    QString description; // the system's description, may be empty
};

// The list's text for a port: "description (COM5)" for a COM name, "device —
// description" for any other, the name alone without a description.
QString portChoiceText(const PortChoice &choice);

// The ports the system reports now (QSerialPortInfo, and the stable
// /dev/serial/by-id names where the system has them).
QList<PortChoice> systemPortChoices();

class PortBox : public QComboBox {
    Q_OBJECT
public:
    using Source = std::function<QList<PortChoice>()>;
    // fixedNames are always offered first (COM1 to COM20); the source is
    // asked for the system's ports each time the list opens.
    explicit PortBox(const QStringList &fixedNames, Source source = systemPortChoices, QWidget *parent = nullptr);

    // Reads the system's ports again; the text in the box stays as it is.
    void refresh();
    void showPopup() override;

private:
    QStringList m_fixed;
    Source m_source;
};

} // namespace qvx
