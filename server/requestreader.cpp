#include "requestreader.h"

#include <QDataStream>
#include <QIODevice>
#include <QtEndian>
#include <utility>

namespace {
constexpr int LengthFieldBytes = 4;
constexpr quint32 NullText = 0xFFFFFFFF;

// The longest password field a stored digest can give: 20 digest bytes, each at most one UTF-16
// unit of two bytes once read back as text. A longer one cannot match any password.
constexpr qint64 MaxPasswordBytes = 2 * 20;

// Takes as long for any wrong password as for any other, whatever its length, up to the longest.
bool sameBytes(const QByteArray &a, const QByteArray &b)
{
    char difference = char(a.size() != b.size());
    for (qsizetype i = 0; i < MaxPasswordBytes; ++i)
        difference |= char((i < a.size() ? a[i] : 0) ^ (i < b.size() ? b[i] : 0));
    return difference == 0;
}
} // namespace

RequestReader::RequestReader(const std::optional<QString> &password, qint64 maxSize)
    : m_password(password.value_or(QString())), m_refuseAll(!password), m_maxSize(maxSize)
{
    m_expected.resize(m_password.size() * 2);
    // Not utf16(): on a null text it makes the caller's text an empty one.
    qToBigEndian<char16_t>(reinterpret_cast<const char16_t *>(m_password.constData()),
                           m_password.size(), m_expected.data());
}

bool RequestReader::take(QIODevice *device, qint64 count)
{
    const qint64 missing = count - m_buffer.size();
    if (missing > 0)
        m_buffer.append(device->read(missing));
    return m_buffer.size() == count;
}

RequestReader::Status RequestReader::read(QIODevice *device, Protocol::Message *message)
{
    if (m_refused != NeedMore)
        return m_refused;
    const Status status = readOn(device, message);
    if (status != NeedMore && status != Complete)
        m_refused = status;
    return status;
}

RequestReader::Status RequestReader::readOn(QIODevice *device, Protocol::Message *message)
{
    for (;;) {
        switch (m_stage) {
        case Stage::Size:
            if (!take(device, Protocol::SizeFieldBytes))
                return NeedMore;
            m_size = qFromBigEndian<qint64>(m_buffer.constData());
            m_buffer.clear();
            if (m_size < 0 || m_size > m_maxSize)
                return SizeRefused;
            if (m_size < LengthFieldBytes)
                return Malformed;
            m_stage = Stage::PasswordLength;
            break;
        case Stage::PasswordLength: {
            if (!take(device, LengthFieldBytes))
                return NeedMore;
            const quint32 length = qFromBigEndian<quint32>(m_buffer.constData());
            m_buffer.clear();
            m_nullPassword = length == NullText;
            m_passwordBytes = m_nullPassword ? 0 : qint64(length);
            if (m_passwordBytes % 2 != 0 || m_passwordBytes > m_size - LengthFieldBytes)
                return Malformed;
            // Any length that could be right is read whole before it is judged, so that the
            // time of a refusal does not tell the password's length.
            if (m_passwordBytes > MaxPasswordBytes)
                return WrongPassword;
            m_stage = Stage::PasswordText;
            break;
        }
        case Stage::PasswordText:
            if (!take(device, m_passwordBytes))
                return NeedMore;
            if (!sameBytes(m_buffer, m_expected) || m_refuseAll)
                return WrongPassword;
            m_buffer.clear();
            m_stage = Stage::Rest;
            // The password is proved: the rest of the message may be held whole now.
            m_buffer.reserve(m_size - LengthFieldBytes - m_passwordBytes);
            break;
        case Stage::Rest: {
            if (!take(device, m_size - LengthFieldBytes - m_passwordBytes))
                return NeedMore;
            const QByteArray rest = std::exchange(m_buffer, QByteArray());
            QDataStream in(rest);
            in.setVersion(Protocol::StreamVersion);
            Protocol::Message m;
            in >> m.type >> m.payload; // bytes after the payload are not looked at
            if (in.status() != QDataStream::Ok)
                return Malformed;
            if (!m_nullPassword)
                m.password = m_password.isNull() ? QStringLiteral("") : m_password;
            *message = std::move(m);
            return Complete;
        }
        }
    }
}
