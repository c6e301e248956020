#include "server.h"

#include "logging.h"
#include "serverthread.h"

#include <QTcpSocket>
#include <QTimer>
#include <utility>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif

namespace {
constexpr int AcceptRetryMs = 100;

QHostAddress peerAddress(qintptr socketDescriptor)
{
#ifdef Q_OS_UNIX
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(int(socketDescriptor), reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return QHostAddress();
    const QHostAddress host(reinterpret_cast<const sockaddr *>(&address));
    bool v4 = false;
    const quint32 ip = host.toIPv4Address(&v4); // one client over IPv4 and mapped IPv6 alike
    return v4 ? QHostAddress(ip) : host;
#else
    Q_UNUSED(socketDescriptor);
    return QHostAddress();
#endif
}

void refuse(qintptr socketDescriptor)
{
    QTcpSocket socket;
    if (socket.setSocketDescriptor(socketDescriptor))
        socket.abort();
}
} // namespace

Server::Server(QObject *parent) : QTcpServer(parent)
{
    // Out of file descriptors, say: the listener stops accepting; try again shortly instead of
    // staying deaf.
    connect(this, &QTcpServer::acceptError, this, [this] {
        qCWarning(lcNet) << "cannot accept a connection:" << errorString();
        QTimer::singleShot(AcceptRetryMs, this, [this] { resumeAccepting(); });
    });
}

Server::~Server()
{
    close();
    // A QThread destroyed while it runs takes the program down with it.
    finishThreads();
}

void Server::finishThreads()
{
    const QList<ServerThread *> threads = findChildren<ServerThread *>(Qt::FindDirectChildrenOnly);
    for (ServerThread *thread : threads)
        thread->requestInterruption();
    for (ServerThread *thread : threads)
        thread->wait();
}

void Server::setMaxConnections(int count)
{
    m_maxConnections = count;
    m_admission.setLimits(m_maxConnections, m_maxPerAddress);
}

void Server::setMaxConnectionsPerAddress(int count)
{
    m_maxPerAddress = count;
    m_admission.setLimits(m_maxConnections, m_maxPerAddress);
}

void Server::incomingConnection(qintptr socketDescriptor)
{
    if (m_running.loadAcquire() >= ThreadCeiling) {
        qCDebug(lcNet) << "too many threads, closing a new connection";
        refuse(socketDescriptor);
        return;
    }
    const QHostAddress address = peerAddress(socketDescriptor);
    const quint64 ticket = m_admission.admit(address, socketDescriptor);
    if (ticket == 0) {
        qCDebug(lcNet) << "no room for a connection from" << address;
        refuse(socketDescriptor);
        return;
    }

    auto *thread = new ServerThread(socketDescriptor, this);
    thread->setTicket(&m_admission, ticket);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    connect(thread, &ServerThread::error, this, &Server::socketErrorSlot);
    connect(thread, &ServerThread::newClientSignal, this, &Server::newClientSlot);
    connect(thread, &ServerThread::removeClientSignal, this, &Server::removeClientSlot);
    connect(thread, &ServerThread::addContactSignal, this, &Server::addContactSlot);
    connect(thread, &ServerThread::delContactSignal, this, &Server::delContactSlot);
    connect(thread, &ServerThread::editContactSignal, this, &Server::editContactSlot);
    connect(thread, &ServerThread::criticalSignal, this, &Server::criticalSlot);
    connect(thread, &ServerThread::changeFailedSignal, this, &Server::changeFailedSlot);
    connect(
        thread, &QThread::finished, this, [this] { m_running.deref(); }, Qt::DirectConnection);
    m_running.ref();
    thread->start();

    if (!thread->isRunning() && !thread->isFinished()) {
        // No thread could be made: the connection is dropped like one without room.
        qCWarning(lcNet) << "cannot start a thread for a connection";
        m_running.deref();
        delete thread;
        m_admission.release(ticket);
        refuse(socketDescriptor);
    }
}

void Server::socketErrorSlot(QString socketError)
{
    qCWarning(lcNet) << "connection not taken over:" << socketError;
    emit problem(tr("网络出错"), socketError);
}

void Server::newClientSlot()
{
    emit clientCountChanged(++m_clientCount);
}

void Server::removeClientSlot()
{
    emit clientCountChanged(--m_clientCount);
}

// The serving thread has already stored the change; these only tell the log, and that changes
// are stored again.
void Server::addContactSlot(QByteArray payload)
{
    m_changeFailureShown = false;
    qCDebug(lcDb) << "contact added," << payload.size() << "bytes";
}

void Server::delContactSlot(QByteArray payload)
{
    m_changeFailureShown = false;
    qCDebug(lcDb) << "contact deleted," << payload.size() << "bytes";
}

void Server::editContactSlot(QByteArray payload)
{
    m_changeFailureShown = false;
    qCDebug(lcDb) << "contact changed," << payload.size() << "bytes";
}

void Server::criticalSlot(QString title, QString text)
{
    qCWarning(lcNet).noquote() << title << text;
    emit problem(title, text);
}

void Server::changeFailedSlot(QString title, QString text)
{
    qCWarning(lcDb).noquote() << "change not stored:" << title << text;
    if (!std::exchange(m_changeFailureShown, true))
        emit problem(title, text);
}
