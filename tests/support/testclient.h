#pragma once

#include "protocol.h"

#include <QByteArray>
#include <QEventLoop>
#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <QThread>
#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

class QTcpSocket;

// The client side of one exchange, blocking, as a real client does it, and a look into the
// database files the server keeps or sends. Runs on any thread that QThread started.
namespace TestClient {

struct Reply
{
    Reply() { message.type = -1; }
    bool closedByServer = false; // the server closed the connection within the wait
    QByteArray raw;              // every byte the server sent
    Protocol::Message message;   // the message in raw; type -1 while there is none
};

// Connects to 127.0.0.1 (from another loopback address, when given), writes the bytes (in pieces
// of that size that arrive apart, when given) and reads until the server closes.
Reply exchange(quint16 port, const QByteArray &request, int waitMs = 10000, int piece = 0,
               const QHostAddress &from = QHostAddress());
Reply request(quint16 port, const QString &password, Protocol::RequestType type,
              const QByteArray &payload = QByteArray(), int waitMs = 10000);
// Reads from a connected socket until the peer closes or the wait ends.
Reply readUntilClosed(QTcpSocket &socket, int waitMs = 10000);

// The payload of an AddContact request, or of an EditContact one when an id is given.
QByteArray contact(const QString &name, const QString &firstName, quint64 withId = 0);

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

// Starts f on a thread of its own and hands the thread over.
inline std::unique_ptr<QThread> startThread(std::function<void()> f)
{
    std::unique_ptr<QThread> thread(QThread::create(std::move(f)));
    thread->start();
    return thread;
}

inline bool allFinished(const std::vector<std::unique_ptr<QThread>> &threads)
{
    return std::all_of(threads.begin(), threads.end(), [](auto &t) { return t->isFinished(); });
}

// What a database file holds, read on a connection of its own.
struct DatabaseView
{
    QString integrity; // what PRAGMA integrity_check says: "ok" for a sound file
    QStringList names; // "name firstName" of every row, in the order of the ids
};
DatabaseView viewFile(const QString &path);
// The same for the bytes of a file, as a transfer delivers them.
DatabaseView viewBytes(const QByteArray &bytes);
QByteArray fileBytes(const QString &path);
// Writes a new contacts database of about that many bytes, one 4 KiB page per contact.
bool fillDatabase(const QString &path, qint64 bytes);
// A port that nothing listens on just now.
quint16 freePort();

} // namespace TestClient
