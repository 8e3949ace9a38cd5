#include "meters/values_log.h"

#include <QFile>

namespace qvx {

bool appendValuesLog(const QString &path, const QByteArray &block, QString *error)
{
    QFile file(path);
    // Whatever way out, the caller learns the system's words for it.
    struct ErrorOut {
        QFile &file;
        QString *error;
        ~ErrorOut()
        {
            if (error)
                *error = file.error() == QFileDevice::NoError ? QString() : file.errorString();
        }
    } errorOut{file, error};
    // ExistingOnly: the folder and the file are the installation's to make;
    // Unbuffered: the block leaves in one write call, not in buffer pieces.
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::ExistingOnly |
                   QIODevice::Unbuffered))
        return false;
    const qint64 size = file.size();
    QByteArray bytes;
    if (size > 0) {
        if (!file.seek(size - 1))
            return false;
        const QByteArray last = file.read(1);
        if (last.size() != 1)
            return false;
        // A last line without its line end is written back with one.
        if (last == "\r")
            bytes = "\n";
        else if (last != "\n")
            bytes = "\r\n";
    }
    bytes += block;
    const qint64 written = file.write(bytes);
    if (written == bytes.size())
        return true;
    // A disk that filled up mid-way leaves no half block behind.
    if (written > 0 || file.size() != size)
        file.resize(size);
    return false;
}

} // namespace qvx
