// How the operator's texts become a device and line settings: the port-name
// mapping and the translation of the four line boxes, fallbacks included.
#include "transport/comm2.h"
#include "transport/port_name.h"

#include <QTest>

using namespace qvx;

Q_DECLARE_METATYPE(QSerialPort::Parity)
Q_DECLARE_METATYPE(QSerialPort::DataBits)
Q_DECLARE_METATYPE(QSerialPort::StopBits)

class TstSerialSettings : public QObject {
    Q_OBJECT
private slots:
    void portNameBecomesDevicePath_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("path");
#ifdef Q_OS_WIN
        // QSerialPort adds the \\.\ prefix to COM names itself.
        QTest::newRow("COM1 as it is") << "COM1"
                                       << "COM1";
        QTest::newRow("COM15 as it is") << "COM15"
                                        << "COM15";
        QTest::newRow("lower-case com as Windows takes it") << "com3"
                                                            << "COM3";
        QTest::newRow("device path as typed") << "\\\\.\\COM12"
                                              << "\\\\.\\COM12";
        QTest::newRow("other name as typed") << "CNCA0"
                                             << "CNCA0";
#else
        QTest::newRow("COM1 is the first standard port") << "COM1"
                                                         << "/dev/ttyS0";
        QTest::newRow("COM15") << "COM15"
                               << "/dev/ttyS14";
        QTest::newRow("COM20, last of the list") << "COM20"
                                                 << "/dev/ttyS19";
        QTest::newRow("COM beyond the list") << "COM33"
                                             << "/dev/ttyS32";
        QTest::newRow("lower-case com as Windows takes it") << "com3"
                                                            << "/dev/ttyS2";
        QTest::newRow("COM0 is no standard port") << "COM0"
                                                  << "/dev/COM0";
        QTest::newRow("absolute path as typed") << "/dev/x"
                                                << "/dev/x";
        QTest::newRow("by-id path as typed") << "/dev/serial/by-id/usb-FTDI_FT232R-if00-port0"
                                             << "/dev/serial/by-id/usb-FTDI_FT232R-if00-port0";
        QTest::newRow("short name under /dev") << "ttyUSB0"
                                               << "/dev/ttyUSB0";
#endif
    }
    void portNameBecomesDevicePath()
    {
        QFETCH(QString, name);
        QFETCH(QString, path);
        QCOMPARE(serialDevicePath(name), path);
    }

    void nameListOffersCom1ToCom20()
    {
        const QStringList names = standardPortNames();
        QCOMPARE(names.size(), 20);
        QCOMPARE(names.first(), QStringLiteral("COM1"));
        QCOMPARE(names.last(), QStringLiteral("COM20"));
    }

    void boxTextsBecomeLineSettings_data()
    {
        QTest::addColumn<QString>("speed");
        QTest::addColumn<QString>("parity");
        QTest::addColumn<QString>("dataBits");
        QTest::addColumn<QString>("stopBits");
        QTest::addColumn<int>("baud");
        QTest::addColumn<QSerialPort::Parity>("expParity");
        QTest::addColumn<QSerialPort::DataBits>("expDataBits");
        QTest::addColumn<QSerialPort::StopBits>("expStopBits");

        for (qint32 rate : StandardBaudRates)
            QTest::addRow("rate %d", rate)
                << QString::number(rate) << "Even"
                << "8"
                << "1" << rate << QSerialPort::EvenParity << QSerialPort::Data8 << QSerialPort::OneStop;
        QTest::newRow("typed 14400 falls back to 19200")
            << "14400"
            << "Even"
            << "8"
            << "1" << 19200 << QSerialPort::EvenParity << QSerialPort::Data8 << QSerialPort::OneStop;
        QTest::newRow("text that is no number")
            << "fast"
            << "Even"
            << "8"
            << "1" << 19200 << QSerialPort::EvenParity << QSerialPort::Data8 << QSerialPort::OneStop;
        QTest::newRow("leading zero is not an item")
            << "09600"
            << "Even"
            << "8"
            << "1" << 19200 << QSerialPort::EvenParity << QSerialPort::Data8 << QSerialPort::OneStop;
        QTest::newRow("empty speed") << ""
                                     << "Even"
                                     << "8"
                                     << "1" << 19200 << QSerialPort::EvenParity << QSerialPort::Data8
                                     << QSerialPort::OneStop;
        QTest::newRow("None") << "9600"
                              << "None"
                              << "8"
                              << "1" << 9600 << QSerialPort::NoParity << QSerialPort::Data8
                              << QSerialPort::OneStop;
        QTest::newRow("lower-case none is Even")
            << "9600"
            << "none"
            << "8"
            << "1" << 9600 << QSerialPort::EvenParity << QSerialPort::Data8 << QSerialPort::OneStop;
        QTest::newRow("Odd") << "9600"
                             << "Odd"
                             << "8"
                             << "1" << 9600 << QSerialPort::OddParity << QSerialPort::Data8
                             << QSerialPort::OneStop;
        QTest::newRow("ODD is Even") << "9600"
                                     << "ODD"
                                     << "8"
                                     << "1" << 9600 << QSerialPort::EvenParity << QSerialPort::Data8
                                     << QSerialPort::OneStop;
        QTest::newRow("Mark") << "9600"
                              << "Mark"
                              << "8"
                              << "1" << 9600 << QSerialPort::MarkParity << QSerialPort::Data8
                              << QSerialPort::OneStop;
        QTest::newRow("Space, 7 data bits, 2 stop bits")
            << "1200"
            << "Space"
            << "7"
            << "2" << 1200 << QSerialPort::SpaceParity << QSerialPort::Data7 << QSerialPort::TwoStop;
        QTest::newRow("data bits other than 7 are 8")
            << "1200"
            << "Even"
            << "6"
            << "1" << 1200 << QSerialPort::EvenParity << QSerialPort::Data8 << QSerialPort::OneStop;
        QTest::newRow("stop bits other than 2 are 1")
            << "1200"
            << "Even"
            << "8"
            << "3" << 1200 << QSerialPort::EvenParity << QSerialPort::Data8 << QSerialPort::OneStop;
    }
    void boxTextsBecomeLineSettings()
    {
        QFETCH(QString, speed);
        QFETCH(QString, parity);
        QFETCH(QString, dataBits);
        QFETCH(QString, stopBits);
        const Comm2::LineSettings s = lineSettingsFromTexts(speed, parity, dataBits, stopBits);
        QTEST(int(s.baudRate), "baud");
        QTEST(s.parity, "expParity");
        QTEST(s.dataBits, "expDataBits");
        QTEST(s.stopBits, "expStopBits");
    }
};

QTEST_APPLESS_MAIN(TstSerialSettings)
#include "tst_serial_settings.moc"
