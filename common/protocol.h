#pragma once

#include "contact.h"

#include <QByteArray>
#include <QString>
#include <utility>

// The message format both programs speak over TCP: one request per connection.
namespace Protocol {

enum class RequestType : qint16 {
    Hello = 0,
    Goodbye = 1,
    RevisionQuery = 2,
    AddContact = 3,
    EditContact = 4,
    DeleteContact = 5,
    DatabaseTransfer = 6,
    WrongPassword = 7,
};

constexpr quint16 DefaultPort = 1639;
constexpr QDataStream::Version StreamVersion = QDataStream::Qt_4_5; // format version 11
constexpr int SizeFieldBytes = 8;

// Upper bounds on a message's size field (the bytes after it). A request carries at most one
// contact, which needs far less than 1 MiB; a reply may carry the whole database, whose
// byte-array count is 32-bit on the wire.
constexpr qint64 MaxRequestSize = qint64(1024) * 1024;
constexpr qint64 MaxReplySize = qint64(0xFFFFFFFE) + 64;
// A reply a client holds in memory: every one but the database transfer, which it streams.
constexpr qint64 MaxHeldReplySize = qint64(1024) * 1024;

struct Message
{
    QString password;
    qint16 type = 0;
    QByteArray payload;

    bool is(RequestType t) const { return type == qint16(t); }
};

// The whole message: size, password, type, payload.
QByteArray encodeMessage(const QString &password, qint16 type, const QByteArray &payload);
inline QByteArray encodeMessage(const QString &password, RequestType type,
                                const QByteArray &payload)
{
    return encodeMessage(password, qint16(type), payload);
}

// Payloads.
QByteArray pingPayload(); // "ping"
QByteArray pongPayload(); // "pong"
QByteArray wrongPasswordPayload();
// A payload shown to the user: bytes up to the first zero byte, 8-bit decoded.
QString payloadText(const QByteArray &payload);

QByteArray encodeContact(const Contact &contact);
QByteArray encodeContactWithId(const Contact &contact, quint64 id);
// A payload that ends early yields empty texts, a count of 0 and an id of 0.
Contact decodeContact(const QByteArray &payload);
Contact decodeContactWithId(const QByteArray &payload);

QByteArray encodeDelete(const QString &name, const QString &firstName);
std::pair<QString, QString> decodeDelete(const QByteArray &payload);

QByteArray revisionText(quint64 revision);
// Unsigned decimal; anything that is not a number reads as 0 with *ok false.
quint64 parseRevision(const QByteArray &text, bool *ok = nullptr);

} // namespace Protocol
