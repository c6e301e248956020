#pragma once

#include <QByteArray>
#include <QString>
#include <QThread>

class QTcpSocket;

// Serves one accepted connection: reads its single request, checks the password, acts on the
// request type, replies and ends. It talks to the GUI thread only through queued signals and
// never waits for it.
class ServerThread : public QThread
{
    Q_OBJECT
public:
    ServerThread(qintptr socketDescriptor, QObject *parent);

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

protected:
    void run() override;

private:
    enum class Wait { Ready, TimedOut, Gone };
    // The socket's blocking waits, cut into short slices so that a stop is noticed quickly.
    Wait waitForReadyRead(QTcpSocket &socket);
    bool flush(QTcpSocket &socket);
    void disconnect(QTcpSocket &socket);
    void sendDatabase(QTcpSocket &socket, const QString &password);

    qintptr m_socketDescriptor;
};
