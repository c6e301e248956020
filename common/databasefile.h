#pragma once

#include <QFile>
#include <QString>
#include <memory>

class QIODevice;
class QTemporaryFile;

// Whole-file operations on a contacts database: telling whether a file is one, replacing one
// with another so that a failure leaves the old file as it was, copying one out. Each returns
// false with the reason in errorString().
class DatabaseFile
{
public:
    explicit DatabaseFile(const QString &path) : m_path(path) {}

    QString path() const { return m_path; }
    QString errorString() const { return m_error; }

    // An SQLite database whose contacts table has every column of ours: nothing else may take
    // the place of a database that programs read.
    bool isContactsDatabase();
    // Puts a copy of source in this file's place (see Replacement).
    bool replaceWith(const QString &source);
    // Copies this file to target; an existing target is never overwritten.
    bool copyTo(const QString &target);
    bool remove();

private:
    QString m_path;
    QString m_error;
};

// A new content for a database file, written to a temporary file beside it. commit() flushes it
// to the disk, checks that it is a contacts database and only then renames it over the old
// file; a replacement that fails or is dropped leaves the old file untouched and removes the
// temporary one.
class DatabaseReplacement
{
public:
    explicit DatabaseReplacement(const QString &target);
    ~DatabaseReplacement();

    QString target() const { return m_target; }
    bool open();
    QIODevice *device() const;
    // Copies the rest of source into the new content.
    bool copyFrom(QIODevice *source);
    // Puts the new content on the disk and closes it; nothing more can be written.
    bool finishWriting();
    // Whether the new content is a contacts database; finishes writing first. A holder that
    // must not let go of the old file before it knows (an open connection) checks apart.
    bool check();
    // Checks, unless done, and renames the new content over the old file.
    bool commit();
    QString errorString() const { return m_error; }

private:
    bool fail(const QString &error);

    QString m_target;
    std::unique_ptr<QTemporaryFile> m_file;
    QString m_written; // the new content's name once it is on the disk
    bool m_checked = false;
    QString m_error;
};
