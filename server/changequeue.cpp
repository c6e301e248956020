#include "changequeue.h"

#include "contactstore.h"
#include "logging.h"
#include "revision.h"
#include "serverdatabase.h"
#include "serversettings.h"
#include "sqliteconnection.h"
#include "transfersnapshot.h"

#include <QMutex>
#include <QSqlError>
#include <QWaitCondition>
#include <utility>

namespace ChangeQueue {

namespace {
struct Pending
{
    QString path;
    Statement statement;
    Result result;
    bool done = false;
};

// The first thread to find nobody writing writes everything that is waiting, its own change
// included; the others sleep until their change is done.
struct Queue
{
    QMutex mutex;
    QWaitCondition written;
    QList<Pending *> waiting;
    bool writing = false;
};

Queue &queue()
{
    static Queue instance;
    return instance;
}

// False when one of several changes failed: then none of them is kept.
bool commitTogether(QSqlDatabase &db, const QList<Pending *> &group)
{
    const auto fail = [&](const QString &error, bool settings = false) {
        qCWarning(lcDb) << "changes not stored:" << error;
        for (Pending *pending : group) {
            pending->result.error = error;
            pending->result.settingsFailed = settings;
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
        pending->result.stored = true;
        pending->result.revision = ++revision;
    }
    return true;
}

void write(const QList<Pending *> &batch)
{
    QWriteLocker locker(&ServerDatabase::lock());
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
                pending->result.error = error;
            continue;
        }
        if (!commitTogether(connection.db(), same)) {
            for (Pending *pending : std::as_const(same))
                commitTogether(connection.db(), {pending});
        }
    }
    TransferSnapshot::invalidate();
}
} // namespace

Result apply(const QString &path, Statement statement)
{
    Pending mine{path, std::move(statement), {}, false};
    Queue &q = queue();
    QMutexLocker locker(&q.mutex);
    q.waiting.append(&mine);
    while (!mine.done) {
        if (q.writing) {
            q.written.wait(&q.mutex);
            continue;
        }
        q.writing = true;
        const QList<Pending *> batch = std::exchange(q.waiting, {});
        locker.unlock();
        write(batch);
        locker.relock();
        for (Pending *pending : std::as_const(batch))
            pending->done = true;
        q.writing = false;
        q.written.wakeAll();
    }
    return mine.result;
}

int waiting()
{
    QMutexLocker locker(&queue().mutex);
    return int(queue().waiting.size());
}

} // namespace ChangeQueue
