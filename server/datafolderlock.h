#pragma once

#include <QString>

// Keeps a second server from serving the same data folder: the two would count revisions in one
// settings store and write one database, and lose each other's changes. The lock is one the
// operating system lets go of when its holder ends, however it ends, so a killed server never
// keeps the next one out, and a process id used again by another program means nothing.
class DataFolderLock
{
public:
    explicit DataFolderLock(const QString &dataDirectory);
    ~DataFolderLock();
    DataFolderLock(const DataFolderLock &) = delete;
    DataFolderLock &operator=(const DataFolderLock &) = delete;

    bool acquire();
    // Why acquire() failed, for the server's user.
    QString refusal() const;

private:
    QString m_directory;
    int m_fd = -1;
    qint64 m_holder = 0; // the process holding the lock, when another one does
    QString m_error;
};
