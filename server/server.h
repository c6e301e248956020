#pragma once

#include <QAtomicInt>
#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QMutex>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTimer>

class QLabel;
class QWidget;
class ServerThread;

// Listens for clients and serves each connection on a ServerThread of its own. Lives on the
// GUI thread; the threads reach it only through queued signals.
class Server : public QTcpServer
{
    Q_OBJECT
public:
    // Connections served at once; one more is closed as soon as it is accepted. Each holds a
    // thread for as long as its client keeps it open, at most a few time-outs.
    static constexpr int DefaultMaxConnections = 256;

    // The window is the parent and the owner of the boxes; the label shows the client count.
    Server(QWidget *window, QLabel *countLabel);
    ~Server() override;

    void setMaxConnections(int count) { m_maxConnections = count; }
    int maxConnections() const { return m_maxConnections; }
    // Connections one address may hold at once, so that one client, however slow, always
    // leaves room for the others.
    static constexpr int DefaultMaxConnectionsPerAddress = 32;
    void setMaxConnectionsPerAddress(int count) { m_maxPerAddress = count; }
    // Serving threads that have not finished yet.
    int activeConnections() const { return m_running.loadAcquire(); }

    // Tells every serving thread to finish and waits until all have.
    void finishThreads();

    // The count label is repainted at most this often: repainting it for every greeting cost
    // more than serving the greeting. 0 writes every change at once.
    static constexpr int DefaultCountRefreshMs = 100;
    void setCountRefreshMs(int ms) { m_countRefreshMs = ms; }
    // Writes the changes not yet shown into the count label.
    void flushCount();

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
    void changeCount(int delta);
    // Counts a connection against its address; false when the address already holds its share.
    bool takeAddress(const QHostAddress &address);
    void releaseAddress(const QHostAddress &address);

    QWidget *m_window;
    QPointer<QLabel> m_countLabel;
    // Counted down by each thread as it ends, not by a queued call: a burst of connections can
    // keep the GUI thread accepting for a while before it gets to its queue.
    QAtomicInt m_running;
    int m_maxConnections = DefaultMaxConnections;
    QMutex m_addressMutex; // the threads release their addresses as they close
    QHash<QHostAddress, int> m_perAddress;
    int m_maxPerAddress = DefaultMaxConnectionsPerAddress;
    // Every change fails alike until the cause is mended: one box says so, not one per change.
    bool m_changeFailureShown = false;
    QTimer m_countTimer;
    int m_pendingCount = 0;
    int m_countRefreshMs = DefaultCountRefreshMs;
};
