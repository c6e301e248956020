#include "protocol.h"

#include "texts.h"

#include "passwords.h"

#include <QDataStream>
#include <QIODevice>

namespace Protocol {

namespace {
void prepare(QDataStream &stream)
{
    stream.setVersion(StreamVersion);
}
} // namespace

QByteArray encodeMessage(const QString &password, qint16 type, const QByteArray &payload)
{
    QByteArray block;
    QDataStream out(&block, QIODevice::WriteOnly);
    prepare(out);
    out << qint64(0) << password << type << payload;
    out.device()->seek(0);
    out << qint64(block.size() - SizeFieldBytes);
    return block;
}

QByteArray pingPayload()
{
    return QByteArrayLiteral("ping");
}
QByteArray pongPayload()
{
    return QByteArrayLiteral("pong");
}

QByteArray wrongPasswordPayload()
{
    return Passwords::toEightBit(Passwords::wrongPasswordText());
}

QString payloadText(const QByteArray &payload)
{
    return Passwords::fromEightBit(payload);
}

QByteArray encodeContact(const Contact &contact)
{
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    prepare(out);
    out << contact;
    return payload;
}

QByteArray encodeContactWithId(const Contact &contact, quint64 id)
{
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    prepare(out);
    out << contact << id;
    return payload;
}

Contact decodeContact(const QByteArray &payload)
{
    QDataStream in(payload);
    prepare(in);
    Contact contact;
    in >> contact;
    return contact;
}

Contact decodeContactWithId(const QByteArray &payload)
{
    QDataStream in(payload);
    prepare(in);
    Contact contact;
    quint64 id = 0;
    in >> contact >> id;
    contact.id = qint64(id);
    return contact;
}

QByteArray encodeDelete(const QString &name, const QString &firstName)
{
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    prepare(out);
    out << nonNullText(name) << nonNullText(firstName);
    return payload;
}

std::pair<QString, QString> decodeDelete(const QByteArray &payload)
{
    QDataStream in(payload);
    prepare(in);
    QString name, firstName;
    in >> name >> firstName;
    return {nonNullText(name), nonNullText(firstName)};
}

QByteArray revisionText(quint64 revision)
{
    return QByteArray::number(revision);
}

quint64 parseRevision(const QByteArray &text, bool *ok)
{
    return Passwords::fromEightBit(text).toULongLong(ok, 10);
}

} // namespace Protocol
