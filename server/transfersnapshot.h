#pragma once

#include <QFile>
#include <QString>
#include <memory>

// The database file as a transfer sends it: a copy on the disk, made while no change is being
// written, so that it holds exactly the changes the revision counts, and read in pieces while
// the client takes them, so that a slow client costs the server no memory for the file. The
// transfers started while the database stays the same share one copy; a copy is deleted once
// the database has changed and its last transfer is done.
class TransferSnapshot
{
public:
    TransferSnapshot() = default;
    TransferSnapshot(const TransferSnapshot &) = delete;
    TransferSnapshot &operator=(const TransferSnapshot &) = delete;

    // Opens the copy of the database at databasePath as it is now, making it first when the
    // file has changed since the last one. An empty database opens with nothing to read. False
    // when the database cannot be read or the copy cannot be written, with the reason in
    // errorString().
    bool open(const QString &databasePath);
    qint64 size() const { return m_size; }
    // The copy's next bytes, at most maxSize; none at its end or on a read error.
    QByteArray read(qint64 maxSize);
    QString errorString() const { return m_error; }

    // Called, under the database's write lock, by every change this program makes to a database
    // file: the copy of the old state is no longer handed out.
    static void invalidate();
    // Removes the copies a previous run left beside the database at databasePath.
    static void removeLeftovers(const QString &databasePath);

private:
    struct Copy;
    struct Cache;
    static Cache &cache();
    static std::shared_ptr<const Copy> makeCopy(QFile &database, QString *error);
    static bool copyFile(QFile &from, QFile &to, qint64 *copied, QString *error);
    bool fail(const QString &error);

    std::shared_ptr<const Copy> m_copy; // keeps the file while this transfer reads it
    QFile m_file;
    qint64 m_size = 0;
    QString m_error;
};
