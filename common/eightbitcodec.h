#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

class QTextCodec;

// The one 8-bit codec of both programs: GB18030, byte-identical to GB2312 on every GB2312
// character, and it encodes every other character instead of losing it. Passwords, wire
// texts and exported cards all go through here.
namespace EightBitCodec {

QTextCodec *codec();
QByteArray encode(QStringView text);
// Ill-formed bytes become U+FFFD; nothing is cut.
QString decode(QByteArrayView bytes);

} // namespace EightBitCodec
