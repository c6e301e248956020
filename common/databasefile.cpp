#include "databasefile.h"

#include "contactstore.h"
#include "sqliteconnection.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSqlRecord>
#include <QTemporaryFile>

#include <cstdio>
#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {
constexpr qint64 ChunkBytes = 1 << 20;

QString tr(const char *text)
{
    return QCoreApplication::translate("DatabaseFile", text);
}
} // namespace

bool DatabaseFile::isContactsDatabase()
{
    if (!QFileInfo(m_path).isFile()) {
        m_error = tr("文件不存在");
        return false;
    }
    SqliteConnection ours(QStringLiteral(":memory:"), QStringLiteral("schema"));
    if (!ours.open()) {
        m_error = ours.lastError();
        return false;
    }
    ContactStore::createSchema(ours.db());
    const QSqlRecord wanted = ours.db().record(QStringLiteral("contacts"));

    SqliteConnection theirs(m_path, QStringLiteral("check"));
    theirs.db().setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    if (!theirs.open()) {
        m_error = theirs.lastError();
        return false;
    }
    // SQLite reads a file only when asked something: one that is no database shows no table.
    const QSqlRecord found = theirs.db().record(QStringLiteral("contacts"));
    if (wanted.isEmpty() || found.isEmpty()) {
        m_error = tr("文件中没有联系人表");
        return false;
    }
    for (int i = 0; i < wanted.count(); ++i) {
        if (!found.contains(wanted.fieldName(i))) {
            m_error = tr("联系人表缺少 %1 列").arg(wanted.fieldName(i));
            return false;
        }
    }
    return true;
}

bool DatabaseFile::replaceWith(const QString &source)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        m_error = in.errorString();
        return false;
    }
    DatabaseReplacement replacement(m_path);
    if (replacement.open() && replacement.copyFrom(&in) && replacement.commit())
        return true;
    m_error = replacement.errorString();
    return false;
}

bool DatabaseFile::copyTo(const QString &target)
{
    QFile file(m_path);
    if (file.copy(target))
        return true;
    m_error = file.errorString();
    return false;
}

bool DatabaseFile::remove()
{
    QFile file(m_path);
    if (file.remove())
        return true;
    m_error = file.errorString();
    return false;
}

DatabaseReplacement::DatabaseReplacement(const QString &target) : m_target(target) {}

DatabaseReplacement::~DatabaseReplacement() = default; // the temporary file removes itself

bool DatabaseReplacement::fail(const QString &error)
{
    m_error = error;
    m_file.reset();
    return false;
}

bool DatabaseReplacement::open()
{
    // Beside the target: a rename within one file system is atomic.
    m_written.clear();
    m_checked = false;
    m_file = std::make_unique<QTemporaryFile>(m_target + QStringLiteral(".XXXXXX"));
    if (!m_file->open())
        return fail(m_file->errorString());
    return true;
}

QIODevice *DatabaseReplacement::device() const
{
    return m_file.get();
}

bool DatabaseReplacement::copyFrom(QIODevice *source)
{
    if (!m_file)
        return fail(tr("文件未打开"));
    QByteArray chunk;
    while (!(chunk = source->read(ChunkBytes)).isEmpty()) {
        if (m_file->write(chunk) != chunk.size())
            return fail(m_file->errorString());
    }
    if (!source->atEnd())
        return fail(source->errorString());
    return true;
}

bool DatabaseReplacement::finishWriting()
{
    if (!m_file)
        return fail(tr("文件未打开"));
    if (!m_written.isEmpty())
        return true;
    if (!m_file->flush())
        return fail(m_file->errorString());
#ifdef Q_OS_UNIX
    // On the disk before it takes the old file's place, or a crash could leave neither.
    if (::fsync(m_file->handle()) != 0)
        return fail(tr("无法写入磁盘"));
#endif
    // The temporary file is the owner's alone; the database keeps the access it had.
    const QFileDevice::Permissions access =
        QFileInfo::exists(m_target) ? QFile::permissions(m_target)
                                    : QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ReadGroup | QFileDevice::ReadOther;
    if (!m_file->setPermissions(access))
        return fail(m_file->errorString());
    m_file->close();
    m_written = m_file->fileName();
    return true;
}

bool DatabaseReplacement::check()
{
    if (m_checked)
        return true;
    if (!finishWriting())
        return false;
    DatabaseFile written(m_written);
    if (!written.isContactsDatabase())
        return fail(written.errorString());
    m_checked = true;
    return true;
}

bool DatabaseReplacement::commit()
{
    if (!check())
        return false;
    // QFile::rename refuses an existing target; the C library replaces it in one step.
    if (std::rename(QFile::encodeName(m_written).constData(),
                    QFile::encodeName(m_target).constData()) != 0)
        return fail(tr("无法替换文件 %1").arg(m_target));
    m_file->setAutoRemove(false);
    m_file.reset();
    return true;
}
