#include "sqliteconnection.h"

#include <QAtomicInt>
#include <QSqlError>

SqliteConnection::SqliteConnection(const QString &path, const QString &purpose)
{
    static QAtomicInt serial;
    m_name = QStringLiteral("pelicard-%1-%2").arg(purpose).arg(serial.fetchAndAddRelaxed(1));
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    m_db.setDatabaseName(path);
}

SqliteConnection::~SqliteConnection()
{
    m_db.close();
    m_db = QSqlDatabase(); // the last handle must go before the name is removed
    QSqlDatabase::removeDatabase(m_name);
}

QString SqliteConnection::lastError() const
{
    return m_db.lastError().text();
}
