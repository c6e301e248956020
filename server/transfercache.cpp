#include "transfercache.h"

#include "serverdatabase.h"

#include <QAtomicInteger>
#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <utility>

namespace TransferCache {

namespace {
struct Snapshot
{
    QString path;
    quint64 generation = 0;
    qint64 size = -1;
    QDateTime modified;
    QByteArray bytes;
};

QMutex g_mutex;
Snapshot g_last;
// Counts every change this program makes to a database file.
QAtomicInteger<quint64> g_generation;
} // namespace

void invalidate()
{
    g_generation.fetchAndAddRelease(1);
}

std::optional<QByteArray> read(const QString &path)
{
    QReadLocker locker(&ServerDatabase::lock());
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // Changes made by another program are noticed through the file's size and time.
    const qint64 size = file.size();
    const QDateTime modified = file.fileTime(QFileDevice::FileModificationTime);
    const quint64 changes = g_generation.loadAcquire();

    QByteArray buffer;
    {
        QMutexLocker cache(&g_mutex);
        if (g_last.path == path && g_last.generation == changes && g_last.size == size &&
            g_last.modified == modified)
            return g_last.bytes;
        buffer = std::exchange(g_last.bytes, QByteArray());
    }
    if (!buffer.isDetached()) // a transfer still sends it
        buffer = QByteArray();
    buffer.resize(size);
    const qint64 got = size > 0 ? file.read(buffer.data(), size) : 0;
    buffer.resize(qMax<qint64>(got, 0));
    QMutexLocker cache(&g_mutex);
    g_last = {path, changes, size, modified, buffer};
    return buffer;
}

} // namespace TransferCache
