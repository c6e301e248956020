#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

class QTextCodec;

// The rules that turn a typed password into what is stored and what travels. No clear
// password is kept anywhere.
namespace Passwords {

// EightBitCodec's, kept here for the callers that reach it through the passwords.
QTextCodec *eightBitCodec();
// The 8-bit bytes of a text, cut at the first zero byte.
QByteArray toEightBit(const QString &text);
// The bytes up to the first zero byte, decoded with the 8-bit codec.
QString fromEightBit(const QByteArray &bytes);

QByteArray md5Digest(const QString &clear);  // account password ("pass")
QByteArray sha1Digest(const QString &clear); // server password ("serverPass", server "password")

// The password field of a message: the stored digest read back as text. A missing setting
// (invalid variant) gives a null text.
QString fieldText(const QVariant &storedDigest);

// The fixed text of a WrongPassword reply.
QString wrongPasswordText();

} // namespace Passwords
