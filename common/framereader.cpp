#include "framereader.h"

#include <QBuffer>
#include <QIODevice>
#include <QtEndian>
#include <utility>

namespace Protocol {

namespace {
constexpr int CountBytes = 4;
constexpr int TypeBytes = 2;
constexpr quint32 NullCount = 0xFFFFFFFF;
// What a streamed payload is read in; the device may hold much more.
constexpr qint64 StreamChunkBytes = qint64(256) * 1024;
} // namespace

void FrameReader::streamPayload(qint16 type, QIODevice *sink, qint64 maxStreamSize)
{
    m_streamType = type;
    m_sink = sink;
    m_maxStreamSize = maxStreamSize;
}

bool FrameReader::take(QIODevice *device, qint64 count)
{
    // No more than the device holds: read() sets aside all it is asked for first.
    const qint64 missing = qMin(count - m_buffer.size(), device->bytesAvailable());
    if (missing > 0) {
        const QByteArray bytes = device->read(missing);
        m_started = m_started || !bytes.isEmpty();
        m_buffer.append(bytes);
    }
    return m_buffer.size() == count;
}

FrameReader::Status FrameReader::read(QIODevice *device, Message *message)
{
    if (m_status == NeedMore) {
        m_status = readOn(device);
        if (m_status == Complete)
            *message = std::exchange(m_message, Message());
    }
    return m_status;
}

FrameReader::Status FrameReader::readCount(QIODevice *device, qint64 *count, bool *isNull)
{
    // Decided before the bytes come: a count that cannot fit needs no waiting for.
    if (m_left < CountBytes)
        return Malformed;
    if (!take(device, CountBytes))
        return NeedMore;
    const quint32 raw = qFromBigEndian<quint32>(m_buffer.constData());
    m_buffer.clear();
    m_left -= CountBytes;
    *isNull = raw == NullCount;
    *count = *isNull ? 0 : qint64(raw);
    return *count > m_left ? Malformed : Complete;
}

FrameReader::Status FrameReader::readOn(QIODevice *device)
{
    for (;;) {
        switch (m_stage) {
        case Stage::Size: {
            if (!take(device, SizeFieldBytes))
                return NeedMore;
            m_size = qFromBigEndian<qint64>(m_buffer.constData());
            m_buffer.clear();
            const qint64 limit = m_sink ? qMax(m_maxSize, m_maxStreamSize) : m_maxSize;
            if (m_size < 0 || m_size > limit)
                return SizeRefused;
            m_left = m_size;
            m_stage = Stage::PasswordCount;
            break;
        }
        case Stage::PasswordCount: {
            bool isNull = false;
            const Status status = readCount(device, &m_count, &isNull);
            if (status != Complete)
                return status;
            if (m_count % 2 != 0)
                return Malformed;
            if (m_count > m_maxSize)
                return SizeRefused;
            m_message.password = isNull ? QString() : QStringLiteral("");
            m_stage = Stage::Password;
            break;
        }
        case Stage::Password: {
            if (!take(device, m_count))
                return NeedMore;
            const qsizetype units = m_count / 2;
            if (units > 0) {
                QString text(units, Qt::Uninitialized);
                qFromBigEndian<char16_t>(m_buffer.constData(), units, text.data());
                m_message.password = text;
            }
            m_buffer.clear();
            m_left -= m_count;
            m_stage = Stage::Type;
            break;
        }
        case Stage::Type:
            if (m_left < TypeBytes)
                return Malformed;
            if (!take(device, TypeBytes))
                return NeedMore;
            m_message.type = qFromBigEndian<qint16>(m_buffer.constData());
            m_buffer.clear();
            m_left -= TypeBytes;
            m_streaming = m_sink && m_message.type == m_streamType;
            // Each kind of message within its own bound, before a payload byte is taken.
            if (m_size > (m_streaming ? m_maxStreamSize : m_maxSize))
                return SizeRefused;
            m_stage = Stage::PayloadCount;
            break;
        case Stage::PayloadCount: {
            const Status status = readCount(device, &m_count, &m_nullPayload);
            if (status != Complete)
                return status;
            m_payloadSize = m_count;
            m_stage = Stage::Payload;
            break;
        }
        case Stage::Payload:
            if (m_streaming) {
                const Status status = streamOn(device);
                if (status != Complete)
                    return status;
            } else {
                if (!take(device, m_count))
                    return NeedMore;
                m_payloadReceived = m_count;
                // Null or empty, as a data stream reads them.
                m_message.payload = m_nullPayload ? QByteArray()
                                    : m_count > 0 ? std::exchange(m_buffer, QByteArray())
                                                  : QByteArrayLiteral("");
            }
            m_left -= m_count;
            m_stage = Stage::Rest;
            break;
        case Stage::Rest:
            while (m_left > 0) {
                const qint64 skipped = device->skip(qMin(m_left, device->bytesAvailable()));
                if (skipped <= 0)
                    return NeedMore;
                m_left -= skipped;
            }
            return Complete;
        }
    }
}

FrameReader::Status FrameReader::streamOn(QIODevice *device)
{
    while (m_payloadReceived < m_count) {
        const qint64 wanted =
            qMin(qMin(m_count - m_payloadReceived, device->bytesAvailable()), StreamChunkBytes);
        const QByteArray chunk = wanted > 0 ? device->read(wanted) : QByteArray();
        if (chunk.isEmpty())
            return NeedMore;
        if (m_sink->write(chunk) != chunk.size()) {
            m_error = m_sink->errorString();
            return SinkFailed;
        }
        m_payloadReceived += chunk.size();
    }
    return Complete;
}

FrameReader::Status decodeMessage(const QByteArray &bytes, Message *message, qint64 maxSize)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    FrameReader reader(maxSize);
    const FrameReader::Status status = reader.read(&buffer, message);
    return status == FrameReader::NeedMore ? FrameReader::Malformed : status;
}

} // namespace Protocol
