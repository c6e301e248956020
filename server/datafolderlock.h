#pragma once

#include <QLockFile>
#include <QString>

// Keeps a second server from serving the same data folder: the two would count revisions in one
// settings store and write one database, and lose each other's changes.
class DataFolderLock
{
public:
    explicit DataFolderLock(const QString &dataDirectory);

    // Takes the lock, or the stale one of a server that ended without letting it go.
    bool acquire();
    // Why acquire() failed, for the server's user.
    QString refusal() const;

private:
    QString m_directory;
    QLockFile m_lock;
};
