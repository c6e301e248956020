#pragma once

#include <QSqlDatabase>
#include <QString>

// A SQLite connection of its own for one piece of work, under a name no other holder uses,
// so that threads never share one; it is closed and unregistered when it goes out of scope.
class SqliteConnection
{
public:
    SqliteConnection(const QString &path, const QString &purpose);
    ~SqliteConnection();
    SqliteConnection(const SqliteConnection &) = delete;
    SqliteConnection &operator=(const SqliteConnection &) = delete;

    // Opens the file; false with the driver's error text in lastError().
    bool open() { return m_db.open(); }
    QSqlDatabase &db() { return m_db; }
    QString lastError() const;

private:
    QString m_name;
    QSqlDatabase m_db;
};
