// The serial port name box: the system's ports listed with their
// descriptions, the list read again when it opens, the name (never the
// description) as the box's text, typed names kept.
#include "widgets/port_box.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>
#include <QTest>

using namespace qvx;

class PortBoxTest : public QObject {
    Q_OBJECT
private slots:
    void listTextNamesPortAndDescription_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("text");
        QTest::newRow("Windows COM port") << "COM5" << "\\\\.\\COM5" << "USB-SERIAL CH340"
                                          << "USB-SERIAL CH340 (COM5)";
        QTest::newRow("Linux adapter") << "ttyUSB0" << "/dev/ttyUSB0" << "FT232R USB UART"
                                       << "/dev/ttyUSB0 \u2014 FT232R USB UART";
        QTest::newRow("no description") << "ttyACM0" << "/dev/ttyACM0" << "" << "ttyACM0";
    }
    void listTextNamesPortAndDescription()
    {
        QFETCH(QString, name);
        QFETCH(QString, device);
        QFETCH(QString, description);
        QFETCH(QString, text);
        QCOMPARE(portChoiceText({name, device, description}), text);
    }

    // The list (its display texts) is read again when it opens; choosing an
    // item puts the port's name into the box, and a typed name stays as typed.
    void chosenItemGivesNameAndListIsFresh()
    {
        QList<PortChoice> ports{{QStringLiteral("COM5"), QString(), QStringLiteral("USB-SERIAL CH340")}};
        PortBox box({QStringLiteral("COM1"), QStringLiteral("COM5")}, [&ports] { return ports; });
        box.setObjectName(QStringLiteral("Combo_com2_name"));
        box.show();
        QCOMPARE(box.count(), 2);
        QCOMPARE(box.itemData(1, Qt::DisplayRole).toString(), QStringLiteral("USB-SERIAL CH340 (COM5)"));

        ports.append({QStringLiteral("ttyUSB0"), QStringLiteral("/dev/ttyUSB0"), QStringLiteral("FT232R USB UART")});
        box.setCurrentText(QStringLiteral("COM9"));
        box.showPopup();
        QCOMPARE(box.count(), 3);
        QCOMPARE(box.itemData(2, Qt::DisplayRole).toString(), QStringLiteral("/dev/ttyUSB0 \u2014 FT232R USB UART"));
        QCOMPARE(box.currentText(), QStringLiteral("COM9"));

        box.setCurrentIndex(1);
        QCOMPARE(box.currentText(), QStringLiteral("COM5"));
        box.setCurrentIndex(2);
        QCOMPARE(box.currentText(), QStringLiteral("ttyUSB0"));
        box.hidePopup();

        box.lineEdit()->clear();
        QTest::keyClicks(box.lineEdit(), QStringLiteral("/dev/ttyQVX"));
        QCOMPARE(box.currentText(), QStringLiteral("/dev/ttyQVX"));
    }
};

QTEST_MAIN(PortBoxTest)
#include "tst_port_box.moc"
