// Everything that parses bytes from the network: the message reader, in memory, fed in pieces
// through a device and with a payload streamed to a sink, and every payload decoder. Besides crashes and sanitizer reports
// it traps when two ways of reading the same bytes disagree or a decoded value does not
// survive being encoded again.
#include "framereader.h"

#include <QBuffer>
#include <cstdint>
#include <cstdlib>

using namespace Protocol;

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

bool textsNonNull(const Contact &c)
{
    bool ok = !c.name.isNull() && !c.firstName.isNull() && !c.work.isNull() && !c.home.isNull() &&
              !c.mobile.isNull() && !c.address.isNull() && !c.zip.isNull() && !c.town.isNull() &&
              !c.email.isNull() && !c.web.isNull() && !c.notes.isNull();
    for (int k = 0; k < Contact::CustomSlots; ++k)
        ok = ok && !c.customLabel[k].isNull() && !c.customValue[k].isNull();
    return ok;
}

void decodePayloads(const QByteArray &payload)
{
    // Both contact decoders parse the same 24 values, and a bogus text length costs Qt a
    // large allocation, which is slow under the sanitizers: one decoder per input is enough.
    if (payload.size() % 2 == 0) {
        const Contact contact = decodeContact(payload);
        check(textsNonNull(contact) && contact.id == -1);
        check(decodeContact(encodeContact(contact)) == contact);
    } else {
        const Contact withId = decodeContactWithId(payload);
        check(textsNonNull(withId));
        check(decodeContactWithId(encodeContactWithId(withId, quint64(withId.id))) == withId);
    }

    const auto [name, firstName] = decodeDelete(payload);
    check(!name.isNull() && !firstName.isNull());
    check(decodeDelete(encodeDelete(name, firstName)) == std::make_pair(name, firstName));

    bool ok = false;
    const quint64 revision = parseRevision(payload, &ok);
    check(ok || revision == 0);
    if (ok)
        check(parseRevision(revisionText(revision)) == revision);

    check(!payloadText(payload).isNull());
}

// The same bytes arriving a few at a time; piece sizes come from the bytes themselves.
FrameReader::Status readInPieces(const QByteArray &bytes, Message *message)
{
    QBuffer device;
    device.open(QIODevice::ReadOnly);
    FrameReader reader;
    FrameReader::Status status = FrameReader::NeedMore;
    qsizetype at = 0;
    while (status == FrameReader::NeedMore && at < bytes.size()) {
        const qsizetype piece = 1 + quint8(bytes.at(at)) % 13;
        device.buffer().append(bytes.mid(at, piece));
        at += piece;
        status = reader.read(&device, message);
    }
    return status;
}

// The same bytes with a transfer's payload handed to a sink instead of being held.
FrameReader::Status readStreamed(const QByteArray &bytes, Message *message, QByteArray *sunk)
{
    QBuffer device;
    device.setData(bytes);
    device.open(QIODevice::ReadOnly);
    QBuffer sink(sunk);
    sink.open(QIODevice::WriteOnly);
    FrameReader reader;
    reader.streamPayload(qint16(RequestType::DatabaseTransfer), &sink, MaxRequestSize);
    const FrameReader::Status status = reader.read(&device, message);
    return status == FrameReader::NeedMore ? FrameReader::Malformed : status;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));

    Message whole;
    const FrameReader::Status status = decodeMessage(bytes, &whole);
    if (status == FrameReader::SizeRefused) { // perhaps a reply, which may be larger
        Message reply;
        decodeMessage(bytes, &reply, MaxReplySize);
    }

    Message pieces;
    const FrameReader::Status piecesStatus = readInPieces(bytes, &pieces);
    check(piecesStatus == status ||
          (status == FrameReader::Malformed && piecesStatus == FrameReader::NeedMore));

    Message streamed;
    QByteArray sunk;
    check(readStreamed(bytes, &streamed, &sunk) == status);

    if (status == FrameReader::Complete) {
        check(pieces.password == whole.password && pieces.type == whole.type &&
              pieces.payload == whole.payload);
        check(streamed.password == whole.password && streamed.type == whole.type);
        check(whole.is(RequestType::DatabaseTransfer)
                  ? streamed.payload.isNull() && sunk == whole.payload
                  : streamed.payload == whole.payload && sunk.isEmpty());
        Message again;
        check(decodeMessage(encodeMessage(whole.password, whole.type, whole.payload), &again) ==
              FrameReader::Complete);
        check(again.password == whole.password && again.type == whole.type &&
              again.payload == whole.payload);
    }
    // The decoders see the raw input: payloads need no message around them to be reached.
    decodePayloads(bytes);
    return 0;
}
