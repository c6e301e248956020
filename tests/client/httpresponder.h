#pragma once

// A tiny HTTP server on 127.0.0.1 for the update check: it answers every request with one
// status and body, or, when silent, reads the request and never answers.

#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

class HttpResponder : public QObject
{
public:
    QByteArray status = "200 OK";
    QByteArray body;
    bool silent = false;
    QStringList requests; // request lines as received, e.g. "GET /path HTTP/1.1"

    HttpResponder()
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
            }
        });
    }

    QUrl url(const QString &path = QStringLiteral("/products/pelicard/update/")) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
    }

    // An address where nobody listens: this responder's, once it has stopped listening.
    QUrl refusingUrl()
    {
        const QUrl address = url();
        m_server.close();
        return address;
    }

private:
    void read(QTcpSocket *socket)
    {
        // Left unread until the whole head has come.
        const QByteArray head = socket->peek(socket->bytesAvailable());
        if (!head.contains("\r\n\r\n"))
            return;
        socket->readAll();
        requests << QString::fromLatin1(head.left(head.indexOf("\r\n")));
        if (silent)
            return;
        socket->write("HTTP/1.1 " + status + "\r\nContent-Type: text/plain\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
};
