// Reply windows measured against a monotonic clock: a window may end late
// when the thread is busy, never early, and a periodic timer's n-th tick
// never comes before n periods have passed.
#include "transport/reply_timer.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

using qvx::ReplyTimer;

class TestReplyTimer : public QObject {
    Q_OBJECT
private slots:
    void windowNeverEndsEarly_data()
    {
        QTest::addColumn<int>("ms");
        QTest::newRow("50 ms") << 50;
        QTest::newRow("230 ms") << 230;
        QTest::newRow("1000 ms") << 1000;
    }
    void windowNeverEndsEarly()
    {
        QFETCH(int, ms);
        ReplyTimer timer(ms);
        QElapsedTimer clock;
        qint64 elapsed = -1;
        connect(&timer, &ReplyTimer::timeout, this, [&] { elapsed = clock.elapsed(); });
        QSignalSpy fired(&timer, &ReplyTimer::timeout);
        const int runs = ms >= 1000 ? 2 : 8;
        for (int i = 0; i < runs; ++i) {
            clock.start();
            timer.enable();
            QVERIFY(fired.wait(ms + 10000));
            QVERIFY2(elapsed >= ms,
                     qPrintable(QStringLiteral("%1 ms window ended after %2 ms").arg(ms).arg(elapsed)));
            QVERIFY(!timer.isEnabled());
        }
    }

    void periodicTicksNeverComeEarly()
    {
        const int period = 120;
        ReplyTimer timer(period, nullptr, true);
        QElapsedTimer clock;
        QList<qint64> ticks;
        connect(&timer, &ReplyTimer::timeout, this, [&] { ticks << clock.elapsed(); });
        clock.start();
        timer.enable();
        QTRY_VERIFY_WITH_TIMEOUT(ticks.size() >= 6, 20000);
        timer.disable();
        for (int n = 1; n <= 6; ++n) {
            const qint64 elapsed = ticks.at(n - 1);
            QVERIFY2(elapsed >= qint64(n) * period,
                     qPrintable(QStringLiteral("tick %1 after %2 ms").arg(n).arg(elapsed)));
        }
    }
};

QTEST_MAIN(TestReplyTimer)
#include "tst_reply_timer.moc"
