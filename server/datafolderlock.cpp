#include "datafolderlock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

DataFolderLock::DataFolderLock(const QString &dataDirectory)
    : m_directory(QDir::cleanPath(dataDirectory)), m_lock(m_directory + QStringLiteral(".lock"))
{
    // Only a lock whose process is gone is stale: a server may hold it for months.
    m_lock.setStaleLockTime(0);
}

bool DataFolderLock::acquire()
{
    // Beside the folder, not in it: a missing folder is made later, and that resets the revision.
    QDir().mkpath(QFileInfo(m_directory).absolutePath());
    return m_lock.tryLock(0);
}

QString DataFolderLock::refusal() const
{
    qint64 pid = 0;
    QString host, application;
    const QString folder = QDir::toNativeSeparators(m_directory);
    if (m_lock.error() == QLockFile::LockFailedError &&
        m_lock.getLockInfo(&pid, &host, &application))
        return QCoreApplication::translate(
                   "DataFolderLock",
                   "数据文件夹 %1 正由另一个服务器使用 (进程 %2), 不能再启动一个!")
            .arg(folder)
            .arg(pid);
    return QCoreApplication::translate("DataFolderLock", "无法锁定数据文件夹 %1!").arg(folder);
}
