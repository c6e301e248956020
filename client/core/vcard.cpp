#include "vcard.h"

#include "eightbitcodec.h"

#include <QCoreApplication>
#include <QIODevice>
#include <QStringList>
#include <array>
#include <cstring>

namespace {

#ifdef Q_OS_WIN
const QLatin1String LineBreak("\r\n");
#else
const QLatin1String LineBreak("\n");
#endif

// Cards are gathered into pieces of about this many characters before they are encoded and
// written, so that neither the codec nor the device is called per card.
constexpr qsizetype FlushChars = 1 << 15;
// The read buffer starts at this size and doubles only while one line fills half of it.
constexpr qsizetype FirstBufferBytes = 1 << 14;
// A sequential device cannot be read twice; this much of its start decides the codec.
constexpr qint64 SequentialSniffBytes = 1 << 16;

QString tr(const char *text)
{
    return QCoreApplication::translate("VCard", text);
}

QString tooLongText()
{
    return tr("文件中有一行超过 %1 字节").arg(VCardReader::MaxLineBytes);
}

struct PairKeys
{
    QString label, value, labelPrefix, valuePrefix;
};

const std::array<PairKeys, Contact::CustomSlots> &pairKeys()
{
    static const std::array<PairKeys, Contact::CustomSlots> keys = [] {
        std::array<PairKeys, Contact::CustomSlots> k;
        for (int i = 0; i < Contact::CustomSlots; ++i) {
            const QString n = QString::number(i + 1);
            k[i] = {QStringLiteral("Label") + n, QStringLiteral("Value") + n,
                    QStringLiteral("Label") + n + u':', QStringLiteral("Value") + n + u':'};
        }
        return k;
    }();
    return keys;
}

void appendLine(QString &out, QLatin1String key, const QString &value)
{
    out += key;
    out += value;
    out += LineBreak;
}

void appendCard(QString &out, const Contact &c)
{
    out += QLatin1String("BEGIN:VCARD");
    out += LineBreak;
    out += QLatin1String("VERSION:3.0");
    out += LineBreak;
    out += QLatin1String("N:") + c.name + u';' + c.firstName + QLatin1String(";;;");
    out += LineBreak;
    out += QLatin1String("FN:") + c.firstName + u' ' + c.name;
    out += LineBreak;
    appendLine(out, QLatin1String("EMAIL;type=INTERNET;type=WORK:"), c.email);
    appendLine(out, QLatin1String("TEL;type=WORK:"), c.work);
    appendLine(out, QLatin1String("TEL;type=CELL:"), c.mobile);
    appendLine(out, QLatin1String("TEL;type=HOME:"), c.home);
    out += QLatin1String("ADR;type=WORK:;;") + c.address + u';' + c.town + QLatin1String(";;") +
           c.zip + u';';
    out += LineBreak;
    appendLine(out, QLatin1String("URL;TYPE=HOME:"), c.web);
    // One line per card: a line break in the notes must not end it.
    QString notes = c.notes;
    notes.replace(QLatin1String("\r\n"), QLatin1String(" "));
    notes.replace(u'\r', u' ').replace(u'\n', u' ');
    appendLine(out, QLatin1String("NOTE:"), notes);
    if (c.customCount != 0) {
        const auto &keys = pairKeys();
        for (int k = 0; k < Contact::CustomSlots; ++k) {
            if (c.customLabel[k].isEmpty())
                continue;
            // A colon would end the key; the last pair's value has always been written without.
            out += keys[k].labelPrefix + QString(c.customLabel[k]).remove(u':');
            out += LineBreak;
            out += keys[k].valuePrefix;
            out += k == Contact::CustomSlots - 1 ? QString(c.customValue[k]).remove(u':')
                                                 : c.customValue[k];
            out += LineBreak;
        }
    }
    out += QLatin1String("END:VCARD");
}

// The value: everything after the first colon, so that a web address keeps its scheme and a
// value with a colon comes back whole; empty when the line has no colon.
QStringView valueOf(QStringView line)
{
    const qsizetype first = line.indexOf(u':');
    return first < 0 ? QStringView() : line.mid(first + 1);
}

// One line of a card into the contact, by its key (the text before the first colon). The
// tests run in this order; the first that applies decides.
void applyLine(const QString &line, Contact *c, int *labels)
{
    const qsizetype colon = line.indexOf(u':');
    const QStringView key = colon < 0 ? QStringView(line) : QStringView(line).left(colon);
    if (key.contains(u"X-"))
        return;
    if (key == u"N") {
        const QStringList pieces =
            QString(line).remove(QLatin1String("N:")).split(u';', Qt::SkipEmptyParts);
        c->name = pieces.value(0);
        c->firstName = pieces.mid(1).join(QString());
        return;
    }
    if (key.contains(u"EMAIL")) {
        c->email = valueOf(line).toString();
        return;
    }
    if (key.contains(u"TEL")) {
        QString *field = key.contains(u"WORK")   ? &c->work
                         : key.contains(u"HOME") ? &c->home
                         : key.contains(u"CELL") ? &c->mobile
                                                 : &c->home;
        *field = valueOf(line).toString();
        return;
    }
    if (key.contains(u"ADR")) {
        const QList<QStringView> pieces = valueOf(line).split(u';');
        const auto piece = [&](int n) { return pieces.value(n - 1).toString(); };
        if (piece(2).isEmpty()) {
            c->address = piece(3);
            c->town = piece(4);
            c->zip = piece(6);
        } else {
            c->address = piece(2);
        }
        return;
    }
    if (key.contains(u"URL")) {
        c->web = valueOf(line).toString();
        return;
    }
    if (key.contains(u"NOTE")) {
        c->notes = QString(line).remove(QLatin1String("NOTE:"));
        return;
    }
    const auto &keys = pairKeys();
    for (int k = 0; k < Contact::CustomSlots; ++k) {
        if (key.contains(keys[k].label)) {
            c->customLabel[k] = QString(line).remove(keys[k].labelPrefix);
            ++*labels;
            return;
        }
        if (key.contains(keys[k].value)) {
            c->customValue[k] = QString(line).remove(keys[k].valuePrefix);
            return;
        }
    }
}

// Checks bytes as UTF-8 (no overlong forms, surrogates or values above U+10FFFF). A sequence
// cut off by the end is allowed; *incomplete gets its length so the caller can carry it over.
bool validUtf8(QByteArrayView bytes, qsizetype *incomplete)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.data());
    const qsizetype n = bytes.size();
    *incomplete = 0;
    qsizetype i = 0;
    while (i < n) {
        const uchar b = p[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        int length = 0;
        uchar low = 0x80, high = 0xBF; // the range of the second byte
        if (b >= 0xC2 && b <= 0xDF) {
            length = 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3;
            low = b == 0xE0 ? 0xA0 : 0x80;
            high = b == 0xED ? 0x9F : 0xBF;
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4;
            low = b == 0xF0 ? 0x90 : 0x80;
            high = b == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        for (int k = 1; k < length; ++k) {
            if (i + k >= n) {
                *incomplete = n - i;
                return true;
            }
            const uchar next = p[i + k];
            if (k == 1 ? (next < low || next > high) : (next < 0x80 || next > 0xBF))
                return false;
        }
        i += length;
    }
    return true;
}

// Folded lines joined: a line break followed by a space or a tab goes with that character.
QByteArray unfolded(QByteArray bytes)
{
    for (const char *fold : {"\r\n ", "\r\n\t", "\n ", "\n\t"})
        bytes.replace(fold, "");
    return bytes;
}

} // namespace

namespace VCard {

QByteArray card(const Contact &contact)
{
    QString text;
    appendCard(text, contact);
    return EightBitCodec::encode(text);
}

} // namespace VCard

VCardWriter::VCardWriter(QIODevice *device, Ending ending) : m_device(device), m_ending(ending)
{
    m_pending.reserve(FlushChars + 4096);
}

VCardWriter::~VCardWriter() = default;

bool VCardWriter::write(const Contact &contact)
{
    if (m_failed || m_finished)
        return false;
    if (m_cards > 0)
        m_pending += LineBreak;
    appendCard(m_pending, contact);
    ++m_cards;
    return m_pending.size() < FlushChars || flush();
}

bool VCardWriter::finish()
{
    if (m_failed)
        return false;
    if (m_ending == LineBreakAfterLast && m_cards > 0 && !m_finished)
        m_pending += LineBreak;
    m_finished = true;
    return flush();
}

bool VCardWriter::flush()
{
    const QByteArray bytes = EightBitCodec::encode(m_pending);
    m_pending.resize(0); // keeps its capacity
    if (bytes.isEmpty())
        return true;
    const qint64 written = m_device->write(bytes);
    if (written == bytes.size())
        return true;
    m_failed = true;
    m_error = written < 0 ? m_device->errorString() : tr("数据没有完整写入");
    if (m_error.isEmpty())
        m_error = tr("数据没有完整写入");
    return false;
}

VCardFileWriter::VCardFileWriter(const QString &path, VCardWriter::Ending ending)
    : m_file(path), m_writer(&m_file, ending)
{
}

bool VCardFileWriter::fail(const QString &error)
{
    m_error = error;
    m_file.cancelWriting();
    return false;
}

bool VCardFileWriter::open()
{
    if (!m_file.open(QIODevice::WriteOnly))
        return fail(m_file.errorString());
    return true;
}

bool VCardFileWriter::write(const Contact &contact)
{
    if (!m_file.isOpen())
        return fail(m_error.isEmpty() ? tr("文件未打开") : m_error);
    return m_writer.write(contact) || fail(m_writer.errorString());
}

bool VCardFileWriter::commit()
{
    if (!m_file.isOpen())
        return fail(m_error.isEmpty() ? tr("文件未打开") : m_error);
    if (!m_writer.finish())
        return fail(m_writer.errorString());
    if (!m_file.commit()) {
        m_error = m_file.errorString();
        return false;
    }
    return true;
}

VCardReader::VCardReader(QIODevice *device) : m_device(device) {}

VCardReader::Result VCardReader::fail(Result result, const QString &error)
{
    m_done = true;
    m_doneResult = result;
    m_error = error;
    return result;
}

bool VCardReader::start()
{
    m_started = true;
    if (!m_device->isReadable()) {
        m_error = tr("文件未打开");
        return false;
    }
    if (!m_device->isSequential())
        m_size = m_device->size() - m_device->pos();
    if (m_device->peek(3) == "\xEF\xBB\xBF") {
        m_utf8 = true;
        m_position = m_device->read(3).size(); // skip() hands some devices a null buffer
        return true;
    }
    if (m_device->isSequential()) {
        qsizetype incomplete = 0;
        m_utf8 = validUtf8(unfolded(m_device->peek(SequentialSniffBytes)), &incomplete);
        return true;
    }
    return scanForUtf8();
}

// Reads the lines once to tell whether they are UTF-8, then goes back. Lines, not bytes: other
// address books fold lines inside a character. A line too long ends the scan; reading again
// stops at it.
bool VCardReader::scanForUtf8()
{
    const qint64 origin = m_device->pos();
    m_utf8 = true;
    QByteArray line;
    LineResult read = Line;
    while (m_utf8 && (read = readRawLine(&line)) == Line) {
        qsizetype incomplete = 0;
        m_utf8 = validUtf8(line, &incomplete) && incomplete == 0;
    }
    m_at = m_end = m_scanned = m_position = 0;
    m_deviceDone = false;
    if (read == ReadFailed)
        return false;
    if (!m_device->seek(origin)) {
        m_error = m_device->errorString();
        return false;
    }
    return true;
}

bool VCardReader::fill()
{
    if (m_at > 0) {
        std::memmove(m_buffer.data(), m_buffer.constData() + m_at, size_t(m_end - m_at));
        m_end -= m_at;
        m_at = 0;
    }
    if (m_buffer.size() - m_end < m_buffer.size() / 2 || m_buffer.isEmpty())
        m_buffer.resize(qMax(2 * m_buffer.size(), FirstBufferBytes));
    const qint64 got = m_device->read(m_buffer.data() + m_end, m_buffer.size() - m_end);
    if (got < 0) {
        m_error = m_device->errorString();
        return false;
    }
    m_end += got;
    m_deviceDone = got == 0;
    return true;
}

// Where the line at m_at ends: the index of its line break, or m_end when the data ends
// without one. -1 when no data remains, -2 when the device fails, -3 when the line is too long
// (m_error says why).
qsizetype VCardReader::physicalLineEnd()
{
    for (;;) {
        const qsizetype from = m_at + m_scanned;
        const void *lineBreak =
            std::memchr(m_buffer.constData() + from, '\n', size_t(m_end - from));
        if (lineBreak)
            return static_cast<const char *>(lineBreak) - m_buffer.constData();
        m_scanned = m_end - m_at;
        if (m_scanned > MaxLineBytes) {
            m_error = tooLongText();
            return -3;
        }
        if (m_deviceDone)
            return m_scanned == 0 ? -1 : m_end;
        if (!fill())
            return -2;
    }
}

VCardReader::LineResult VCardReader::readRawLine(QByteArray *line)
{
    line->resize(0); // keeps its capacity for the next line
    for (bool first = true;; first = false) {
        const qsizetype end = physicalLineEnd();
        if (end < -1)
            return end == -2 ? ReadFailed : TooLong;
        if (end == -1)
            return NoMore; // only on the first piece: a continuation was seen before
        // A continuation line gives up the space or tab that marks it.
        const qsizetype from = first ? m_at : m_at + 1;
        qsizetype to = end;
        if (to > from && m_buffer.at(to - 1) == '\r')
            --to;
        if (line->size() + (to - from) > MaxLineBytes) {
            m_error = tooLongText();
            return TooLong;
        }
        line->append(m_buffer.constData() + from, to - from);
        const qsizetype next = qMin(end + 1, m_end);
        m_position += next - m_at;
        m_at = next;
        m_scanned = 0;
        // Whether the next line continues this one: only data that is there can say.
        if (m_at == m_end && !m_deviceDone && !fill())
            return ReadFailed;
        if (m_at == m_end || (m_buffer.at(m_at) != ' ' && m_buffer.at(m_at) != '\t'))
            return Line;
    }
}

VCardReader::LineResult VCardReader::readLine(QString *line)
{
    const LineResult read = readRawLine(&m_line);
    if (read == Line)
        *line = m_utf8 ? QString::fromUtf8(m_line) : EightBitCodec::decode(m_line);
    return read;
}

VCardReader::Result VCardReader::next(Contact *contact)
{
    if (m_done)
        return m_doneResult;
    if (!m_started && !start())
        return fail(Failed, m_error);
    QString line;
    for (;;) {
        const LineResult read = readLine(&line);
        if (read == NoMore)
            return fail(Finished, QString());
        if (read == ReadFailed || read == TooLong)
            return fail(Failed, m_error);
        if (line == QLatin1String("BEGIN:VCARD"))
            break;
    }
    const LineResult version = readLine(&line);
    if (version == ReadFailed || version == TooLong)
        return fail(Failed, m_error);
    if (version == NoMore || line != QLatin1String("VERSION:3.0"))
        return fail(Stopped, tr("卡片的版本不是 3.0"));
    Contact card;
    int labels = 0;
    while (line != QLatin1String("END:VCARD")) {
        const LineResult read = readLine(&line);
        if (read == NoMore)
            return fail(Stopped, tr("文件在一张卡片的中间结束"));
        if (read == ReadFailed || read == TooLong)
            return fail(Failed, m_error);
        applyLine(line, &card, &labels);
    }
    if (m_cards >= MaxCards)
        return fail(Failed, tr("文件中的卡片超过 %1 张").arg(MaxCards));
    ++m_cards;
    // The form holds no more rows than there are slots.
    card.customCount = qMin(labels, Contact::CustomSlots);
    card.normalise();
    *contact = std::move(card);
    return Card;
}
