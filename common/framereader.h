#pragma once

#include "protocol.h"

#include <QByteArray>
#include <QString>

class QIODevice;

namespace Protocol {

// Reads one message from a device as its bytes arrive, field by field. It holds no more of a
// message than maxSize bytes: a size field, password or payload over that bound is refused
// before it is allocated, and a field reaching beyond the size field is malformed before its
// bytes are awaited. Bytes after the payload, within the size field, are skipped unread.
//
// The payload of one chosen type may instead go to a sink as it arrives (streamPayload()), so
// that a whole database never sits in memory; payloadReceived() and payloadSize() tell the
// progress. A status other than NeedMore is final.
class FrameReader
{
public:
    enum Status {
        NeedMore,    // the device holds no more of the message yet
        Complete,    // *message holds it; a streamed payload is in the sink and not in it
        SizeRefused, // the size field, the password or a held payload is over its bound
        Malformed,   // a field does not fit within the size field, or is no valid field
        SinkFailed,  // the sink took fewer bytes than it was given: errorString()
    };

    explicit FrameReader(qint64 maxSize = MaxRequestSize) : m_maxSize(maxSize) {}

    // A message of this type may announce up to maxStreamSize bytes, and its payload is written
    // to sink (which must stay open until the reader is done) instead of being held.
    void streamPayload(qint16 type, QIODevice *sink, qint64 maxStreamSize);

    Status read(QIODevice *device, Message *message);

    // A byte of the message has been taken from the device.
    bool started() const { return m_started; }
    // The size field once it has been read, -1 before.
    qint64 declaredSize() const { return m_size; }
    // The payload's announced length once it has been read, -1 before.
    qint64 payloadSize() const { return m_payloadSize; }
    qint64 payloadReceived() const { return m_payloadReceived; }
    // The payload goes (or went) to the sink.
    bool streaming() const { return m_streaming; }
    QString errorString() const { return m_error; }

private:
    enum class Stage { Size, PasswordCount, Password, Type, PayloadCount, Payload, Rest };
    Status readOn(QIODevice *device);
    // Adds the device's bytes to the buffer until it holds count; true once it does.
    bool take(QIODevice *device, qint64 count);
    // Reads a 32-bit count of bytes that must fit in what the size field leaves.
    Status readCount(QIODevice *device, qint64 *count, bool *isNull);
    Status streamOn(QIODevice *device);

    qint64 m_maxSize;
    qint16 m_streamType = -1;
    QIODevice *m_sink = nullptr;
    qint64 m_maxStreamSize = 0;

    Stage m_stage = Stage::Size;
    Status m_status = NeedMore;
    bool m_started = false;
    qint64 m_size = -1;
    qint64 m_left = 0; // bytes of the message not yet taken
    qint64 m_count = 0;
    bool m_nullPayload = false;
    bool m_streaming = false;
    qint64 m_payloadSize = -1;
    qint64 m_payloadReceived = 0;
    QByteArray m_buffer;
    Message m_message;
    QString m_error;
};

// Parses a complete message held in memory (size field included).
FrameReader::Status decodeMessage(const QByteArray &bytes, Message *message,
                                  qint64 maxSize = MaxRequestSize);

} // namespace Protocol
