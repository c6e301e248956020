#include "serverdatabase.h"

#include "contactstore.h"
#include "logging.h"
#include "protocol.h"
#include "revision.h"
#include "serversettings.h"
#include "sqliteconnection.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSaveFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlRecord>
#include <QWaitCondition>
#include <utility>

struct ServerDatabase::Pending
{
    QString path;
    Statement statement;
    Outcome outcome;
    bool done = false;
};

// Changes waiting to be written. The first thread to find nobody writing writes everything
// that is waiting, its own change included; the others sleep until their change is done.
struct ServerDatabase::WriteQueue
{
    QMutex mutex;
    QWaitCondition written;
    QList<Pending *> waiting;
    bool writing = false;
};

ServerDatabase::WriteQueue &ServerDatabase::writeQueue()
{
    static WriteQueue queue;
    return queue;
}

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

bool ServerDatabase::initialise(QString *error, bool *storeFailed)
{
    QWriteLocker locker(&lock());
    const QString directory = QFileInfo(m_path).absolutePath();
    if (!QFileInfo::exists(directory)) {
        QDir().mkpath(directory);
        // A revision left from a data folder that is gone would tell clients that an empty
        // database is the one they hold.
        if (!Revision::reset()) {
            if (error)
                *error = ServerSettings::errorText();
            if (storeFailed)
                *storeFailed = true;
            return false;
        }
    }
    QString openError;
    changed();
    if (!ContactStore::createDatabase(m_path, &openError)) {
        qCWarning(lcDb) << "cannot open" << m_path << openError;
        if (error)
            *error = openError;
        return false;
    }
    return true;
}

ServerDatabase::Outcome ServerDatabase::apply(Statement statement)
{
    Pending mine{m_path, std::move(statement), {}, false};
    WriteQueue &queue = writeQueue();
    QMutexLocker locker(&queue.mutex);
    queue.waiting.append(&mine);
    while (!mine.done) {
        if (queue.writing) {
            queue.written.wait(&queue.mutex);
            continue;
        }
        queue.writing = true;
        const QList<Pending *> batch = std::exchange(queue.waiting, {});
        locker.unlock();
        write(batch);
        locker.relock();
        for (Pending *pending : std::as_const(batch))
            pending->done = true;
        queue.writing = false;
        queue.written.wakeAll();
    }
    return mine.outcome;
}

void ServerDatabase::write(const QList<Pending *> &batch)
{
    QWriteLocker locker(&lock());
    QList<Pending *> left = batch;
    while (!left.isEmpty()) {
        const QString path = left.first()->path;
        QList<Pending *> same;
        for (auto it = left.begin(); it != left.end();) {
            if ((*it)->path == path) {
                same.append(*it);
                it = left.erase(it);
            } else {
                ++it;
            }
        }
        SqliteConnection connection(path, QStringLiteral("server"));
        if (!connection.open()) {
            const QString error = connection.lastError();
            qCWarning(lcDb) << "cannot open" << path << error;
            for (Pending *pending : std::as_const(same))
                pending->outcome.error = error;
            continue;
        }
        // One change that fails would take the others of its transaction with it: then each
        // is tried on its own.
        if (!commitTogether(connection.db(), same)) {
            for (Pending *pending : std::as_const(same))
                commitTogether(connection.db(), {pending});
        }
    }
    changed();
}

bool ServerDatabase::commitTogether(QSqlDatabase &db, const QList<Pending *> &group)
{
    const auto fail = [&](const QString &error, bool store = false) {
        qCWarning(lcDb) << "changes not stored:" << error;
        for (Pending *pending : group) {
            pending->outcome.error = error;
            pending->outcome.storeFailed = store;
        }
    };
    if (!db.transaction()) {
        fail(db.lastError().text());
        return true;
    }
    ContactStore store(db);
    for (Pending *pending : group) {
        if (!pending->statement(store)) {
            const QString error = store.lastError();
            db.rollback();
            if (group.size() > 1)
                return false;
            fail(error);
            return true;
        }
    }
    // The revision is written before the commit and put back if the commit fails.
    QString commitError;
    quint64 revision = 0;
    const auto commit = [&] {
        if (db.commit())
            return true;
        commitError = db.lastError().text();
        return false;
    };
    switch (Revision::add(quint64(group.size()), commit, &revision)) {
    case Revision::Failure::Store:
        db.rollback();
        fail(ServerSettings::errorText(), true);
        return true;
    case Revision::Failure::Apply:
        db.rollback();
        fail(commitError);
        return true;
    case Revision::Failure::None:
        break;
    }
    revision -= quint64(group.size());
    for (Pending *pending : group) {
        pending->outcome.stored = true;
        pending->outcome.revision = ++revision;
    }
    return true;
}

ServerDatabase::Outcome ServerDatabase::addContact(const QByteArray &contactPayload)
{
    const Contact contact = Protocol::decodeContact(contactPayload);
    return apply([&](ContactStore &store) { return store.insert(contact); });
}

ServerDatabase::Outcome ServerDatabase::editContact(const QByteArray &contactPayloadWithId)
{
    const Contact contact = Protocol::decodeContactWithId(contactPayloadWithId);
    return apply([&](ContactStore &store) { return store.update(quint64(contact.id), contact); });
}

ServerDatabase::Outcome ServerDatabase::deleteContact(const QByteArray &deletePayload)
{
    const auto [name, firstName] = Protocol::decodeDelete(deletePayload);
    return apply([&](ContactStore &store) { return store.remove(name, firstName); });
}

// The file as last read for a transfer. Clients tend to download one after another, and in
// fresh memory every page of a large file costs a fault on its first touch, which took longer
// than sending it; so the bytes are kept while the file stays the same, and their memory is
// read into again once it has changed.
struct ServerDatabase::Snapshot
{
    QString path;
    quint64 generation = 0;
    qint64 size = -1;
    QDateTime modified;
    QByteArray bytes;
};

ServerDatabase::Snapshot &ServerDatabase::snapshot()
{
    static Snapshot last;
    return last;
}

QMutex &ServerDatabase::snapshotMutex()
{
    static QMutex mutex;
    return mutex;
}

QAtomicInteger<quint64> &ServerDatabase::generation()
{
    static QAtomicInteger<quint64> changes;
    return changes;
}

void ServerDatabase::changed()
{
    generation().fetchAndAddRelease(1);
}

ServerDatabase::ReadResult ServerDatabase::readWhole(QByteArray *bytes) const
{
    QReadLocker locker(&lock());
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return ReadResult::CannotOpen;
    // Changes made by another program are noticed through the file's size and time.
    const qint64 size = file.size();
    const QDateTime modified = file.fileTime(QFileDevice::FileModificationTime);
    const quint64 changes = generation().loadAcquire();

    QByteArray buffer;
    {
        QMutexLocker cache(&snapshotMutex());
        Snapshot &last = snapshot();
        if (last.path == m_path && last.generation == changes && last.size == size &&
            last.modified == modified) {
            *bytes = last.bytes;
            qCDebug(lcNet) << "database size:" << bytes->size();
            return bytes->isEmpty() ? ReadResult::Empty : ReadResult::Ok;
        }
        buffer = std::exchange(last.bytes, QByteArray());
    }
    if (!buffer.isDetached()) // a transfer still sends it
        buffer = QByteArray();
    buffer.resize(size);
    const qint64 got = size > 0 ? file.read(buffer.data(), size) : 0;
    buffer.resize(qMax<qint64>(got, 0));
    {
        QMutexLocker cache(&snapshotMutex());
        snapshot() = {m_path, changes, size, modified, buffer};
    }
    *bytes = buffer;
    qCDebug(lcNet) << "database size:" << bytes->size();
    return bytes->isEmpty() ? ReadResult::Empty : ReadResult::Ok;
}

bool ServerDatabase::isContactsDatabase(const QString &path)
{
    if (!QFileInfo(path).isFile())
        return false;
    SqliteConnection ours(QStringLiteral(":memory:"), QStringLiteral("schema"));
    if (!ours.open())
        return false;
    ContactStore::createSchema(ours.db());
    const QSqlRecord wanted = ours.db().record(QStringLiteral("contacts"));

    SqliteConnection theirs(path, QStringLiteral("import"));
    theirs.db().setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    if (!theirs.open())
        return false;
    // SQLite reads a file only when asked something: one that is no database shows no table.
    const QSqlRecord found = theirs.db().record(QStringLiteral("contacts"));
    if (wanted.isEmpty() || found.isEmpty())
        return false;
    for (int i = 0; i < wanted.count(); ++i)
        if (!found.contains(wanted.fieldName(i)))
            return false;
    return true;
}

bool ServerDatabase::remove()
{
    QWriteLocker locker(&lock());
    changed();
    return QFile::remove(m_path);
}

bool ServerDatabase::replaceWith(const QString &source, QString *error)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        if (error)
            *error = in.errorString();
        return false;
    }
    QWriteLocker locker(&lock());
    changed();
    QSaveFile out(m_path);
    if (!out.open(QIODevice::WriteOnly)) {
        if (error)
            *error = out.errorString();
        return false;
    }
    QByteArray chunk;
    while (!(chunk = in.read(1 << 20)).isEmpty()) {
        if (out.write(chunk) != chunk.size())
            break;
    }
    if (in.error() != QFileDevice::NoError || out.error() != QFileDevice::NoError) {
        if (error)
            *error = in.error() != QFileDevice::NoError ? in.errorString() : out.errorString();
        out.cancelWriting();
        return false;
    }
    if (!out.commit()) {
        if (error)
            *error = out.errorString();
        return false;
    }
    return true;
}

bool ServerDatabase::exportTo(const QString &target) const
{
    QReadLocker locker(&lock());
    return QFile::copy(m_path, target);
}
