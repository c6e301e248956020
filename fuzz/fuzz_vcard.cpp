// The card reader on any bytes: from memory, and again through a device that cannot seek and
// hands out a few bytes at a time, so lines, folds and characters fall across its reads.
// Besides crashes and sanitizer reports it traps when the two disagree, when a card breaks
// the contact's invariants, or when a card read back from our own export is not one card.
#include "vcard.h"

#include <QBuffer>
#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

bool sane(const Contact &c)
{
    bool ok = !c.name.isNull() && !c.firstName.isNull() && !c.work.isNull() && !c.home.isNull() &&
              !c.mobile.isNull() && !c.address.isNull() && !c.zip.isNull() && !c.town.isNull() &&
              !c.email.isNull() && !c.web.isNull() && !c.notes.isNull();
    for (int k = 0; k < Contact::CustomSlots; ++k)
        ok = ok && !c.customLabel[k].isNull() && !c.customValue[k].isNull();
    return ok && c.customCount >= 0 && c.customCount <= Contact::CustomSlots && c.id == -1;
}

class Trickle : public QIODevice
{
public:
    explicit Trickle(const QByteArray &bytes) : m_bytes(bytes) { open(ReadOnly); }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (m_at >= m_bytes.size())
            return 0;
        const qint64 piece = qMin<qint64>(maxSize, 1 + quint8(m_bytes.at(m_at)) % 13);
        const qint64 n = qMin<qint64>(piece, m_bytes.size() - m_at);
        if (data) // null: Qt skips
            memcpy(data, m_bytes.constData() + m_at, size_t(n));
        m_at += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_bytes;
    qsizetype m_at = 0;
};

struct Outcome
{
    QList<Contact> cards;
    VCardReader::Result end = VCardReader::Finished;
    bool utf8 = false;
};

Outcome readAll(QIODevice *device)
{
    VCardReader reader(device);
    Outcome out;
    Contact c;
    while ((out.end = reader.next(&c)) == VCardReader::Card) {
        check(sane(c));
        out.cards << c;
    }
    check(reader.next(&c) == out.end); // the end stays the end
    check(out.end == VCardReader::Finished || !reader.errorString().isEmpty());
    check(reader.size() < 0 || reader.position() <= reader.size());
    out.utf8 = reader.isUtf8();
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    const Outcome whole = readAll(&buffer);

    Trickle trickle(bytes);
    const Outcome pieces = readAll(&trickle);
    // A sequential device is judged on its start, a seekable one on all its lines.
    if (pieces.utf8 == whole.utf8)
        check(pieces.cards == whole.cards && pieces.end == whole.end);

    for (const Contact &c : whole.cards) {
        QBuffer again;
        again.setData(VCard::card(c));
        again.open(QIODevice::ReadOnly);
        const Outcome back = readAll(&again);
        check(back.cards.size() == 1 && back.end == VCardReader::Finished);
    }
    return 0;
}
