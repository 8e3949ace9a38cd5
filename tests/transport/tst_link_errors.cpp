// The plain words of a failed link: the table of kinds and places, the
// system's error numbers and QSerialPort's classes that select them, and the
// serial status panel's text for the line in use.
#include "core/link_errors.h"
#include "transport/comm2.h"
#include "transport/xport_socket.h"

#include <QTest>
#include <cerrno>

using namespace qvx;

Q_DECLARE_METATYPE(qvx::LinkErrorKind)

class TstLinkErrors : public QObject {
    Q_OBJECT
private slots:
    void plainWordsThenTheSystemsText_data()
    {
        QTest::addColumn<LinkErrorKind>("kind");
        QTest::addColumn<QString>("system");
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("message");
        using K = LinkErrorKind;
        QTest::newRow("refused") << K::ConnectionRefused << "socket error #111"
                                 << "10.0.0.5:502"
                                 << "connection refused by 10.0.0.5:502 (socket error #111)";
        QTest::newRow("host not found") << K::HostNotFound << "socket error #11001"
                                        << "10.0.0.5:502"
                                        << "host not found: 10.0.0.5:502 (socket error #11001)";
        QTest::newRow("timed out") << K::TimedOut << "socket error #110"
                                   << "10.0.0.5:502"
                                   << "10.0.0.5:502 did not answer in time (socket error #110)";
        QTest::newRow("remote closed") << K::RemoteClosed << ""
                                       << "10.0.0.5:502"
                                       << "10.0.0.5:502 closed the connection";
        QTest::newRow("unreachable") << K::NetworkUnreachable << "socket error #101"
                                     << "10.0.0.5:502"
                                     << "no route to 10.0.0.5:502; check the cable and the address "
                                        "(socket error #101)";
        QTest::newRow("refused, no place") << K::ConnectionRefused << "socket error #111"
                                           << ""
                                           << "connection refused by the server (socket error #111)";
        QTest::newRow("lost") << K::PortLost << "Inappropriate ioctl for device"
                              << ""
                              << "the adapter was unplugged or stopped answering (Inappropriate ioctl for "
                                 "device)";
        QTest::newRow("not found") << K::PortNotFound << "No such file or directory"
                                   << "/dev/ttyUSB3"
                                   << "/dev/ttyUSB3: no such port; check that the adapter is plugged in and "
                                      "the port name is right (No such file or directory)";
        QTest::newRow("busy") << K::PortBusy << "Device or resource busy"
                              << "/dev/ttyUSB0"
                              << "/dev/ttyUSB0: in use by another program; close it there and try again "
                                 "(Device or resource busy)";
#ifdef Q_OS_LINUX
        QTest::newRow("permission") << K::PortPermissionDenied << "Permission denied"
                                    << "/dev/ttyUSB0"
                                    << "/dev/ttyUSB0: permission denied; add this user to the dialout group "
                                       "(sudo usermod -a -G dialout $USER) and log in again (Permission "
                                       "denied)";
#endif
        QTest::newRow("not serial") << K::PortNotSerial << "Inappropriate ioctl for device"
                                    << "/dev/null"
                                    << "/dev/null: not a serial port; choose the adapter's port "
                                       "(Inappropriate ioctl for device)";
        QTest::newRow("unknown") << K::Unknown << "Something odd"
                                 << "/dev/ttyS0"
                                 << "/dev/ttyS0: Something odd";
        QTest::newRow("unknown, no place") << K::Unknown << "Something odd"
                                           << ""
                                           << "Something odd";
    }
    void plainWordsThenTheSystemsText()
    {
        QFETCH(LinkErrorKind, kind);
        QFETCH(QString, system);
        QFETCH(QString, where);
        QFETCH(QString, message);
        QCOMPARE(plainLinkError(kind, system, where), message);
    }

    void kindsFromTheSystem_data()
    {
        QTest::addColumn<int>("serialError");
        QTest::addColumn<int>("systemError");
        QTest::addColumn<LinkErrorKind>("kind");
        using K = LinkErrorKind;
        QTest::newRow("ENOENT") << int(QSerialPort::OpenError) << ENOENT << K::PortNotFound;
        QTest::newRow("EACCES") << int(QSerialPort::PermissionError) << EACCES << K::PortPermissionDenied;
        QTest::newRow("EBUSY") << int(QSerialPort::OpenError) << EBUSY << K::PortBusy;
        QTest::newRow("lock held") << int(QSerialPort::PermissionError) << 0 << K::PortBusy;
        QTest::newRow("not found") << int(QSerialPort::DeviceNotFoundError) << 0 << K::PortNotFound;
        QTest::newRow("resource") << int(QSerialPort::ResourceError) << 0 << K::PortLost;
        QTest::newRow("EIO") << int(QSerialPort::ReadError) << EIO << K::PortLost;
        QTest::newRow("ENOTTY") << int(QSerialPort::UnsupportedOperationError) << ENOTTY << K::PortNotSerial;
        QTest::newRow("other") << int(QSerialPort::UnknownError) << 0 << K::Unknown;
    }
    void kindsFromTheSystem()
    {
        QFETCH(int, serialError);
        QFETCH(int, systemError);
        QFETCH(LinkErrorKind, kind);
        QCOMPARE(serialErrorKind(QSerialPort::SerialPortError(serialError), systemError), kind);
    }

    void socketKinds()
    {
        using K = LinkErrorKind;
        using S = QAbstractSocket;
        QCOMPARE(socketErrorKind(platformSocketErrorNumber(S::ConnectionRefusedError)), K::ConnectionRefused);
        QCOMPARE(socketErrorKind(platformSocketErrorNumber(S::SocketTimeoutError)), K::TimedOut);
        QCOMPARE(socketErrorKind(platformSocketErrorNumber(S::RemoteHostClosedError)), K::RemoteClosed);
        QCOMPARE(socketErrorKind(platformSocketErrorNumber(S::NetworkError)), K::NetworkUnreachable);
        QCOMPARE(
            socketErrorKind(platformSocketErrorNumber(S::NetworkError, QStringLiteral("Host unreachable"))),
            K::NetworkUnreachable);
        QCOMPARE(socketErrorKind(platformSocketErrorNumber(S::AddressInUseError)), K::Unknown);
    }

    // The boxes' texts while they describe the line in use, the line as it
    // runs where they do not.
    void serialPanelFollowsTheLineInUse_data()
    {
        QTest::addColumn<QStringList>("boxes"); // name, speed, data bits, parity
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("dataBits");
        QTest::addColumn<int>("parity");
        QTest::addColumn<QString>("text");
        const QStringList usb{"/dev/ttyUSB0", "38400", "8", "Even"};
        QTest::newRow("as the boxes say")
            << usb << 38400 << 8 << int(QSerialPort::EvenParity) << "/dev/ttyUSB0 - 38400,8,Even";
        QTest::newRow("moved by a tool")
            << usb << 19200 << 8 << int(QSerialPort::NoParity) << "/dev/ttyUSB0 - 19200,8,None";
        QTest::newRow("typed 14400 runs at 19200")
            << QStringList{"/dev/ttyUSB0", "14400", "8", "Even"} << 19200 << 8 << int(QSerialPort::EvenParity)
            << "/dev/ttyUSB0 - 14400,8,Even";
        QTest::newRow("data bits changed while open")
            << QStringList{"/dev/ttyUSB0", "9600", "7", "Even"} << 9600 << 8 << int(QSerialPort::EvenParity)
            << "/dev/ttyUSB0 - 9600,8,Even";
        QTest::newRow("another device") << QStringList{"/dev/ttyUSB1", "9600", "8", "Odd"} << 9600 << 8
                                        << int(QSerialPort::OddParity) << "/dev/ttyUSB0 - 9600,8,Odd";
    }
    void serialPanelFollowsTheLineInUse()
    {
        QFETCH(QStringList, boxes);
        QFETCH(int, baud);
        QFETCH(int, dataBits);
        QFETCH(int, parity);
        QFETCH(QString, text);
        Comm2::LineSettings line;
        line.baudRate = baud;
        line.dataBits = QSerialPort::DataBits(dataBits);
        line.parity = QSerialPort::Parity(parity);
        QCOMPARE(
            serialStatusText(boxes[0], boxes[1], boxes[2], boxes[3], QStringLiteral("/dev/ttyUSB0"), line),
            text);
    }
};

QTEST_GUILESS_MAIN(TstLinkErrors)
#include "tst_link_errors.moc"
