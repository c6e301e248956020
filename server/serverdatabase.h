#pragma once

#include <QAtomicInteger>
#include <QByteArray>
#include <QReadWriteLock>
#include <QString>
#include <functional>

class ContactStore;
class QMutex;
class QSqlDatabase;

// The server's contacts database file and everything done to it: creation at start-up, the
// three changes clients send, reading the whole file for a transfer, and the window's reset,
// import and export.
//
// One process-wide lock orders them: changes are written and counted together under the write
// lock (the count just before the commit, taken back if the commit fails, and hidden from
// readers until then); the file is read or copied under the read lock. So no client sees a
// revision that counts a change not in the file, nor a change the revision does not count, and
// no reader sees a half-written file.
class ServerDatabase
{
public:
    // The data directory and the database file under the current home directory.
    static QString dataDirectory();
    static QString defaultPath();

    explicit ServerDatabase(const QString &path = defaultPath()) : m_path(path) {}
    QString path() const { return m_path; }

    static QReadWriteLock &lock();

    // Creates a missing data directory (the revision then starts at 0), then the table and
    // index. False with the driver's error text when the file cannot be opened, or with the
    // store's (and *storeFailed set) when the revision cannot be set to 0.
    bool initialise(QString *error = nullptr, bool *storeFailed = nullptr);

    struct Outcome
    {
        bool stored = false;      // the change and the revision that counts it are both stored
        bool storeFailed = false; // not stored because the settings store cannot be written
        QString error;            // why not, in the database's or the store's words
        quint64 revision = 0;     // the counter after this change
    };
    // Each applies one change and raises the revision with it, both or neither (a statement that
    // matches no row still counts). Changes that arrive while another is being written are
    // written together, in one transaction on one connection counted by one write of the
    // revision: every change costs the disk several flushes, and so clients that write at the
    // same time share them.
    Outcome addContact(const QByteArray &contactPayload);
    Outcome editContact(const QByteArray &contactPayloadWithId);
    Outcome deleteContact(const QByteArray &deletePayload);

    enum class ReadResult { Ok, CannotOpen, Empty };
    // The whole file, read while no change is being written. The bytes are shared with the
    // next transfers as long as the file does not change.
    ReadResult readWhole(QByteArray *bytes) const;

    // True for an SQLite database file whose contacts table has every column of ours; nothing
    // else may become the database that every client copies.
    static bool isContactsDatabase(const QString &path);

    // Deletes the file; the next start creates it anew.
    bool remove();
    // Puts a copy of another file in the database's place. The copy is written beside the
    // database and renamed over it, so a failed copy leaves the old database as it was.
    bool replaceWith(const QString &source, QString *error = nullptr);
    // Copies the file to a new name; an existing target is never overwritten.
    bool exportTo(const QString &target) const;

private:
    using Statement = std::function<bool(ContactStore &)>;
    struct Pending;
    struct WriteQueue;
    static WriteQueue &writeQueue();
    Outcome apply(Statement statement);
    static void write(const QList<Pending *> &batch);
    // False when one of several changes failed: then none of them is kept.
    static bool commitTogether(QSqlDatabase &db, const QList<Pending *> &group);

    struct Snapshot;
    static Snapshot &snapshot();
    static QMutex &snapshotMutex();
    // Counts every change this program makes to a database file.
    static QAtomicInteger<quint64> &generation();
    static void changed();

    QString m_path;
};
