#include "serverthread.h"

#include "admission.h"
#include "logging.h"
#include "protocol.h"
#include "requestreader.h"
#include "revision.h"
#include "serverdatabase.h"
#include "serversettings.h"
#include "timeouts.h"
#include "transfersnapshot.h"

#include <QAbstractEventDispatcher>
#include <QDataStream>
#include <QDeadlineTimer>
#include <QTcpSocket>
#include <utility>

using Protocol::Message;
using Protocol::RequestType;

namespace {
constexpr int SliceMs = 50;
// Small enough for the C library to keep the stacks of finished threads for the next ones,
// instead of mapping and unmapping one per connection; SQLite and Qt need far less.
constexpr uint StackBytes = 512 * 1024;
// What the socket may hold beyond what the reader has taken; a request is 1 MiB at most, so this
// only sets how many reads a large one takes.
constexpr qint64 ReadBufferBytes = 64 * 1024;
// A transfer reads the next piece of the file only once the socket has taken the last: a
// client that reads slowly holds the server to this much, whatever the file's size.
constexpr qint64 TransferChunkBytes = 64 * 1024;

// A serving thread only makes blocking socket calls and never runs an event loop, so it needs no
// real event dispatcher; building the platform's one for every connection cost more than the
// whole exchange.
class NoEventDispatcher : public QAbstractEventDispatcher
{
public:
    bool processEvents(QEventLoop::ProcessEventsFlags) override { return false; }
    void registerSocketNotifier(QSocketNotifier *) override {}
    void unregisterSocketNotifier(QSocketNotifier *) override {}
    void registerTimer(int, qint64, Qt::TimerType, QObject *) override {}
    bool unregisterTimer(int) override { return false; }
    bool unregisterTimers(QObject *) override { return false; }
    QList<TimerInfo> registeredTimers(QObject *) const override { return {}; }
    int remainingTime(int) override { return -1; }
    void wakeUp() override {}
    void interrupt() override {}
};

// The bytes of a message up to its payload's bytes: size, password, type, payload count.
QByteArray messageHead(const QString &password, RequestType type, qsizetype payloadSize)
{
    QByteArray head;
    QDataStream out(&head, QIODevice::WriteOnly);
    out.setVersion(Protocol::StreamVersion);
    out << qint64(0) << password << qint16(type) << quint32(payloadSize);
    out.device()->seek(0);
    out << qint64(head.size() - Protocol::SizeFieldBytes + payloadSize);
    return head;
}
} // namespace

ServerThread::ServerThread(qintptr socketDescriptor, QObject *parent)
    : QThread(parent), m_socketDescriptor(socketDescriptor)
{
    setStackSize(StackBytes);
    setEventDispatcher(new NoEventDispatcher);
}

ServerThread::Wait ServerThread::waitForReadyRead(QTcpSocket &socket,
                                                  const QDeadlineTimer &deadline)
{
    while (!isInterruptionRequested()) {
        const qint64 left = deadline.remainingTime();
        if (left <= 0)
            return Wait::TimedOut;
        if (socket.waitForReadyRead(int(qMin<qint64>(left, SliceMs))))
            return Wait::Ready;
        if (socket.state() != QAbstractSocket::ConnectedState)
            return Wait::Gone;
    }
    return Wait::Gone;
}

bool ServerThread::flush(QTcpSocket &socket, qint64 pending)
{
    // Hand the kernel what it takes at once; a short reply then needs no wait at all.
    socket.flush();
    while (socket.bytesToWrite() > pending) {
        QDeadlineTimer deadline(Timeouts::stepMs());
        bool progressed = false;
        while (!progressed) {
            const qint64 left = deadline.remainingTime();
            if (isInterruptionRequested() || left <= 0)
                return false;
            progressed = socket.waitForBytesWritten(int(qMin<qint64>(left, SliceMs)));
            if (!progressed && socket.state() != QAbstractSocket::ConnectedState)
                return false;
        }
    }
    return true;
}

void ServerThread::release()
{
    if (m_admission)
        std::exchange(m_admission, nullptr)->release(m_ticket);
}

void ServerThread::disconnect(QTcpSocket &socket)
{
    release();
    if (isInterruptionRequested()) {
        socket.abort();
        return;
    }
    socket.disconnectFromHost();
    QDeadlineTimer deadline(Timeouts::stepMs());
    while (socket.state() != QAbstractSocket::UnconnectedState) {
        const qint64 left = deadline.remainingTime();
        if (isInterruptionRequested() || left <= 0) {
            socket.abort();
            return;
        }
        socket.waitForDisconnected(int(qMin<qint64>(left, SliceMs)));
    }
}

bool ServerThread::sendDatabase(QTcpSocket &socket, const QString &password,
                                ServerDatabase &database)
{
    TransferSnapshot snapshot;
    if (!database.openTransfer(&snapshot)) {
        emit criticalSignal(database.errorTitle(), database.errorString());
        socket.disconnectFromHost();
        return false;
    }
    // The same bytes as a whole message, without ever holding the file in one.
    socket.write(messageHead(password, RequestType::DatabaseTransfer, snapshot.size()));
    for (qint64 left = snapshot.size(); left > 0;) {
        // A fresh array each time: the socket keeps it instead of copying it.
        const QByteArray chunk = snapshot.read(qMin(left, TransferChunkBytes));
        if (chunk.isEmpty()) {
            qCWarning(lcNet) << "transfer broken off, the copy cannot be read:"
                             << snapshot.errorString();
            release();
            socket.abort();
            return false;
        }
        if (socket.write(chunk) != chunk.size() || !flush(socket, TransferChunkBytes)) {
            qCDebug(lcNet) << "transfer broken off with" << left << "bytes left";
            release();
            socket.abort();
            return false;
        }
        left -= chunk.size();
    }
    return true;
}

void ServerThread::run()
{
    QTcpSocket socket;
    // Every way out lets go of the connection's place, before the socket closes its descriptor:
    // until then, making room may still shut it down.
    struct Release
    {
        ServerThread *thread;
        ~Release() { thread->release(); }
    } atEnd{this};
    if (!socket.setSocketDescriptor(m_socketDescriptor)) {
        emit error(socket.errorString());
        return;
    }

    // Until the password is proved, what a client sends stays in the kernel's buffers, not
    // in ours.
    socket.setReadBufferSize(ReadBufferBytes);
    const std::optional<QString> stored = ServerSettings::passwordText();
    RequestReader reader(stored);
    const QString password = stored.value_or(QString());
    Message message;
    // The first bytes are waited for once; from the first byte on, the whole request has one
    // deadline, so a client cannot hold its connection by sending a byte now and then.
    QDeadlineTimer deadline(Timeouts::stepMs());
    bool started = false;
    for (;;) {
        const RequestReader::Status status = reader.read(&socket, &message);
        if (status == RequestReader::Complete)
            break;
        if (status == RequestReader::WrongPassword) {
            // A refusal tells nothing about the password it was measured against.
            socket.write(Protocol::encodeMessage(QString(), RequestType::WrongPassword,
                                                 Protocol::wrongPasswordPayload()));
            release();
            flush(socket);
            disconnect(socket);
            return;
        }
        if (status != RequestReader::NeedMore) {
            qCDebug(lcNet) << "refused a message:"
                           << (status == RequestReader::SizeRefused ? "size" : "malformed");
            release();
            socket.abort();
            return;
        }
        if (!started && (reader.started() || socket.bytesAvailable() > 0)) {
            started = true;
            deadline.setRemainingTime(Timeouts::stepMs());
        }
        if (waitForReadyRead(socket, deadline) != Wait::Ready) {
            if (started)
                qCDebug(lcNet, "Not enough bytes!");
            disconnect(socket);
            return;
        }
    }

    if (m_admission)
        m_admission->answering(m_ticket);
    ServerDatabase database;
    auto reply = [&](RequestType type, const QByteArray &payload) {
        socket.write(Protocol::encodeMessage(password, type, payload));
    };
    // A change is answered only once it and the revision that counts it are both stored. Without
    // a reply the client counts nothing and reports a failed exchange.
    using Signal = void (ServerThread::*)(QByteArray);
    auto change = [&](bool stored, Signal signal, RequestType type) {
        if (!stored) {
            emit changeFailedSignal(database.errorTitle(), database.errorString());
            return false;
        }
        emit(this->*signal)(message.payload);
        reply(type, QByteArray());
        return true;
    };

    bool answered = true;
    switch (RequestType(message.type)) {
    case RequestType::Hello:
        emit newClientSignal();
        reply(RequestType::Hello, Protocol::pongPayload());
        break;
    case RequestType::Goodbye:
        emit removeClientSignal();
        break;
    case RequestType::RevisionQuery:
        reply(RequestType::RevisionQuery, Protocol::revisionText(Revision::current()));
        break;
    case RequestType::AddContact:
        answered = change(database.addContact(message.payload), &ServerThread::addContactSignal,
                          RequestType::AddContact);
        break;
    case RequestType::EditContact:
        answered = change(database.editContact(message.payload), &ServerThread::editContactSignal,
                          RequestType::EditContact);
        break;
    case RequestType::DeleteContact:
        answered = change(database.deleteContact(message.payload), &ServerThread::delContactSignal,
                          RequestType::DeleteContact);
        break;
    case RequestType::DatabaseTransfer:
        if (!sendDatabase(socket, password, database))
            return;
        break;
    default:
        qCDebug(lcNet, "Unknown request type!");
        break;
    }

    release(); // the reply is with the socket: the client may already be on its next request
    if (answered)
        flush(socket);
    disconnect(socket);
}
