#include "datafolderlock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

DataFolderLock::DataFolderLock(const QString &dataDirectory)
    : m_directory(QDir::cleanPath(dataDirectory))
{
}

DataFolderLock::~DataFolderLock()
{
    if (m_fd >= 0)
        ::close(m_fd); // lets go of the lock
}

bool DataFolderLock::acquire()
{
    // Beside the folder, not in it: a missing folder is made later, and that resets the revision.
    QDir().mkpath(QFileInfo(m_directory).absolutePath());
    const QByteArray path = QFile::encodeName(m_directory + QStringLiteral(".lock"));
    m_fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    struct flock whole = {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    if (::fcntl(m_fd, F_SETLK, &whole) == 0) {
        // The holder's number, for whoever looks at the file; the lock itself is what counts.
        const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
        if (::ftruncate(m_fd, 0) != 0 || ::pwrite(m_fd, pid.constData(), size_t(pid.size()), 0) < 0)
            m_error = QString::fromLocal8Bit(std::strerror(errno)); // harmless: the lock holds
        return true;
    }
    const int lockError = errno;
    if (::fcntl(m_fd, F_GETLK, &whole) == 0 && whole.l_type != F_UNLCK)
        m_holder = whole.l_pid;
    else
        m_error = QString::fromLocal8Bit(std::strerror(lockError));
    ::close(m_fd);
    m_fd = -1;
    return false;
}

QString DataFolderLock::refusal() const
{
    const QString folder = QDir::toNativeSeparators(m_directory);
    if (m_holder > 0)
        return QCoreApplication::translate(
                   "DataFolderLock",
                   "数据文件夹 %1 正由另一个服务器使用 (进程 %2), 不能再启动一个!")
            .arg(folder)
            .arg(m_holder);
    return QCoreApplication::translate("DataFolderLock", "无法锁定数据文件夹 %1!").arg(folder) +
           QLatin1Char(' ') + m_error;
}
