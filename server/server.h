#pragma once

#include "admission.h"

#include <QAtomicInt>
#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QMutex>
#include <QString>
#include <QTcpServer>

class ServerThread;

// Listens for clients and serves each connection on a ServerThread of its own. Lives on the
// GUI thread; the threads reach it only through queued signals. It shows nothing itself: it
// counts the clients that greeted it and signals what the server's user should be told.
class Server : public QTcpServer
{
    Q_OBJECT
public:
    // Connections served at once (see Admission). Each holds a thread for as long as its client
    // keeps it open, at most a few time-outs.
    static constexpr int DefaultMaxConnections = 256;
    // Threads of every kind, those finishing a reply included; beyond it newcomers are refused.
    static constexpr int ThreadCeiling = 4 * DefaultMaxConnections;

    explicit Server(QObject *parent = nullptr);
    ~Server() override;

    void setMaxConnections(int count);
    // Connections one address may hold at once, so that one client, however slow, always
    // leaves room for the others.
    static constexpr int DefaultMaxConnectionsPerAddress = 32;
    void setMaxConnectionsPerAddress(int count);
    // Serving threads that have not finished yet.
    int activeConnections() const { return m_running.loadAcquire(); }

    // Tells every serving thread to finish and waits until all have.
    void finishThreads();

    // Greetings minus farewells since this server was made; may go below 0, as a client that
    // greeted an earlier one may say goodbye to this one.
    int clientCount() const { return m_clientCount; }

signals:
    void clientCountChanged(int count);
    // Something the server's user should be told in a box.
    void problem(const QString &title, const QString &text);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private slots:
    void socketErrorSlot(QString socketError);
    void newClientSlot();
    void removeClientSlot();
    void addContactSlot(QByteArray payload);
    void delContactSlot(QByteArray payload);
    void editContactSlot(QByteArray payload);
    void criticalSlot(QString title, QString text);
    void changeFailedSlot(QString title, QString text);

private:
    int m_clientCount = 0;
    // Counted down by each thread as it ends, not by a queued call: a burst of connections can
    // keep the GUI thread accepting for a while before it gets to its queue.
    QAtomicInt m_running;
    int m_maxConnections = DefaultMaxConnections;
    int m_maxPerAddress = DefaultMaxConnectionsPerAddress;
    Admission m_admission{DefaultMaxConnections, DefaultMaxConnectionsPerAddress};
    // Every change fails alike until the cause is mended: one box says so, not one per change.
    bool m_changeFailureShown = false;
};
