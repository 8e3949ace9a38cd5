// Captions exactly as the windows set them: the application has no display
// name (which Qt would append to every caption on X11), the main window and
// the about box carry their own titles, and the message boxes the real dialog
// implementation builds carry the caption the program asked for.
#include "app/app_identity.h"
#include "widgets/dialogs.h"
#include "app/tfabout.h"
#include "common/window_rig.h"

#include <QAction>
#include <QApplication>
#include <QMessageBox>

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
        qvxtest::WindowRig w({.shown = true});
        TFAbout about;
        about.show();
        QCOMPARE(w.form->windowTitle(), QStringLiteral("QVX-24S IEC 62056 Decoder"));
        QCOMPARE(w.form->windowHandle()->title(), QStringLiteral("QVX-24S IEC 62056 Decoder"));
        QCOMPARE(about.windowTitle(), QStringLiteral("QVX-24S -> About"));
        QCOMPARE(about.windowHandle()->title(), QStringLiteral("QVX-24S -> About"));
    }

    // The boxes the window raises, built by the real dialogs.
    void messageBoxCaptions()
    {
        qvxtest::WindowRig w;
        QVERIFY(!w.openPort(QStringLiteral("/nonexistent/qvx-port")));
        w.child<QAction>("Exit1")->trigger(); // answered No
        QStringList captions;
        for (const qvxtest::RaisedDialog &d : w.dialogs.dialogs.raised)
            captions << d.caption;
        QVERIFY2(captions.contains(QStringLiteral("Connect to port")), qPrintable(captions.join('|')));
        QVERIFY2(captions.contains(QStringLiteral("Exit Confirmation")), qPrintable(captions.join('|')));
        captions << QStringLiteral("Saving settings") << QStringLiteral("Error saving file");
        for (const QString &caption : captions) {
            for (bool yesNo : {false, true}) {
                auto box =
                    makeMessageBox(w.form.get(), DialogIcon::Warning, caption, QStringLiteral("text"), yesNo);
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
