#include "eightbitcodec.h"

#include <QTextCodec>

namespace EightBitCodec {

namespace {
// Most texts are ASCII, which GB18030 keeps as it is; those skip the converter.
bool isAscii(QStringView text)
{
    for (QChar c : text)
        if (c.unicode() >= 0x80)
            return false;
    return true;
}

bool isAscii(QByteArrayView bytes)
{
    for (char b : bytes)
        if (uchar(b) >= 0x80)
            return false;
    return true;
}
} // namespace

QTextCodec *codec()
{
    static QTextCodec *const gb18030 = QTextCodec::codecForName("GB18030");
    Q_ASSERT(gb18030);
    return gb18030;
}

QByteArray encode(QStringView text)
{
    if (isAscii(text))
        return text.toLatin1();
    return codec()->fromUnicode(text);
}

QString decode(QByteArrayView bytes)
{
    if (isAscii(bytes))
        return QString::fromLatin1(bytes);
    return codec()->toUnicode(bytes.data(), int(bytes.size()));
}

} // namespace EightBitCodec
