#include "monitor/values_log_load.h"

#include <QFile>
#include <QMetaObject>

namespace qvx {

ValuesLogLoad::ValuesLogLoad(QObject *parent) : QObject(parent) {}

ValuesLogLoad::~ValuesLogLoad()
{
    cancel();
    joinFinished(true);
}

void ValuesLogLoad::start(const QString &path, const QStringList &timeFormats, const QStringList &dateFormats)
{
    cancel();
    joinFinished(false);
    m_run = std::make_shared<Run>();
    m_threads.emplace_back(std::thread(&ValuesLogLoad::read, this, m_run, path, timeFormats, dateFormats),
                           m_run);
}

void ValuesLogLoad::cancel()
{
    if (m_run)
        m_run->cancelled = true;
    m_run.reset();
}

void ValuesLogLoad::joinFinished(bool all)
{
    for (auto it = m_threads.begin(); it != m_threads.end();) {
        if (all || it->second->done) {
            it->first.join();
            it = m_threads.erase(it);
        } else {
            ++it;
        }
    }
}

void ValuesLogLoad::read(std::shared_ptr<Run> run, QString path, QStringList timeFormats,
                         QStringList dateFormats)
{
    // Everything goes back to the loader's thread; there a load that is no
    // longer the current one is dropped.
    auto post = [this, run](auto f) {
        if (run->cancelled)
            return;
        QMetaObject::invokeMethod(
            this,
            [this, run, f] {
                if (run == m_run)
                    f();
            },
            Qt::QueuedConnection);
    };
    struct Done {
        Run &run;
        ~Done() { run.done = true; }
    } done{*run};

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        const QString error = file.errorString();
        post([this, path, error] {
            m_run.reset();
            emit failed(path, error);
        });
        return;
    }
    const qint64 total = file.isSequential() ? 0 : file.size();
    auto result = std::make_shared<Result>();
    result->path = path;
    ValuesLogColumns columns;
    ValuesLogParser parser([&columns](ValuesLogReading &&r) { columns.add(r); }, timeFormats, dateFormats);
    QByteArray chunk(ChunkBytes, Qt::Uninitialized);
    qint64 read = 0;
    while (!run->cancelled) {
        const qint64 n = file.read(chunk.data(), ChunkBytes);
        if (n < 0) {
            const QString error = file.errorString();
            post([this, path, error] {
                m_run.reset();
                emit failed(path, error);
            });
            return;
        }
        if (n == 0)
            break;
        parser.feed(QByteArrayView(chunk.constData(), n));
        read += n;
        post([this, read, total] { emit progress(read, total); });
    }
    if (run->cancelled)
        return;
    parser.finish();
    result->blocksRead = parser.blocksRead();
    result->blocksSkipped = parser.blocksSkipped();
    result->rows = columns.takeRows();
    post([this, result] {
        m_run.reset();
        emit loaded(result);
    });
}

} // namespace qvx
