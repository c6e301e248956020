#pragma once

#include "protocol.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QEventLoop>
#include <QString>
#include <QThread>
#include <memory>

class QTcpSocket;

// The client side of one exchange, blocking, as a real client does it. Runs on any thread that
// QThread started.
namespace TestClient {

struct Reply
{
    Reply() { message.type = -1; }
    bool connected = false;
    bool closedByServer = false; // the server closed the connection within the wait
    QByteArray raw;              // every byte the server sent
    bool complete = false;       // raw holds a whole message
    Protocol::Message message;   // the message in raw; type -1 while there is none
};

// Connects to 127.0.0.1, writes the bytes and reads until the server closes.
Reply exchange(quint16 port, const QByteArray &request, int waitMs = 10000);
Reply request(quint16 port, const QString &password, Protocol::RequestType type,
              const QByteArray &payload, int waitMs = 10000);
// Reads from a connected socket until the peer closes or the wait ends.
Reply readUntilClosed(QTcpSocket &socket, int waitMs = 10000);

// Runs f on a thread of its own while this thread's event loop keeps turning, so that a server
// living here goes on accepting; returns f's result.
template <typename F> auto offThread(F f) -> decltype(f())
{
    decltype(f()) result{};
    std::unique_ptr<QThread> thread(QThread::create([&] { result = f(); }));
    QEventLoop loop;
    QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
    thread->start();
    loop.exec();
    thread->wait();
    return result;
}

} // namespace TestClient
