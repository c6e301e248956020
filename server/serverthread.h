#pragma once

#include <QByteArray>
#include <QString>
#include <QThread>
class Admission;
class QDeadlineTimer;
class QTcpSocket;
class ServerDatabase;

// Serves one accepted connection: reads its single request, checks the password, acts on the
// request type, replies and ends. It talks to the GUI thread only through queued signals and
// never waits for it.
class ServerThread : public QThread
{
    Q_OBJECT
public:
    ServerThread(qintptr socketDescriptor, QObject *parent);

    // The connection's place among those served; released once its reply is with the socket,
    // or it ends.
    void setTicket(Admission *admission, quint64 ticket)
    {
        m_admission = admission;
        m_ticket = ticket;
    }

signals:
    void newClientSignal();
    void removeClientSignal();
    void error(QString error);
    // Emitted once the change is in the database file.
    void addContactSignal(QByteArray payload);
    void delContactSignal(QByteArray payload);
    void editContactSignal(QByteArray payload);
    // A box for the server's user; shown by the receiver, never waited for.
    void criticalSignal(QString title, QString text);
    // A change could not be stored and was not answered.
    void changeFailedSignal(QString title, QString text);

protected:
    void run() override;

private:
    enum class Wait { Ready, TimedOut, Gone };
    // The socket's blocking waits, cut into short slices so that a stop is noticed quickly.
    Wait waitForReadyRead(QTcpSocket &socket, const QDeadlineTimer &deadline);
    // Waits until the socket holds at most `pending` bytes; false when the client took nothing
    // for a whole step, left, or the server stops.
    bool flush(QTcpSocket &socket, qint64 pending = 0);
    void disconnect(QTcpSocket &socket);
    void release();
    // False when nothing or not all of it was sent; the connection is then closed.
    bool sendDatabase(QTcpSocket &socket, const QString &password, ServerDatabase &database);

    qintptr m_socketDescriptor;
    Admission *m_admission = nullptr;
    quint64 m_ticket = 0;
};
