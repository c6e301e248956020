#include "serversettings.h"

#include "logging.h"
#include "passwords.h"
#include "protocol.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSettings>

#ifdef Q_OS_LINUX
#include <sys/stat.h>
#endif

namespace ServerSettings {

const char Organisation[] = "brisvane";
const char Application[] = "Pelicard-server";

namespace {
const QString PasswordKey = QStringLiteral("server/password");
const QString PortKey = QStringLiteral("server/port");
const QString StartKey = QStringLiteral("server/start");
const QString RevisionKey = QStringLiteral("server/serverRevision");
const QString GeometryKey = QStringLiteral("mainWindow/geometry");

QSettings store()
{
    return QSettings(QString::fromLatin1(Organisation), QString::fromLatin1(Application));
}

// A value that cannot be written must not stay pending either: the store would hand it to every
// later reader in this process as if it were in the file, and write it out with the next change
// that succeeds.
QString readErrorOf(const QSettings &settings);

bool write(const QString &key, const QVariant &value)
{
    QSettings settings = store();
    // A store that cannot be read would be written back with only this value in it.
    if (!readErrorOf(settings).isEmpty()) {
        qCWarning(lcDb) << "cannot write" << key << "to" << settings.fileName() << "unread";
        return false;
    }
    if (!settings.isWritable()) {
        qCWarning(lcDb) << "cannot write" << key << "to" << settings.fileName();
        return false;
    }
    const QVariant old = settings.value(key);
    settings.setValue(key, value);
    settings.sync();
    if (settings.status() == QSettings::NoError)
        return true;
    qCWarning(lcDb) << "cannot write" << key << "to" << settings.fileName();
    if (old.isValid())
        settings.setValue(key, old);
    else
        settings.remove(key);
    return false;
}

// What tells that a file has changed, taken with one call: every request asks.
struct FileStamp
{
    bool exists = false;
    qint64 identity = -1;
    qint64 size = -1;
    qint64 modified = 0;
    qint64 changed = 0;
    bool operator==(const FileStamp &o) const
    {
        return exists == o.exists && identity == o.identity && size == o.size &&
               modified == o.modified && changed == o.changed;
    }
};

FileStamp stampOf(const QByteArray &path)
{
#ifdef Q_OS_LINUX
    // QFileInfo's times are local, and converting them reads the time zone file each time.
    struct stat status;
    if (::stat(path.constData(), &status) != 0)
        return {};
    auto ns = [](const timespec &t) { return qint64(t.tv_sec) * 1000000000 + t.tv_nsec; };
    return {true, qint64(status.st_ino), qint64(status.st_size), ns(status.st_mtim),
            ns(status.st_ctim)};
#else
    const QFileInfo info(QFile::decodeName(path));
    if (!info.exists())
        return {};
    return {true, 0, info.size(), info.lastModified().toMSecsSinceEpoch(),
            info.birthTime().toMSecsSinceEpoch()};
#endif
}

bool isWeakDigest(const QByteArray &digest)
{
    return !digest.isEmpty() && digest.left(MinimumTextBytes).contains('\0');
}

// Every request checks the password, and opening the store costs more than a whole exchange; so
// the text is kept and read again only when the store's file has changed.
class PasswordCache
{
public:
    std::optional<QString> text()
    {
        QMutexLocker locker(&m_mutex);
        if (m_path.isEmpty())
            m_path = QFile::encodeName(store().fileName());
        const FileStamp stamp = stampOf(m_path);
        if (!m_valid || !(stamp == m_stamp)) {
            const QVariant digest = store().value(PasswordKey);
            if (!readError().isEmpty() || isWeakDigest(digest.toByteArray()))
                m_text.reset();
            else
                m_text = Passwords::fieldText(digest);
            m_stamp = stamp;
            m_valid = true;
        }
        return m_text;
    }
    void invalidate()
    {
        QMutexLocker locker(&m_mutex);
        m_valid = false;
    }

private:
    QMutex m_mutex;
    QByteArray m_path;
    bool m_valid = false;
    FileStamp m_stamp;
    std::optional<QString> m_text;
};

QString readErrorOf(const QSettings &settings)
{
    // Not the store's status: it also reports a failed write, and a store that cannot be
    // written can still be read.
    const QFileInfo file(settings.fileName());
    const QString path = QDir::toNativeSeparators(file.filePath());
    if (file.exists() && (!file.isFile() || !file.isReadable()))
        return QCoreApplication::translate("ServerSettings",
                                           "无法读取设置文件 %1: 没有权限或不是文件")
            .arg(path);
    if (settings.status() == QSettings::FormatError)
        return QCoreApplication::translate("ServerSettings", "无法读取设置文件 %1: 格式错误")
            .arg(path);
    return QString();
}

PasswordCache &passwordCache()
{
    static PasswordCache cache;
    return cache;
}
} // namespace

void removeStaleLock()
{
    const QString lock = store().fileName() + QStringLiteral(".lock");
    if (QFile::exists(lock) && !QFile::remove(lock))
        qCWarning(lcDb) << "cannot remove" << lock;
}

QString errorTitle()
{
    return QCoreApplication::translate("ServerSettings", "设置出错");
}

QString errorText()
{
    return QCoreApplication::translate("ServerSettings", "无法写入设置文件 %1!")
        .arg(QDir::toNativeSeparators(store().fileName()));
}

std::optional<QString> passwordText()
{
    return passwordCache().text();
}

QString readError()
{
    return readErrorOf(store());
}

bool storedPasswordIsWeak()
{
    return isWeakDigest(store().value(PasswordKey).toByteArray());
}

bool hasPassword()
{
    return !store().value(PasswordKey).toByteArray().isEmpty();
}

bool isUsablePassword(const QString &clear)
{
    return !Passwords::sha1Digest(clear).left(MinimumTextBytes).contains('\0');
}

bool setPassword(const QString &clear)
{
    const bool written = write(PasswordKey, Passwords::sha1Digest(clear));
    passwordCache().invalidate();
    return written;
}

int port()
{
    return store().value(PortKey, int(Protocol::DefaultPort)).toInt();
}

bool setPort(int port)
{
    return write(PortKey, port);
}

bool startWithProgram()
{
    return store().value(StartKey, false).toBool();
}

bool setStartWithProgram(bool start)
{
    return write(StartKey, start);
}

QByteArray geometry()
{
    return store().value(GeometryKey).toByteArray();
}

bool setGeometry(const QByteArray &geometry)
{
    return write(GeometryKey, geometry);
}

quint64 revision()
{
    return store().value(RevisionKey, 0).toULongLong();
}

bool setRevision(quint64 revision)
{
    return write(RevisionKey, revision);
}

} // namespace ServerSettings
