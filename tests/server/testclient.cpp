#include "testclient.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpSocket>

namespace TestClient {

Reply readUntilClosed(QTcpSocket &socket, int waitMs)
{
    Reply reply;
    reply.connected = true;
    QDeadlineTimer deadline(waitMs);
    while (!deadline.hasExpired()) {
        if (socket.state() == QAbstractSocket::UnconnectedState) {
            reply.closedByServer = true;
            break;
        }
        socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        reply.raw += socket.readAll();
    }
    reply.raw += socket.readAll();
    reply.complete = Protocol::decodeMessage(reply.raw, &reply.message, Protocol::MaxReplySize) ==
                     Protocol::MessageReader::Complete;
    return reply;
}

Reply exchange(quint16 port, const QByteArray &request, int waitMs)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(waitMs))
        return Reply();
    socket.write(request);
    while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(waitMs)) {
    }
    return readUntilClosed(socket, waitMs);
}

Reply request(quint16 port, const QString &password, Protocol::RequestType type,
              const QByteArray &payload, int waitMs)
{
    return exchange(port, Protocol::encodeMessage(password, type, payload), waitMs);
}

} // namespace TestClient
