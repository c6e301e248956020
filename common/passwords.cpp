#include "passwords.h"

#include "eightbitcodec.h"
#include "texts.h"

#include <QCryptographicHash>

namespace Passwords {

namespace {
QByteArray cutAtZero(const QByteArray &bytes)
{
    const qsizetype zero = bytes.indexOf('\0');
    return zero < 0 ? bytes : bytes.left(zero);
}
} // namespace

QTextCodec *eightBitCodec()
{
    return EightBitCodec::codec();
}

QByteArray toEightBit(const QString &text)
{
    return cutAtZero(EightBitCodec::encode(text));
}

QString fromEightBit(const QByteArray &bytes)
{
    return nonNullText(EightBitCodec::decode(cutAtZero(bytes)));
}

QByteArray md5Digest(const QString &clear)
{
    return QCryptographicHash::hash(toEightBit(clear), QCryptographicHash::Md5);
}

QByteArray sha1Digest(const QString &clear)
{
    return QCryptographicHash::hash(toEightBit(clear), QCryptographicHash::Sha1);
}

QString fieldText(const QVariant &storedDigest)
{
    if (!storedDigest.isValid() || storedDigest.isNull())
        return QString();
    return fromEightBit(storedDigest.toByteArray());
}

QString wrongPasswordText()
{
    return QStringLiteral("密码错误!");
}

} // namespace Passwords
