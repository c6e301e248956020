#include "serverdatabase.h"

#include "changequeue.h"
#include "contactstore.h"
#include "databasefile.h"
#include "logging.h"
#include "protocol.h"
#include "revision.h"
#include "serversettings.h"
#include "transfersnapshot.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {
QString tr(const char *text)
{
    return QCoreApplication::translate("ServerDatabase", text);
}
} // namespace

QString ServerDatabase::dataDirectory()
{
    return QDir::homePath() + QStringLiteral("/.pelicard/server");
}

QString ServerDatabase::defaultPath()
{
    return dataDirectory() + QStringLiteral("/server.sqlite");
}

QReadWriteLock &ServerDatabase::lock()
{
    static QReadWriteLock instance;
    return instance;
}

bool ServerDatabase::fail(const QString &title, const QString &error)
{
    m_errorTitle = title;
    m_error = error;
    return false;
}

bool ServerDatabase::databaseFailed(const QString &error)
{
    return fail(tr("数据库出错"), error);
}

bool ServerDatabase::settingsFailed()
{
    return fail(ServerSettings::errorTitle(), ServerSettings::errorText());
}

bool ServerDatabase::initialise()
{
    QWriteLocker locker(&lock());
    const QString directory = QFileInfo(m_path).absolutePath();
    if (!QFileInfo::exists(directory)) {
        QDir().mkpath(directory);
        // A revision left from a data folder that is gone would tell clients that an empty
        // database is the one they hold.
        if (!Revision::reset())
            return settingsFailed();
    }
    TransferSnapshot::invalidate();
    TransferSnapshot::removeLeftovers(m_path);
    QString error;
    if (!ContactStore::createDatabase(m_path, &error)) {
        qCWarning(lcDb) << "cannot open" << m_path << error;
        return databaseFailed(error);
    }
    return true;
}

bool ServerDatabase::apply(const ChangeQueue::Statement &statement)
{
    const ChangeQueue::Result result = ChangeQueue::apply(m_path, statement);
    if (result.stored)
        return true;
    return result.settingsFailed ? settingsFailed() : databaseFailed(result.error);
}

bool ServerDatabase::addContact(const QByteArray &contactPayload)
{
    const Contact contact = Protocol::decodeContact(contactPayload);
    return apply([&](ContactStore &store) { return store.insert(contact); });
}

bool ServerDatabase::editContact(const QByteArray &contactPayloadWithId)
{
    const Contact contact = Protocol::decodeContactWithId(contactPayloadWithId);
    return apply([&](ContactStore &store) { return store.update(quint64(contact.id), contact); });
}

bool ServerDatabase::deleteContact(const QByteArray &deletePayload)
{
    const auto [name, firstName] = Protocol::decodeDelete(deletePayload);
    return apply([&](ContactStore &store) { return store.remove(name, firstName); });
}

bool ServerDatabase::openTransfer(TransferSnapshot *snapshot)
{
    if (!snapshot->open(m_path)) {
        qCWarning(lcNet) << "cannot take the database for a transfer:" << snapshot->errorString();
        return fail(tr("文件错误"), tr("无法读取数据库来发送!"));
    }
    qCDebug(lcNet) << "database size:" << snapshot->size();
    if (snapshot->size() == 0)
        return fail(tr("文件错误"), tr("无法发送数据库!"));
    return true;
}

bool ServerDatabase::remove()
{
    QWriteLocker locker(&lock());
    TransferSnapshot::invalidate();
    DatabaseFile file(m_path);
    return file.remove() || fail(tr("文件出错"), file.errorString());
}

bool ServerDatabase::replaceWith(const QString &source)
{
    QWriteLocker locker(&lock());
    TransferSnapshot::invalidate();
    DatabaseFile file(m_path);
    return file.replaceWith(source) || fail(tr("文件出错"), file.errorString());
}

bool ServerDatabase::exportTo(const QString &target)
{
    QReadLocker locker(&lock());
    DatabaseFile file(m_path);
    return file.copyTo(target) || fail(tr("导出数据库出错"), file.errorString());
}
