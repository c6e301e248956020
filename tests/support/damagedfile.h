#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

// Makes a file unusable in a way that holds for root too, and mends it when it goes.
class DamagedFile
{
public:
    enum Kind { Directory, Garbage, Unwritable };
    DamagedFile(const QString &path, Kind kind)
        : m_path(path), m_long(QFileInfo(path).dir().filePath(QString(250, 'u')))
    {
        QFile garbage(path);
        ok = QFile::rename(path, path + ".aside");
        if (kind == Directory)
            ok = ok && QDir().mkdir(path);
        else if (kind == Garbage)
            ok = ok && garbage.open(QIODevice::WriteOnly) && garbage.write(QByteArray(4096, 'x'));
        else // read through a link; a new file beside the linked one would get too long a name
            ok = ok && QFile::copy(path + ".aside", m_long) && QFile::link(m_long, path);
    }
    ~DamagedFile()
    {
        QDir(m_path).removeRecursively(); // does nothing to a file
        QFile::remove(m_path);
        QFile::remove(m_long);
        QFile::rename(m_path + ".aside", m_path);
    }
    bool ok = false;

private:
    QString m_path;
    QString m_long;
};
