#include "serverlink.h"

#include "databasefile.h"
#include "framereader.h"
#include "logging.h"
#include "timeouts.h"

#include <QFileInfo>
#include <QStorageInfo>
#include <QTcpSocket>

namespace {
// The socket holds no more than this of what the server sends before it is read on.
constexpr qint64 ReadBufferBytes = qint64(256) * 1024;
qint64 g_freeSpaceForTesting = -1;

Protocol::RequestType requestOf(ServerLink::Exchange exchange)
{
    using E = ServerLink::Exchange;
    using R = Protocol::RequestType;
    switch (exchange) {
    case E::None:
    case E::Hello:
        return R::Hello;
    case E::Goodbye:
        return R::Goodbye;
    case E::RevisionQuery:
        return R::RevisionQuery;
    case E::AddContact:
        return R::AddContact;
    case E::EditContact:
        return R::EditContact;
    case E::DeleteContact:
        return R::DeleteContact;
    case E::DatabaseTransfer:
        return R::DatabaseTransfer;
    }
    return R::Hello;
}
} // namespace

ServerLink::ServerLink(const QString &host, quint16 port, const QString &password, QObject *parent)
    : QObject(parent), m_host(host), m_port(port), m_password(password)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &ServerLink::onTimeout);
}

ServerLink::~ServerLink()
{
    if (m_socket) {
        disconnect(m_socket, nullptr, this, nullptr);
        m_socket->abort();
    }
}

bool ServerLink::sendHello()
{
    return start(Exchange::Hello, Protocol::pingPayload());
}

bool ServerLink::sendGoodbye()
{
    return start(Exchange::Goodbye, Protocol::pingPayload());
}

bool ServerLink::queryRevision(quint64 localRevision)
{
    return start(Exchange::RevisionQuery, Protocol::revisionText(localRevision));
}

bool ServerLink::addContact(const Contact &contact)
{
    return start(Exchange::AddContact, Protocol::encodeContact(contact));
}

bool ServerLink::editContact(const Contact &contact)
{
    if (contact.id < 0) {
        m_error = tr("联系人没有编号");
        return false;
    }
    return start(Exchange::EditContact,
                 Protocol::encodeContactWithId(contact, quint64(contact.id)));
}

bool ServerLink::deleteContact(const QString &name, const QString &firstName)
{
    return start(Exchange::DeleteContact, Protocol::encodeDelete(name, firstName));
}

bool ServerLink::transferDatabase(const QString &targetPath)
{
    if (!start(Exchange::DatabaseTransfer, QByteArray()))
        return false;
    auto replacement = std::make_unique<DatabaseReplacement>(targetPath);
    if (!replacement->open()) {
        end(Outcome::FileError, replacement->errorString());
        return true;
    }
    // Measured with the temporary file in place: the size announced must fit beside it.
    m_freeBytes = g_freeSpaceForTesting >= 0
                      ? g_freeSpaceForTesting
                      : QStorageInfo(QFileInfo(targetPath).absolutePath()).bytesAvailable();
    if (m_freeBytes < 0) {
        end(Outcome::FileError, tr("无法得知磁盘剩余空间"));
        return true;
    }
    m_reader->streamPayload(qint16(Protocol::RequestType::DatabaseTransfer), replacement->device(),
                            qMin(m_freeBytes, Protocol::MaxReplySize));
    m_replacement = std::move(replacement);
    return true;
}

void ServerLink::setFreeSpaceForTesting(qint64 bytes)
{
    g_freeSpaceForTesting = bytes;
}

std::unique_ptr<DatabaseReplacement> ServerLink::takeReplacement()
{
    return std::move(m_replacement);
}

bool ServerLink::start(Exchange exchange, const QByteArray &payload)
{
    if (isRunning()) {
        m_error = tr("另一个请求尚未结束");
        return false;
    }
    m_error.clear();
    m_exchange = exchange;
    m_ending = false;
    m_result = Result();
    m_result.exchange = exchange;
    m_replacement.reset();
    m_freeBytes = -1;
    m_progress = -1;
    m_request = Protocol::encodeMessage(m_password, requestOf(exchange), payload);
    m_reader = std::make_unique<Protocol::FrameReader>(Protocol::MaxHeldReplySize);

    m_socket = new QTcpSocket(this);
    m_socket->setReadBufferSize(ReadBufferBytes);
    connect(m_socket, &QTcpSocket::connected, this, &ServerLink::onConnected);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &ServerLink::onBytesWritten);
    connect(m_socket, &QTcpSocket::readyRead, this, &ServerLink::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &ServerLink::onClosed);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &ServerLink::onClosed);
    enter(Step::Connect, Timeouts::connectMs());
    // Connecting starts from the event loop, so that even a failure at once comes after the
    // caller has returned and readied itself for finished().
    QMetaObject::invokeMethod(
        this,
        [this, socket = m_socket] {
            if (m_socket == socket && !m_ending)
                socket->connectToHost(m_host, m_port);
        },
        Qt::QueuedConnection);
    return true;
}

void ServerLink::enter(Step step, int waitMs)
{
    m_step = step;
    m_timer.start(waitMs);
}

void ServerLink::onConnected()
{
    if (m_ending)
        return;
    emit connected();
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    const bool brief = m_exchange == Exchange::Hello || m_exchange == Exchange::Goodbye;
    enter(Step::Write, brief ? Timeouts::shortStepMs() : Timeouts::stepMs());
    if (m_socket->write(m_request) != m_request.size())
        end(Outcome::ClosedWithoutReply, m_socket->errorString());
}

void ServerLink::onBytesWritten()
{
    if (m_ending || m_step != Step::Write || m_socket->bytesToWrite() > 0)
        return;
    if (m_exchange == Exchange::Goodbye) {
        end(Outcome::Ok);
        return;
    }
    const bool brief = m_exchange == Exchange::Hello;
    enter(Step::Reply, brief ? Timeouts::shortStepMs() : Timeouts::stepMs());
    readReply();
}

void ServerLink::onReadyRead()
{
    // Bytes that come before the request is out wait for it.
    if (!m_ending && (m_step == Step::Reply || m_step == Step::ReplyRest))
        readReply();
}

void ServerLink::readReply()
{
    if (m_socket->bytesAvailable() == 0)
        return;
    const Protocol::FrameReader::Status status = m_reader->read(m_socket, &m_result.reply);
    // Every wait inside a reply counts from the last bytes that came.
    enter(Step::ReplyRest, Timeouts::stepMs());
    if (m_reader->streaming() && m_reader->payloadSize() >= 0 &&
        m_reader->payloadReceived() != m_progress) {
        m_progress = m_reader->payloadReceived();
        emit transferProgress(m_progress, m_reader->payloadSize());
    }
    switch (status) {
    case Protocol::FrameReader::NeedMore:
        return;
    case Protocol::FrameReader::Complete:
        judgeReply();
        return;
    case Protocol::FrameReader::SizeRefused:
        // Within what the protocol allows a transfer, only the disk was too small.
        if (m_reader->streaming() && m_reader->declaredSize() <= Protocol::MaxReplySize)
            end(Outcome::NoDiskSpace, tr("数据库大小 %1 字节, 磁盘剩余空间 %2 字节")
                                          .arg(m_reader->declaredSize())
                                          .arg(m_freeBytes));
        else
            end(Outcome::ReplyTooLarge, tr("回复大小 %1 字节").arg(m_reader->declaredSize()));
        return;
    case Protocol::FrameReader::Malformed:
        end(Outcome::MalformedReply);
        return;
    case Protocol::FrameReader::SinkFailed:
        end(Outcome::FileError, m_reader->errorString());
        return;
    }
}

void ServerLink::judgeReply()
{
    const Protocol::Message &reply = m_result.reply;
    if (reply.is(Protocol::RequestType::WrongPassword)) {
        m_result.refusalText = Protocol::payloadText(reply.payload);
        end(Outcome::Refused);
        return;
    }
    if (!reply.is(requestOf(m_exchange))) {
        end(Outcome::UnexpectedType, tr("回复类型 %1").arg(reply.type));
        return;
    }
    if (m_exchange == Exchange::RevisionQuery) {
        bool ok = false;
        m_result.revision = Protocol::parseRevision(reply.payload, &ok);
        if (!ok) {
            end(Outcome::MalformedReply, tr("版本号无效"));
            return;
        }
    }
    if (m_exchange == Exchange::DatabaseTransfer) {
        if (m_reader->payloadSize() == 0) {
            end(Outcome::EmptyDatabase);
            return;
        }
        if (!m_replacement->finishWriting()) {
            end(Outcome::FileError, m_replacement->errorString());
            return;
        }
        if (!m_replacement->check()) {
            end(Outcome::NotADatabase, m_replacement->errorString());
            return;
        }
    }
    end(Outcome::Ok);
}

void ServerLink::onClosed()
{
    if (m_ending)
        return;
    const QString error = m_socket->errorString();
    if (m_step == Step::Connect) {
        end(Outcome::CannotConnect, error);
        return;
    }
    // What came before the close is read first: it may be the whole reply.
    if (m_step == Step::Reply || m_step == Step::ReplyRest) {
        readReply();
        if (m_ending)
            return;
    }
    end(m_reader->started() ? Outcome::ReplyCutOff : Outcome::ClosedWithoutReply, error);
}

void ServerLink::onTimeout()
{
    if (m_ending) { // the connection did not close in time after the exchange
        disconnect(m_socket, nullptr, this, nullptr);
        m_socket->abort();
        report();
        return;
    }
    if (m_step == Step::Connect)
        end(Outcome::CannotConnect, tr("连接超时"));
    else
        end(Outcome::TimedOut);
}

void ServerLink::end(Outcome outcome, const QString &error)
{
    m_ending = true;
    m_timer.stop();
    m_result.outcome = outcome;
    m_result.step = m_step;
    m_result.errorString = error;
    m_result.payloadSize = m_reader->payloadSize();
    if (outcome != Outcome::Ok)
        m_replacement.reset(); // the temporary file goes with it
    qCDebug(lcNet) << "exchange" << m_exchange << "ended:" << outcome << m_step << error;
    if (!m_socket) {
        report();
        return;
    }
    disconnect(m_socket, nullptr, this, nullptr);
    // After a whole reply the connection is closed as usual; after a failure it is dropped.
    const bool whole =
        outcome == Outcome::Ok || outcome == Outcome::Refused || outcome == Outcome::UnexpectedType;
    if (whole && m_socket->state() == QAbstractSocket::ConnectedState) {
        m_socket->disconnectFromHost();
        if (m_socket->state() != QAbstractSocket::UnconnectedState) {
            connect(m_socket, &QTcpSocket::disconnected, this, &ServerLink::report);
            m_timer.start(Timeouts::stepMs());
            return;
        }
    } else {
        m_socket->abort();
    }
    report();
}

void ServerLink::report()
{
    m_timer.stop();
    if (m_socket) {
        disconnect(m_socket, nullptr, this, nullptr);
        m_socket->deleteLater();
        m_socket = nullptr;
    }
    m_reader.reset();
    // Always from the event loop: the starter returns before it learns the end.
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_exchange = Exchange::None;
            emit finished(m_result);
        },
        Qt::QueuedConnection);
}
