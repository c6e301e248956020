#include "transfersnapshot.h"

#include "serverdatabase.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMutex>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <unistd.h>
#endif

namespace {
constexpr qint64 CopyChunkBytes = 1 << 20;
const QString Suffix = QStringLiteral(".snapshot");

QString tr(const char *text)
{
    return QCoreApplication::translate("TransferSnapshot", text);
}

// A folder of their own, so that no copy is ever taken for the database or a backup of it.
QString folderOf(const QString &databasePath)
{
    return QFileInfo(databasePath).absolutePath() + QStringLiteral("/transfers");
}
} // namespace

struct TransferSnapshot::Copy
{
    QString path;
    // The database file as it was when copied: changes made by another program show in these.
    QString database;
    qint64 databaseSize = -1;
    QDateTime databaseModified;
    qint64 size = 0;

    ~Copy()
    {
        if (!path.isEmpty())
            QFile::remove(path);
    }
};

struct TransferSnapshot::Cache
{
    QMutex mutex; // also makes transfers that find the database changed wait for one copy
    std::shared_ptr<const Copy> current;
    quint64 made = 0; // names are never used twice, so a late delete cannot hit a newer copy
};

TransferSnapshot::Cache &TransferSnapshot::cache()
{
    static Cache instance;
    return instance;
}

bool TransferSnapshot::fail(const QString &error)
{
    m_error = error;
    m_file.close();
    m_copy.reset();
    m_size = 0;
    return false;
}

void TransferSnapshot::invalidate()
{
    Cache &c = cache();
    QMutexLocker locker(&c.mutex);
    c.current.reset();
}

void TransferSnapshot::removeLeftovers(const QString &databasePath)
{
    QDir folder(folderOf(databasePath));
    for (const QString &name : folder.entryList({QLatin1Char('*') + Suffix}, QDir::Files))
        folder.remove(name);
}

bool TransferSnapshot::copyFile(QFile &from, QFile &to, qint64 *copied, QString *error)
{
#ifdef Q_OS_LINUX
    // Copied by the kernel, without passing through this process: twice as fast, and changes
    // wait while it runs.
    for (;;) {
        const ssize_t got =
            ::copy_file_range(from.handle(), nullptr, to.handle(), nullptr, CopyChunkBytes, 0);
        if (got == 0)
            return true;
        if (got < 0) {
            if (*copied > 0 ||
                (errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP && errno != EINVAL)) {
                *error = qt_error_string(errno);
                return false;
            }
            break; // not between these files: copied below
        }
        *copied += got;
    }
#endif
    QByteArray chunk(CopyChunkBytes, Qt::Uninitialized);
    for (;;) {
        const qint64 got = from.read(chunk.data(), chunk.size());
        if (got < 0) {
            *error = from.errorString();
            return false;
        }
        if (got == 0)
            return true;
        if (to.write(chunk.constData(), got) != got) {
            *error = to.errorString();
            return false;
        }
        *copied += got;
    }
}

std::shared_ptr<const TransferSnapshot::Copy> TransferSnapshot::makeCopy(QFile &database,
                                                                         QString *error)
{
    const QString folder = folderOf(database.fileName());
    if (!QDir().mkpath(folder)) {
        *error = tr("无法创建文件夹 %1").arg(folder);
        return nullptr;
    }
    auto copy = std::make_shared<Copy>();
    copy->database = database.fileName();
    copy->databaseSize = database.size();
    copy->databaseModified = database.fileTime(QFileDevice::FileModificationTime);
    copy->path = folder + QLatin1Char('/') + QString::number(cache().made++) + Suffix;
    // From here on a failure deletes what was written with the copy.
    QFile target(copy->path);
    // The clients' data: for this program alone, whatever the database's own access.
    if (!target.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered,
                     QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        *error = target.errorString();
        return nullptr;
    }
    // A short copy, on a full disk say, would reach clients as a damaged database.
    if (!copyFile(database, target, &copy->size, error))
        return nullptr;
    target.close();
    if (target.error() != QFileDevice::NoError) {
        *error = target.errorString();
        return nullptr;
    }
    return copy;
}

bool TransferSnapshot::open(const QString &databasePath)
{
    m_file.close();
    m_copy.reset();
    m_size = 0;
    // Changes are written under the write lock: none is half in the file while this reads it.
    QReadLocker locker(&ServerDatabase::lock());
    QFile database(databasePath);
    if (!database.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return fail(database.errorString());
    if (database.size() == 0)
        return true;

    Cache &c = cache();
    QMutexLocker cached(&c.mutex);
    if (!c.current || c.current->database != databasePath ||
        c.current->databaseSize != database.size() ||
        c.current->databaseModified != database.fileTime(QFileDevice::FileModificationTime)) {
        c.current.reset(); // deleted once the transfers still sending it are done
        QString error;
        c.current = makeCopy(database, &error);
        if (!c.current)
            return fail(error);
    }
    m_file.setFileName(c.current->path);
    if (!m_file.open(QIODevice::ReadOnly))
        return fail(m_file.errorString());
    m_copy = c.current;
    m_size = m_copy->size;
    return true;
}

QByteArray TransferSnapshot::read(qint64 maxSize)
{
    const QByteArray got = m_file.read(maxSize);
    if (got.isEmpty())
        m_error = m_file.errorString();
    return got;
}
