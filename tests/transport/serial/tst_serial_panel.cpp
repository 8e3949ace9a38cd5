// The "   Serial port settings   " group on a real pseudo-terminal pair:
// its controls, opening and closing through "Connect to port" (status panel
// 1, log lines, message box, boxes locked and freed), typed texts that fall
// back to 19200 and Even, the TCP refusal, and RxBuffer across a reopen.
#include "common/pty_pair.h"
#include "common/scripted_dialogs.h"
#include "widgets/serial_panel.h"
#include "transport/session.h"

#include <QCheckBox>
#include <QFile>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace qvx;
using qvxtest::PtyPair;

class TstSerialPanel : public QObject {
    Q_OBJECT

    std::unique_ptr<PtyPair> pty;
    std::unique_ptr<qvxtest::ScopedDialogs> dialogs;
    std::unique_ptr<Session> session;
    std::unique_ptr<SerialPanel> panel;
    QStringList log;

    QComboBox *box(const char *name) { return panel->findChild<QComboBox *>(QLatin1String(name)); }
    QPushButton *button() { return panel->findChild<QPushButton *>(QStringLiteral("Butt_open_port2")); }
    void setText(const char *name, const QString &text) { box(name)->setCurrentText(text); }
    QString status() const { return session->status(1); }
    QList<bool> lineBoxesEnabled()
    {
        return {box("Combo_com2_name")->isEnabled(), box("Combo_com2_speed")->isEnabled(),
                box("Combo_com2_parity")->isEnabled(), box("Combo_com2_stop")->isEnabled()};
    }

private slots:
    void init()
    {
        pty = std::make_unique<PtyPair>();
        QVERIFY(pty->isValid());
        dialogs = std::make_unique<qvxtest::ScopedDialogs>();
        session = std::make_unique<Session>();
        panel = std::make_unique<SerialPanel>(*session);
        log.clear();
        connect(session.get(), &Session::logLine, this, [this](const QString &l) { log << l; });
    }
    void cleanup()
    {
        panel.reset();
        session.reset();
        dialogs.reset();
        pty.reset();
    }

    void groupCaption() { QCOMPARE(panel->title(), QStringLiteral("   Serial port settings   ")); }

    void boxHasLabelItemsAndDefault_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QStringList>("firstItems");
        QTest::addColumn<QString>("current");
        QStringList com;
        for (int i = 1; i <= 20; ++i)
            com << QStringLiteral("COM%1").arg(i);
        QTest::newRow("name") << "Combo_com2_name"
                              << "Name" << com << "COM1";
        QTest::newRow("speed") << "Combo_com2_speed"
                               << "Speed" << QStringList{"300",   "1200",  "2400",  "4800",  "9600",
                                                         "19200", "28800", "38400", "57600", "115200"}
                               << "19200";
        QTest::newRow("parity") << "Combo_com2_parity"
                                << "Parity" << QStringList{"None", "Even", "Odd", "Mark", "Space"} << "Even";
        QTest::newRow("data bits") << "Combo_dbits"
                                   << "Data bits" << QStringList{"7", "8"} << "8";
        QTest::newRow("stop bits") << "Combo_com2_stop"
                                   << "Stop bits" << QStringList{"1", "2"} << "1";
    }
    void boxHasLabelItemsAndDefault()
    {
        QFETCH(QString, name);
        QFETCH(QString, label);
        QFETCH(QStringList, firstItems);
        QFETCH(QString, current);
        auto *b = panel->findChild<QComboBox *>(name);
        QVERIFY(b);
        QVERIFY(b->isEditable());
        QStringList items;
        for (int i = 0; i < b->count(); ++i)
            items << b->itemText(i);
        QCOMPARE(items.mid(0, firstItems.size()), firstItems);
        if (name != QLatin1String("Combo_com2_name"))
            QCOMPARE(items.size(), firstItems.size());
        QCOMPARE(b->currentText(), current);
        QCOMPARE(b->accessibleName(), label);
        bool labelled = false;
        for (auto *l : panel->findChildren<QLabel *>())
            labelled = labelled || (l->text() == label && l->buddy() == b);
        QVERIFY2(labelled, qPrintable(label));
    }

    void bytesTimeoutIsReadOnlyAndSteps()
    {
        auto *ud = panel->findChild<QSpinBox *>(QStringLiteral("UD_timeout_port"));
        QVERIFY(ud);
        auto *edit = ud->findChild<QLineEdit *>(QStringLiteral("Edit_timeout_port"));
        QVERIFY(edit);
        QVERIFY(edit->isReadOnly());
        QCOMPARE(edit->accessibleName(), QStringLiteral("Bytes timeout"));
        QCOMPARE(ud->minimum(), 0);
        QCOMPARE(ud->maximum(), 99);
        QCOMPARE(ud->value(), 0);
        ud->stepUp();
        QCOMPARE(ud->value(), 1);
    }

    void autoOpenAndConnectCaptions()
    {
        auto *cb = panel->findChild<QCheckBox *>(QStringLiteral("CB_open_port2"));
        QVERIFY(cb);
        QCOMPARE(cb->text(), QStringLiteral("Automatically open "));
        QVERIFY(!cb->isChecked());
        QCOMPARE(button()->text(), QStringLiteral("Connect to port"));
    }

    void openingShowsLineAndLocksBoxes()
    {
        setText("Combo_com2_name", pty->slavePath());
        button()->click();
        const QString line = pty->slavePath() + QStringLiteral(" - 19200,8,Even");
        QCOMPARE(status(), line);
        QCOMPARE(log, QStringList{line});
        QVERIFY(session->comm2().isOpen());
        QCOMPARE(button()->text(), QStringLiteral("Disconnect"));
        QCOMPARE(lineBoxesEnabled(), (QList<bool>{false, false, false, false}));
        QVERIFY(box("Combo_dbits")->isEnabled());
        QVERIFY(dialogs->dialogs.raised.isEmpty());
    }

    void closingShowsPathClosedAndFreesBoxes()
    {
        setText("Combo_com2_name", pty->slavePath());
        button()->click();
        log.clear();
        button()->click();
        QCOMPARE(status(), pty->slavePath() + QStringLiteral(" is closed"));
        QCOMPARE(log, QStringList{"Serial port for modbus closed"});
        QVERIFY(!session->comm2().isOpen());
        QCOMPARE(button()->text(), QStringLiteral("Connect to port"));
        QCOMPARE(lineBoxesEnabled(), (QList<bool>{true, true, true, true}));
        // The device is free again for anyone.
        Comm2 other;
        other.setDevicePath(pty->slavePath());
        QVERIFY(other.testOpen());
    }

    void dataBitsChangedWhileOpenApplyAtNextOpening()
    {
        setText("Combo_com2_name", pty->slavePath());
        button()->click();
        setText("Combo_dbits", QStringLiteral("7"));
        QCOMPARE(session->comm2().lineSettings().dataBits, QSerialPort::Data8);
        button()->click();
        button()->click();
        QCOMPARE(session->comm2().lineSettings().dataBits, QSerialPort::Data7);
        QCOMPARE(status(), pty->slavePath() + QStringLiteral(" - 19200,7,Even"));
    }

    void portThatCannotBeOpenedGivesMessageBox_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("path");
        QTest::newRow("missing device") << "/dev/qvx-no-such-port"
                                        << "/dev/qvx-no-such-port";
        QTest::newRow("COM15 that is not there") << "COM15"
                                                 << "/dev/ttyS14";
        QTest::newRow("short name not there") << "ttyQVX9"
                                              << "/dev/ttyQVX9";
    }
    void portThatCannotBeOpenedGivesMessageBox()
    {
        QFETCH(QString, name);
        QFETCH(QString, path);
        if (QFile::exists(path))
            QSKIP("this machine has that device");
        setText("Combo_com2_name", name);
        button()->click();
        QCOMPARE(dialogs->dialogs.raised.size(), 1);
        const auto &d = dialogs->dialogs.raised.first();
        QCOMPARE(d.kind, QStringLiteral("message"));
        QCOMPARE(d.icon, DialogIcon::Warning);
        QCOMPARE(d.caption, QStringLiteral("Connect to port"));
        QCOMPARE(d.text, QStringLiteral("This serial port is already in use!"));
        QCOMPARE(status(), path + QStringLiteral(" is closed"));
        QVERIFY(log.isEmpty());
        QCOMPARE(button()->text(), QStringLiteral("Connect to port"));
        QCOMPARE(lineBoxesEnabled(), (QList<bool>{true, true, true, true}));
    }

    void portHeldElsewhereGivesMessageBox()
    {
        Comm2 holder;
        holder.setDevicePath(pty->slavePath());
        holder.open();
        setText("Combo_com2_name", pty->slavePath());
        button()->click();
        QCOMPARE(dialogs->dialogs.raised.size(), 1);
        QCOMPARE(dialogs->dialogs.raised.first().text, QStringLiteral("This serial port is already in use!"));
        QCOMPARE(status(), pty->slavePath() + QStringLiteral(" is closed"));
        QCOMPARE(button()->text(), QStringLiteral("Connect to port"));
    }

    // A device the user may not open says so, and how to fix it.  As root
    // (who ignores permission bits) the test gives up root's effective user
    // for the click; otherwise a mode of 000 refuses the device.
    void refusedDeviceSaysPermissionDenied()
    {
        const QByteArray path = QFile::encodeName(pty->slavePath());
        QCOMPARE(::chmod(path.constData(), 0), 0);
        setText("Combo_com2_name", pty->slavePath());
        const bool root = ::geteuid() == 0;
        if (root)
            QCOMPARE(::seteuid(65534), 0);
        button()->click();
        if (root)
            QCOMPARE(::seteuid(0), 0);
        ::chmod(path.constData(), 0620);
        QCOMPARE(dialogs->dialogs.raised.size(), 1);
        const auto &d = dialogs->dialogs.raised.first();
        QCOMPARE(d.icon, DialogIcon::Warning);
        QCOMPARE(d.caption, QStringLiteral("Connect to port"));
        QVERIFY2(d.text.startsWith(QStringLiteral("Permission denied")), qPrintable(d.text));
        QVERIFY(d.text.contains(QStringLiteral("'dialout' group")));
        QVERIFY(d.text.contains(QStringLiteral("log in again")));
        QCOMPARE(status(), pty->slavePath() + QStringLiteral(" is closed"));
        QCOMPARE(button()->text(), QStringLiteral("Connect to port"));
    }

    void typedSpeedOutsideListOpensAt19200()
    {
        setText("Combo_com2_name", pty->slavePath());
        setText("Combo_com2_speed", QStringLiteral("14400"));
        button()->click();
        QCOMPARE(status(), pty->slavePath() + QStringLiteral(" - 14400,8,Even"));
        QCOMPARE(session->comm2().lineSettings().baudRate, 19200);
        const termios t = pty->termiosNow();
        QCOMPARE(cfgetospeed(&t), speed_t(B19200));
    }

    void listedSpeedOpensAtThatRate()
    {
        setText("Combo_com2_name", pty->slavePath());
        setText("Combo_com2_speed", QStringLiteral("57600"));
        setText("Combo_com2_parity", QStringLiteral("Odd"));
        setText("Combo_com2_stop", QStringLiteral("2"));
        button()->click();
        QCOMPARE(status(), pty->slavePath() + QStringLiteral(" - 57600,8,Odd"));
        const termios t = pty->termiosNow();
        QCOMPARE(cfgetospeed(&t), speed_t(B57600));
        QVERIFY(t.c_cflag & PARODD);
        QVERIFY(t.c_cflag & CSTOPB);
    }

    void lowerCaseNoneOpensWithEvenParity()
    {
        setText("Combo_com2_name", pty->slavePath());
        setText("Combo_com2_parity", QStringLiteral("none"));
        button()->click();
        QCOMPARE(status(), pty->slavePath() + QStringLiteral(" - 19200,8,none"));
        QCOMPARE(session->comm2().lineSettings().parity, QSerialPort::EvenParity);
        // The pty cannot hold PARENB, but it would keep the odd and stick
        // bits of any other parity.
        const termios t = pty->termiosNow();
        QVERIFY(!(t.c_cflag & (PARODD | CMSPAR)));
    }

    void activeTcpConnectionRefusesTheSerialPort()
    {
        session->TransportMode = TransportModeKind::Tcp;
        setText("Combo_com2_name", pty->slavePath());
        session->setStatus(1, QStringLiteral("before"));
        button()->click();
        QCOMPARE(log, QStringList{"There is active TCP connection, close it first!"});
        QVERIFY(!session->comm2().isOpen());
        QCOMPARE(status(), QStringLiteral("before"));
        QVERIFY(dialogs->dialogs.raised.isEmpty());
    }

    void rxBufferSurvivesCloseAndReopen()
    {
        setText("Combo_com2_name", pty->slavePath());
        button()->click();
        QVERIFY(pty->write("abc"));
        QTRY_COMPARE(session->RxBuffer, QByteArray("abc"));
        button()->click();
        QCOMPARE(session->RxBuffer, QByteArray("abc"));
        button()->click();
        QCOMPARE(button()->text(), QStringLiteral("Disconnect"));
        QCOMPARE(session->RxBuffer, QByteArray("abc"));
        QVERIFY(pty->write("d"));
        QTRY_COMPARE(session->RxBuffer, QByteArray("abcd"));
    }

    void rtsRequestOnPtyDoesNotFail()
    {
        setText("Combo_com2_name", pty->slavePath());
        button()->click();
        session->SendWriteMultiple(1, 100, 4, QByteArray::fromHex("00010002"));
        QCOMPARE(pty->read(13), QByteArray::fromHex("01100064000204000100022475"));
        QCOMPARE(log.last(), QStringLiteral("SENT: 01 10 00 64 00 02 04 00 01 00 02 24 75 "));
    }
};

QTEST_MAIN(TstSerialPanel)
#include "tst_serial_panel.moc"
