#pragma once

#include "changequeue.h"

#include <QByteArray>
#include <QReadWriteLock>
#include <QString>

class TransferSnapshot;

// The server's contacts database file and everything done to it: creation at start-up, the
// three changes clients send, the copy a transfer sends, and the window's reset, import and
// export. Each operation that can fail returns false with the reason, for the server's user, in
// errorString() and the title of its box in errorTitle().
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
    // index. Fails when the file cannot be opened or the revision cannot be set to 0.
    bool initialise();

    // Each applies one change and raises the revision with it, both or neither (a statement that
    // matches no row still counts).
    bool addContact(const QByteArray &contactPayload);
    bool editContact(const QByteArray &contactPayloadWithId);
    bool deleteContact(const QByteArray &deletePayload);

    // Opens the file for a transfer, as it is now: a copy taken while no change is being
    // written, shared with the next transfers as long as the file does not change.
    bool openTransfer(TransferSnapshot *snapshot);

    // Deletes the file; the next start creates it anew.
    bool remove();
    // Puts a copy of a contacts database in the database's place, whole or not at all.
    bool replaceWith(const QString &source);
    // Copies the file to a new name; an existing target is never overwritten.
    bool exportTo(const QString &target);

    QString errorString() const { return m_error; }
    QString errorTitle() const { return m_errorTitle; }

private:
    bool apply(const ChangeQueue::Statement &statement);
    bool fail(const QString &title, const QString &error);
    bool databaseFailed(const QString &error);
    bool settingsFailed();

    QString m_path;
    QString m_error;
    QString m_errorTitle;
};
