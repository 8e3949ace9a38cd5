// Reads a values log on a thread of its own, piece by piece into columns, so
// the window stays responsive and a long log never sits in memory as text.
// Progress and the result come back through the event loop of the thread
// that owns the loader; a cancelled or superseded load delivers nothing.
#pragma once

#include "monitor/trend_data.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace qvx {

class ValuesLogLoad : public QObject {
    Q_OBJECT
public:
    // The piece read at a time, and so the steps of the progress.
    static constexpr qint64 ChunkBytes = 1 << 20;

    struct Result {
        QString path;
        QList<ValuesLogColumns::RowPoints> rows;
        int blocksRead = 0;
        int blocksSkipped = 0;
    };

    explicit ValuesLogLoad(QObject *parent = nullptr);
    // Cancels what runs and waits for its thread (a piece at most).
    ~ValuesLogLoad() override;

    // Starts reading path; a load still running is cancelled first.
    void start(const QString &path, const QStringList &timeFormats, const QStringList &dateFormats);
    // Ends the running load: nothing more is delivered for it.
    void cancel();
    bool busy() const { return m_run != nullptr; }

signals:
    // bytes read so far of total (0 when the size is not known, as for a pipe).
    void progress(qint64 done, qint64 total);
    void loaded(const std::shared_ptr<qvx::ValuesLogLoad::Result> &result);
    void failed(const QString &path, const QString &error);

private:
    struct Run {
        std::atomic<bool> cancelled{false};
        std::atomic<bool> done{false};
    };
    void read(std::shared_ptr<Run> run, QString path, QStringList timeFormats, QStringList dateFormats);
    void joinFinished(bool all);

    std::shared_ptr<Run> m_run;
    std::vector<std::pair<std::thread, std::shared_ptr<Run>>> m_threads;
};

} // namespace qvx
