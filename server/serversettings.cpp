#include "serversettings.h"

#include "passwords.h"
#include "protocol.h"

#include <QDateTime>
#include <QFileInfo>
#include <QMutex>
#include <QSettings>

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

// Every request checks the password, and opening the store costs more than a whole exchange; so
// the text is kept and read again only when the store's file has changed.
class PasswordCache
{
public:
    QString text()
    {
        QMutexLocker locker(&m_mutex);
        if (m_path.isEmpty())
            m_path = store().fileName();
        const QFileInfo info(m_path);
        const Stamp stamp{info.exists(), info.lastModified(), info.size(), info.birthTime()};
        if (!m_valid || !(stamp == m_stamp)) {
            m_text = Passwords::fieldText(store().value(PasswordKey));
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
    struct Stamp
    {
        bool exists = false;
        QDateTime modified;
        qint64 size = -1;
        QDateTime born;
        bool operator==(const Stamp &o) const
        {
            return exists == o.exists && modified == o.modified && size == o.size && born == o.born;
        }
    };
    QMutex m_mutex;
    QString m_path;
    bool m_valid = false;
    Stamp m_stamp;
    QString m_text;
};

PasswordCache &passwordCache()
{
    static PasswordCache cache;
    return cache;
}
} // namespace

QString passwordText()
{
    return passwordCache().text();
}

bool hasPassword()
{
    return !store().value(PasswordKey).toByteArray().isEmpty();
}

void setPassword(const QString &clear)
{
    QSettings settings = store();
    settings.setValue(PasswordKey, Passwords::sha1Digest(clear));
    settings.sync();
    passwordCache().invalidate();
}

int port()
{
    return store().value(PortKey, int(Protocol::DefaultPort)).toInt();
}

void setPort(int port)
{
    store().setValue(PortKey, port);
}

bool startWithProgram()
{
    return store().value(StartKey, false).toBool();
}

void setStartWithProgram(bool start)
{
    store().setValue(StartKey, start);
}

QByteArray geometry()
{
    return store().value(GeometryKey).toByteArray();
}

void setGeometry(const QByteArray &geometry)
{
    store().setValue(GeometryKey, geometry);
}

quint64 revision()
{
    return store().value(RevisionKey, 0).toULongLong();
}

void setRevision(quint64 revision)
{
    QSettings settings = store();
    settings.setValue(RevisionKey, revision);
    settings.sync();
}

} // namespace ServerSettings
