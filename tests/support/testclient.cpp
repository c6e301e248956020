#include "testclient.h"

#include "contactstore.h"
#include "framereader.h"
#include "sqliteconnection.h"

#include <QAtomicInt>
#include <QBuffer>
#include <QDeadlineTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryFile>

namespace TestClient {

Reply readUntilClosed(QTcpSocket &socket, int waitMs)
{
    Reply reply;
    QBuffer received(&reply.raw);
    received.open(QIODevice::ReadOnly);
    Protocol::FrameReader reader(Protocol::MaxReplySize);
    QDeadlineTimer deadline(waitMs);
    for (;;) {
        reply.closedByServer = socket.state() == QAbstractSocket::UnconnectedState;
        reply.raw += socket.readAll();
        reader.read(&received, &reply.message);
        if (reply.closedByServer || deadline.hasExpired())
            return reply;
        socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
}

Reply exchange(quint16 port, const QByteArray &request, int waitMs, int piece,
               const QHostAddress &from)
{
    QTcpSocket socket;
    if (!from.isNull() && !socket.bind(from))
        return Reply();
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(waitMs))
        return Reply();
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    const qsizetype step = piece > 0 ? piece : qMax<qsizetype>(request.size(), 1);
    for (qsizetype at = 0; at < request.size(); at += step) {
        if (at > 0)
            QThread::msleep(2); // a slow client
        socket.write(request.mid(at, step));
        while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(waitMs)) {
        }
    }
    return readUntilClosed(socket, waitMs);
}

Reply request(quint16 port, const QString &password, Protocol::RequestType type,
              const QByteArray &payload, int waitMs)
{
    return exchange(port, Protocol::encodeMessage(password, type, payload), waitMs);
}

QByteArray contact(const QString &name, const QString &firstName, quint64 withId)
{
    Contact c;
    c.name = name;
    c.firstName = firstName;
    c.notes = QString(200, QLatin1Char('n'));
    c.normalise();
    return withId ? Protocol::encodeContactWithId(c, withId) : Protocol::encodeContact(c);
}

DatabaseView viewFile(const QString &path)
{
    static QAtomicInt serial;
    const QString connection = QStringLiteral("view-%1").arg(serial.fetchAndAddRelaxed(1));
    DatabaseView view;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(QStringLiteral("PRAGMA integrity_check")) && query.next())
                view.integrity = query.value(0).toString();
            query.exec(QStringLiteral("SELECT name, firstName FROM contacts ORDER BY id"));
            while (query.next())
                view.names.append(query.value(0).toString() + ' ' + query.value(1).toString());
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return view;
}

DatabaseView viewBytes(const QByteArray &bytes)
{
    QTemporaryFile file;
    if (!file.open() || file.write(bytes) != bytes.size() || !file.flush())
        return DatabaseView();
    return viewFile(file.fileName());
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::AnyIPv4, 0);
    return probe.serverPort();
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool fillDatabase(const QString &path, qint64 bytes)
{
    SqliteConnection connection(path, QStringLiteral("fill"));
    if (!ContactStore::createDatabase(path) || !connection.open() || !connection.db().transaction())
        return false;
    Contact filler;
    filler.notes = QString(3900, QLatin1Char('n'));
    filler.normalise();
    ContactStore store(connection.db());
    for (qint64 i = 0; i < bytes / 4096; ++i)
        if (!store.insert(filler))
            return false;
    return connection.db().commit();
}

} // namespace TestClient
