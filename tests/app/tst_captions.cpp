// Captions exactly as the windows set them: the application has no display
// name (which Qt would append to every caption on X11), the main window and
// the about box carry their own titles, and the message boxes the real dialog
// implementation builds carry the caption the program asked for.
#include "app/app_identity.h"
#include "widgets/dialogs.h"
#include "app/tfabout.h"
#include "app/tform1.h"
#include "common/scripted_dialogs.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace qvx;

class TestCaptions : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { setApplicationIdentity(); }

    void noDisplayNameIsAppended()
    {
        // Unset, the display name follows the application name; a name that
        // was set would stay put (and be appended to every caption).
        QCOMPARE(QGuiApplication::applicationDisplayName(), QGuiApplication::applicationName());
        QCoreApplication::setApplicationName(QStringLiteral("renamed"));
        QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("renamed"));
        setApplicationIdentity();
        QCOMPARE(QGuiApplication::applicationName(), QStringLiteral("qvxtool"));
    }

    void windowTitles()
    {
        QTemporaryDir dir;
        qvxtest::ScopedDialogs scripted;
        TForm1 form(dir.path());
        TFAbout about;
        form.show();
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.windowTitle(), QStringLiteral("QVX-24S IEC 62056 Decoder"));
        QCOMPARE(form.windowHandle()->title(), QStringLiteral("QVX-24S IEC 62056 Decoder"));
        QCOMPARE(about.windowTitle(), QStringLiteral("QVX-24S -> About"));
        QCOMPARE(about.windowHandle()->title(), QStringLiteral("QVX-24S -> About"));
    }

    // The boxes the window raises, built by the real dialogs.
    void messageBoxCaptions()
    {
        QTemporaryDir dir;
        qvxtest::ScopedDialogs scripted;
        TForm1 form(dir.path());
        form.findChild<QComboBox *>(QStringLiteral("Combo_com2_name"))
            ->setCurrentText(QStringLiteral("/nonexistent/qvx-port"));
        form.findChild<QPushButton *>(QStringLiteral("Butt_open_port2"))->click();
        form.findChild<QAction *>(QStringLiteral("Exit1"))->trigger(); // answered No
        QStringList captions;
        for (const qvxtest::RaisedDialog &d : scripted.dialogs.raised)
            captions << d.caption;
        QVERIFY2(captions.contains(QStringLiteral("Connect to port")), qPrintable(captions.join('|')));
        QVERIFY2(captions.contains(QStringLiteral("Exit Confirmation")), qPrintable(captions.join('|')));
        captions << QStringLiteral("Saving settings") << QStringLiteral("Error saving file");
        for (const QString &caption : captions) {
            for (bool yesNo : {false, true}) {
                auto box = makeMessageBox(&form, DialogIcon::Warning, caption, QStringLiteral("text"), yesNo);
                box->show();
                QCOMPARE(box->windowTitle(), caption);
                QCOMPARE(box->windowHandle()->title(), caption);
                QCOMPARE(box->text(), QStringLiteral("text"));
                QCOMPARE(box->icon(), QMessageBox::Warning);
                QCOMPARE(box->standardButtons(), yesNo ? QMessageBox::Yes | QMessageBox::No
                                                       : QMessageBox::StandardButtons(QMessageBox::Ok));
                box->close();
            }
        }
    }
};

QTEST_MAIN(TestCaptions)
#include "tst_captions.moc"
