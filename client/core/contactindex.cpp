#include "contactindex.h"

#include "contactstore.h"

#include <QFileInfo>
#include <QStringDecoder>

#include <sys/mman.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

static_assert(ContactIndex::ColumnCount == ContactStore::SearchRow::ColumnCount);

namespace {

using uchar8 = unsigned char;

constexpr quint32 AllNull = (1u << ContactIndex::ColumnCount) - 1;
// SQLite refuses longer LIKE patterns (its default limit, in UTF-8 bytes): the statement fails.
constexpr qsizetype PatternLimit = 50000;
// Pattern codes above every code point the decoder can yield from a bound text.
constexpr char32_t AnyRun = 0xFFFFFFFF; // %
constexpr char32_t AnyOne = 0xFFFFFFFE; // _

// How SQLite reads UTF-8 when comparing: a lead byte takes every continuation byte that
// follows, and surrogates, overlong forms and U+FFFE/U+FFFF all read as U+FFFD.
char32_t decode(const uchar8 *&p, const uchar8 *end)
{
    static const uchar8 lead[64] = {
        0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c,
        0x0d, 0x0e, 0x0f, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19,
        0x1a, 0x1b, 0x1c, 0x1d, 0x1e, 0x1f, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
        0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f, 0x00, 0x01, 0x02, 0x03,
        0x04, 0x05, 0x06, 0x07, 0x00, 0x01, 0x02, 0x03, 0x00, 0x01, 0x00, 0x00};
    quint32 c = *p++;
    if (c >= 0xC0) {
        c = lead[c - 0xC0];
        while (p < end && (*p & 0xC0) == 0x80)
            c = (c << 6) + (0x3F & *p++);
        if (c < 0x80 || (c & 0xFFFFF800) == 0xD800 || (c & 0xFFFFFFFE) == 0xFFFE)
            c = 0xFFFD;
    }
    return c;
}

// UTF-8 of one code point; returns the length.
int encode(char *out, char32_t c)
{
    if (c < 0x80) {
        out[0] = char(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = char(0xC0 | (c >> 6));
        out[1] = char(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = char(0xE0 | (c >> 12));
        out[1] = char(0x80 | ((c >> 6) & 0x3F));
        out[2] = char(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = char(0xF0 | (c >> 18));
    out[1] = char(0x80 | ((c >> 12) & 0x3F));
    out[2] = char(0x80 | ((c >> 6) & 0x3F));
    out[3] = char(0x80 | (c & 0x3F));
    return 4;
}

void encode(QByteArray &out, char32_t c)
{
    char bytes[4];
    out.append(bytes, encode(bytes, c));
}

// The bytes SQLite stores for a text the store binds, a leading byte-order mark included. It
// differs from QString::toUtf8() only for unpaired surrogates: SQLite joins any surrogate with
// the unit after it, and writes a last one as it is.
QByteArray sqliteUtf8(QStringView s)
{
    QByteArray out;
    out.reserve(s.size() * 3);
    for (qsizetype i = 0; i < s.size(); ++i) {
        char32_t c = s[i].unicode();
        if (c >= 0xD800 && c < 0xE000 && i + 1 < s.size()) {
            const char32_t c2 = s[++i].unicode();
            c = (c2 & 0x03FF) + ((c & 0x003F) << 10) + (((c & 0x03C0) + 0x0040) << 10);
        }
        encode(out, c);
    }
    return out;
}

// name, one space, firstName, as the store reads them; a stored name that is not null is
// taken as it is.
QString displayText(QByteArrayView name, QByteArrayView firstName,
                    const std::array<QString, 2> &stored = {})
{
    QStringDecoder decoder = ContactStore::bytesDecoder();
    QString text(decoder.requiredSpace(name.size()) + 1 + decoder.requiredSpace(firstName.size()) +
                     stored[0].size() + stored[1].size(),
                 Qt::Uninitialized);
    QChar *out = text.data();
    const auto part = [&](int i, QByteArrayView bytes) {
        if (stored[i].isNull())
            return decoder.appendToBuffer(out, bytes);
        std::memcpy(out, stored[i].constData(), size_t(stored[i].size()) * 2);
        return out + stored[i].size();
    };
    out = part(0, name);
    *out++ = u' ';
    out = part(1, firstName);
    text.truncate(out - text.constData());
    return text;
}

inline char lowered(uchar8 c)
{
    return char(unsigned(c - 'A') < 26u ? c + 32 : c);
}

// Lower-cases the ASCII letters of [s, s + n), eight bytes at a time. Returns the number of
// zero bytes and sets *beyondAscii when a byte beyond ASCII is among them.
qsizetype lowerInPlace(char *s, qsizetype n, bool *beyondAscii)
{
    constexpr quint64 Ones = 0x0101010101010101ull, High = 0x8080808080808080ull;
    constexpr quint64 Low = ~High;
    quint64 seen = 0;
    qsizetype zeros = 0, i = 0;
    for (; i + 8 <= n; i += 8) {
        quint64 w;
        std::memcpy(&w, s + i, 8);
        seen |= w;
        // The high bit of each byte set where it is 'A'..'Z'; no carry crosses a byte.
        const quint64 low = w & Low;
        const quint64 upper =
            ((low + (0x80 - 'A') * Ones) ^ (low + (0x80 - 'Z' - 1) * Ones)) & ~w & High;
        // 0x80 in each zero byte, then their number summed by one multiplication.
        const quint64 zero = ~(((w & Low) + Low) | w | Low) >> 7;
        zeros += qsizetype((zero * Ones) >> 56);
        w |= upper >> 2;
        std::memcpy(s + i, &w, 8);
    }
    for (; i < n; ++i) {
        const auto c = uchar8(s[i]);
        seen |= c;
        zeros += c == 0;
        s[i] = lowered(c);
    }
    *beyondAscii = seen & High;
    return zeros;
}

// Well-formed UTF-8 reads the same byte by byte as code point by code point, so the
// substring scan may decide it. U+FFFE and U+FFFF read as U+FFFD: rewritten in place.
bool canonicalise(char *s, qsizetype n)
{
    auto *p = reinterpret_cast<uchar8 *>(s);
    const uchar8 *end = p + n;
    const auto cont = [&](const uchar8 *q, int count) {
        if (end - q < count)
            return false;
        for (int i = 0; i < count; ++i)
            if ((q[i] & 0xC0) != 0x80)
                return false;
        return true;
    };
    while (p < end) {
        // ASCII eight bytes at a time: mixed text would mispredict a test per byte.
        quint64 w;
        while (end - p >= 8 && (std::memcpy(&w, p, 8), !(w & 0x8080808080808080ull)))
            p += 8;
        if (p == end)
            break;
        const uchar8 c = *p;
        if (c < 0x80) {
            ++p;
        } else if (c >= 0xC2 && c < 0xE0 && cont(p + 1, 1)) {
            p += 2;
        } else if (c >= 0xE0 && c < 0xF0 && cont(p + 1, 2)) {
            if ((c == 0xE0 && p[1] < 0xA0) || (c == 0xED && p[1] >= 0xA0))
                return false;
            if (c == 0xEF && p[1] == 0xBF && p[2] >= 0xBE)
                p[2] = 0xBD;
            p += 3;
        } else if (c >= 0xF0 && c < 0xF5 && cont(p + 1, 3)) {
            if ((c == 0xF0 && p[1] < 0x90) || (c == 0xF4 && p[1] >= 0x90))
                return false;
            p += 4;
        } else {
            return false;
        }
    }
    return true;
}

// Does [s, end) match the pattern, as SQLite's case-insensitive LIKE without an escape
// character decides? Iterative; on a mismatch only the last % takes one more character.
// wellFormed: the column is well-formed UTF-8, so a character can be found by its bytes.
bool like(const std::vector<char32_t> &pattern, const uchar8 *s, const uchar8 *end, bool wellFormed)
{
    size_t pi = 0;
    const size_t pn = pattern.size();
    size_t starP = size_t(-1);
    const uchar8 *starS = nullptr;
    char literal[4];
    qsizetype literalSize = 0;
    // Lets the last % swallow everything before the next place where the character after it
    // can match, instead of trying each place in turn. An ASCII byte is always a whole
    // character; a longer one only in well-formed text.
    const auto seek = [&]() -> bool {
        if (literalSize == 0)
            return true;
        const void *found = literalSize == 1
                                ? std::memchr(s, literal[0], size_t(end - s))
                                : memmem(s, size_t(end - s), literal, size_t(literalSize));
        if (!found)
            return false;
        s = starS = static_cast<const uchar8 *>(found);
        return true;
    };
    for (;;) {
        if (pi < pn && pattern[pi] == AnyRun) {
            starP = ++pi;
            starS = s;
            literalSize = 0;
            if (pi < pn && pattern[pi] != AnyRun && pattern[pi] != AnyOne &&
                (pattern[pi] < 0x80 || wellFormed))
                literalSize = encode(literal, pattern[pi]);
            if (!seek())
                return false;
            continue;
        }
        if (s == end)
            break;
        if (pi < pn) {
            const uchar8 *next = s;
            const char32_t c = decode(next, end);
            if (pattern[pi] == AnyOne || pattern[pi] == c) {
                ++pi;
                s = next;
                continue;
            }
        }
        if (starP == size_t(-1))
            return false;
        decode(starS, end);
        s = starS;
        pi = starP;
        if (!seek())
            return false;
    }
    while (pi < pn && pattern[pi] == AnyRun)
        ++pi;
    return pi == pn;
}

struct Pattern
{
    std::vector<char32_t> codes; // AnyRun, AnyOne or a code point, ASCII lower-cased
    QByteArray anchor;           // the longest run without wildcards, as the buffer holds it
    bool plain = false;          // % anchor %: a substring test
    bool matchesEmpty = false;   // nothing but %: every non-NULL column
    bool refused = false;        // SQLite would fail the statement
};

Pattern compile(const QString &text)
{
    Pattern p;
    QByteArray bytes = sqliteUtf8(QString(QLatin1Char('%') + text + QLatin1Char('%')));
    if (bytes.size() > PatternLimit) {
        p.refused = true;
        return p;
    }
    // SQLite reads the pattern as a C string.
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);

    const auto *s = reinterpret_cast<const uchar8 *>(bytes.constData());
    const uchar8 *end = s + bytes.size();
    while (s < end) {
        char32_t c = decode(s, end);
        if (c == '%') {
            if (!p.codes.empty() && p.codes.back() == AnyRun)
                continue; // %% is %
            c = AnyRun;
        } else if (c == '_') {
            c = AnyOne;
        } else if (c < 0x80) {
            c = char32_t(lowered(uchar8(c)));
        }
        p.codes.push_back(c);
    }

    size_t bestAt = 0, bestLength = 0;
    for (size_t i = 0; i < p.codes.size();) {
        size_t j = i;
        while (j < p.codes.size() && p.codes[j] != AnyRun && p.codes[j] != AnyOne)
            ++j;
        if (j - i > bestLength) {
            bestAt = i;
            bestLength = j - i;
        }
        i = j + 1;
    }
    for (size_t i = bestAt; i < bestAt + bestLength; ++i)
        encode(p.anchor, p.codes[i]);
    p.matchesEmpty = p.codes.size() == 1 && p.codes[0] == AnyRun;
    p.plain = bestLength > 0 && p.codes.size() == bestLength + 2 && p.codes.front() == AnyRun &&
              p.codes.back() == AnyRun;
    return p;
}

const char *find(const char *haystack, qsizetype n, const QByteArray &needle)
{
    if (needle.size() == 1)
        return static_cast<const char *>(std::memchr(haystack, needle[0], size_t(n)));
    return static_cast<const char *>(
        memmem(haystack, size_t(n), needle.constData(), size_t(needle.size())));
}

// Rows copied out of SQLite (whose views die with the next step) for the thread that files
// them: columns back to back, with their lengths.
struct Batch
{
    static constexpr size_t Rows = 1024;
    struct Row
    {
        qint64 id;
        quint32 silentMask;
        std::array<qint32, ContactIndex::ColumnCount> lengths;
        std::array<QString, 2> storedNames;
    };
    std::vector<Row> rows;
    std::vector<char> bytes;
};

// Hands full batches from the reading thread to the filing thread, and empty ones back.
class BatchQueue
{
public:
    void push(Batch &&batch)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_full.size() < 4; }); // bounds the memory
        m_full.push_back(std::move(batch));
        m_changed.notify_all();
    }
    // false once the reader has finished and nothing is left.
    bool pop(Batch &batch)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_full.empty() || m_finished; });
        if (m_full.empty())
            return false;
        batch = std::move(m_full.front());
        m_full.pop_front();
        m_changed.notify_all();
        return true;
    }
    void recycle(Batch &&batch)
    {
        batch.rows.clear();
        batch.bytes.clear();
        const std::lock_guard lock(m_mutex);
        m_empty.push_back(std::move(batch));
    }
    Batch fresh()
    {
        const std::lock_guard lock(m_mutex);
        if (m_empty.empty())
            return Batch();
        Batch batch = std::move(m_empty.back());
        m_empty.pop_back();
        return batch;
    }
    void finish()
    {
        const std::lock_guard lock(m_mutex);
        m_finished = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Batch> m_full;
    std::vector<Batch> m_empty;
    bool m_finished = false;
};

} // namespace

bool ContactIndex::load(const QSqlDatabase &db, QString *error)
{
    clear();
    // The text takes less room than the file; growing the buffer would copy it repeatedly.
    const QFileInfo info(db.databaseName());
    if (info.isFile()) {
        m_bytes.reserve(size_t(info.size()));
#ifdef MADV_HUGEPAGE
        // Faulting tens of megabytes in page by page costs as much as reading the file.
        constexpr quintptr Huge = 2 << 20;
        const auto from = (quintptr(m_bytes.data()) + Huge - 1) & ~(Huge - 1);
        const auto to = (quintptr(m_bytes.data()) + m_bytes.capacity()) & ~(Huge - 1);
        if (to > from)
            madvise(reinterpret_cast<void *>(from), to - from, MADV_HUGEPAGE);
#endif
    }

    // SQLite's side and the filing take about as long each: with many rows a second thread
    // files them while this one reads on.
    const quint32 blobs = ContactStore::likeMatchesBlobs() ? 0 : AllNull;
    const auto file = [this](const Batch &batch) {
        const char *bytes = batch.bytes.data();
        std::array<QByteArrayView, ColumnCount> columns;
        for (const Batch::Row &row : batch.rows) {
            for (int i = 0; i < ColumnCount; ++i) {
                columns[size_t(i)] = QByteArrayView(bytes, row.lengths[size_t(i)]);
                bytes += row.lengths[size_t(i)];
            }
            // The display text as the store reads it.
            append(row.id, columns, row.silentMask,
                   displayText(columns[0], columns[1], row.storedNames));
        }
    };
    BatchQueue queue;
    std::thread filer;
    Batch batch;
    const ContactStore store(db);
    m_utf16 = store.storesUtf16();
    const bool ok = store.forEachSearchRow([&](const ContactStore::SearchRow &row) {
        Batch::Row &staged = batch.rows.emplace_back();
        staged.id = row.id;
        staged.silentMask = row.nullMask | (row.blobMask & blobs);
        staged.storedNames = row.storedNames;
        for (int i = 0; i < ColumnCount; ++i) {
            const QByteArrayView column = row.columns[size_t(i)];
            staged.lengths[size_t(i)] = qint32(column.size());
            batch.bytes.insert(batch.bytes.end(), column.begin(), column.end());
        }
        if (batch.rows.size() < Batch::Rows)
            return;
        if (!filer.joinable()) {
            filer = std::thread([&] {
                Batch taken;
                while (queue.pop(taken)) {
                    file(taken);
                    queue.recycle(std::move(taken));
                }
            });
        }
        queue.push(std::move(batch));
        batch = queue.fresh();
    });
    queue.finish();
    if (filer.joinable())
        filer.join();
    if (!ok) {
        clear();
        if (error)
            *error = store.lastError();
        return false;
    }
    file(batch); // the rows after the last full batch

    // Sorted by the first eight UTF-16 units as two integers, the texts themselves compared
    // only where those are equal: several times faster than comparing every pair as texts.
    struct Key
    {
        quint64 head = 0, next = 0;
        int slot;
    };
    std::vector<Key> keys(m_slots.size());
    for (int i = 0; i < int(m_slots.size()); ++i) {
        const QString &text = m_slots[size_t(i)].text;
        Key &key = keys[size_t(i)];
        for (qsizetype k = 0; k < 8; ++k) {
            const quint64 unit = k < text.size() ? text[k].unicode() : 0; // shorter sorts first
            (k < 4 ? key.head : key.next) |= unit << (48 - 16 * (k % 4));
        }
        key.slot = i;
    }
    std::sort(keys.begin(), keys.end(), [this](const Key &a, const Key &b) {
        if (a.head != b.head)
            return a.head < b.head;
        if (a.next != b.next)
            return a.next < b.next;
        return before(a.slot, b.slot);
    });
    m_order.resize(keys.size());
    for (size_t i = 0; i < keys.size(); ++i)
        m_order[i] = keys[i].slot;
    m_idsIndexed = false; // built when first needed: a list that is only shown never needs it
    return true;
}

void ContactIndex::clear()
{
    // Swapped out, so the memory of a large account is given back.
    std::vector<char>().swap(m_bytes);
    std::vector<qsizetype>().swap(m_starts);
    std::vector<Slot>().swap(m_slots);
    std::vector<int>().swap(m_order);
    std::vector<int>().swap(m_irregular);
    m_slotOfId = {};
    m_idsIndexed = true;
    m_deadBytes = 0;
    m_utf16 = false;
}

int ContactIndex::append(qint64 id, const std::array<QByteArrayView, ColumnCount> &columns,
                         quint32 silentMask, QString text)
{
    const int slot = int(m_slots.size());
    const size_t start = m_bytes.size();
    size_t room = ColumnCount;
    for (const QByteArrayView &column : columns)
        room += size_t(column.size());
    m_bytes.resize(start + room);
    char *row = m_bytes.data() + start;
    // Copies the columns, each followed by a zero byte; with cut set, each ends at its first
    // zero byte, where LIKE stops reading.
    const auto copy = [&](bool cut) {
        char *out = row;
        for (int i = 0; i < ColumnCount; ++i) {
            const QByteArrayView column = columns[size_t(i)];
            if (!(silentMask & (1u << i)) && !column.isEmpty()) {
                qsizetype n = column.size();
                if (const void *zero = cut ? std::memchr(column.data(), 0, size_t(n)) : nullptr)
                    n = static_cast<const char *>(zero) - column.data();
                std::memcpy(out, column.data(), size_t(n));
                out += n;
            }
            *out++ = '\0';
        }
        return out;
    };
    char *out = copy(false);
    // One pass over the whole row: rows rarely hold a zero byte of their own.
    bool beyondAscii = false;
    if (lowerInPlace(row, out - row, &beyondAscii) > ColumnCount) {
        out = copy(true);
        lowerInPlace(row, out - row, &beyondAscii);
    }
    // Separators are ASCII: the row is well-formed exactly when each column is.
    const bool irregular = beyondAscii && !canonicalise(row, out - row);
    m_bytes.resize(size_t(out - m_bytes.data()));
    m_starts.push_back(qsizetype(start));
    Slot s;
    s.text = std::move(text);
    s.id = id;
    s.silentMask = silentMask & AllNull;
    s.irregular = irregular;
    m_slots.push_back(std::move(s));
    if (irregular)
        m_irregular.push_back(slot);
    return slot;
}

qsizetype ContactIndex::endOf(int slot) const
{
    return size_t(slot) + 1 < m_starts.size() ? m_starts[size_t(slot) + 1]
                                              : qsizetype(m_bytes.size());
}

bool ContactIndex::before(int a, int b) const
{
    const Slot &x = m_slots[size_t(a)], &y = m_slots[size_t(b)];
    const int c = x.text.compare(y.text);
    return c < 0 || (c == 0 && x.id < y.id);
}

void ContactIndex::place(int slot)
{
    const auto at = std::lower_bound(m_order.begin(), m_order.end(), slot,
                                     [this](int a, int b) { return before(a, b); });
    m_order.insert(at, slot);
    m_slotOfId.insert(m_slots[size_t(slot)].id, slot);
}

void ContactIndex::unplace(int slot)
{
    const auto at = std::lower_bound(m_order.begin(), m_order.end(), slot,
                                     [this](int a, int b) { return before(a, b); });
    Q_ASSERT(at != m_order.end() && *at == slot);
    m_order.erase(at);
    m_slotOfId.remove(m_slots[size_t(slot)].id);
}

void ContactIndex::kill(int slot)
{
    Slot &s = m_slots[size_t(slot)];
    s.alive = false;
    s.text = QString();
    m_deadBytes += endOf(slot) - m_starts[size_t(slot)];
}

void ContactIndex::indexIds() const
{
    if (m_idsIndexed)
        return;
    m_slotOfId.reserve(qsizetype(m_order.size()));
    for (const int slot : m_order)
        m_slotOfId.insert(m_slots[size_t(slot)].id, slot);
    m_idsIndexed = true;
}

bool ContactIndex::contains(qint64 id) const
{
    indexIds();
    return m_slotOfId.contains(id);
}

void ContactIndex::insert(const Contact &contact)
{
    if (!update(contact))
        add(contact);
}

void ContactIndex::add(const Contact &contact)
{
    place(appendContact(contact));
}

QList<ContactEntry> ContactIndex::addMany(const QList<Contact> &contacts)
{
    const auto first = qsizetype(m_order.size());
    for (const Contact &contact : contacts) {
        const int slot = appendContact(contact);
        m_order.push_back(slot);
        if (m_idsIndexed)
            m_slotOfId.insert(contact.id, slot);
    }
    // One sort and one merge instead of a shifting insert per contact.
    const auto less = [this](int a, int b) { return before(a, b); };
    const auto added = m_order.begin() + first;
    std::sort(added, m_order.end(), less);
    QList<ContactEntry> entries;
    entries.reserve(contacts.size());
    for (auto it = added; it != m_order.end(); ++it)
        entries.append({m_slots[size_t(*it)].id, m_slots[size_t(*it)].text});
    std::inplace_merge(m_order.begin(), added, m_order.end(), less);
    return entries;
}

int ContactIndex::appendContact(const Contact &contact)
{
    std::array<QByteArray, ColumnCount> bytes;
    const QString *texts[ColumnCount] = {&contact.name, &contact.firstName, &contact.work,
                                         &contact.home, &contact.mobile,    &contact.address,
                                         &contact.zip,  &contact.town,      &contact.email,
                                         &contact.web,  &contact.notes};
    for (int k = 0; k < Contact::CustomSlots; ++k) {
        texts[11 + 2 * k] = &contact.customLabel[k];
        texts[12 + 2 * k] = &contact.customValue[k];
    }
    // The store writes every text, a null one as empty: no column of a new row is NULL.
    std::array<QByteArrayView, ColumnCount> columns;
    for (int i = 0; i < ColumnCount; ++i) {
        bytes[size_t(i)] = sqliteUtf8(*texts[i]);
        columns[size_t(i)] = QByteArrayView("", 0);
        if (!bytes[size_t(i)].isEmpty())
            columns[size_t(i)] = bytes[size_t(i)];
    }
    // The display text as a reload would show it: SQLite turns an unpaired surrogate into
    // something else in a UTF-8 file, but keeps it in a UTF-16 one.
    return append(contact.id, columns, 0,
                  m_utf16 ? Contact::displayText(contact.name, contact.firstName)
                          : displayText(bytes[0], bytes[1]));
}

bool ContactIndex::update(const Contact &contact)
{
    indexIds();
    const auto it = m_slotOfId.constFind(contact.id);
    if (it == m_slotOfId.cend())
        return false;
    const int old = *it;
    unplace(old);
    kill(old);
    add(contact);
    compactIfWasteful();
    return true;
}

bool ContactIndex::remove(qint64 id)
{
    indexIds();
    const auto it = m_slotOfId.constFind(id);
    if (it == m_slotOfId.cend())
        return false;
    const int slot = *it;
    unplace(slot);
    kill(slot);
    compactIfWasteful();
    return true;
}

void ContactIndex::compactIfWasteful()
{
    // Amortised: a contact's bytes are copied again only after as many bytes died.
    if (m_deadBytes < 4096 || m_deadBytes * 2 < qsizetype(m_bytes.size()))
        return;
    std::vector<char> bytes;
    bytes.reserve(m_bytes.size() - size_t(m_deadBytes));
    std::vector<qsizetype> starts;
    std::vector<Slot> kept;
    std::vector<int> renumbered(m_slots.size(), -1);
    m_irregular.clear();
    for (int i = 0; i < int(m_slots.size()); ++i) {
        Slot &s = m_slots[size_t(i)];
        if (!s.alive)
            continue;
        renumbered[size_t(i)] = int(kept.size());
        if (s.irregular)
            m_irregular.push_back(int(kept.size()));
        starts.push_back(qsizetype(bytes.size()));
        bytes.insert(bytes.end(), m_bytes.begin() + m_starts[size_t(i)],
                     m_bytes.begin() + endOf(i));
        kept.push_back(std::move(s));
    }
    for (int &slot : m_order)
        slot = renumbered[size_t(slot)];
    for (int &slot : m_slotOfId)
        slot = renumbered[size_t(slot)];
    m_bytes = std::move(bytes);
    m_starts = std::move(starts);
    m_slots = std::move(kept);
    m_deadBytes = 0;
}

QList<ContactEntry> ContactIndex::entries() const
{
    QList<ContactEntry> result;
    result.reserve(qsizetype(m_order.size()));
    for (const int slot : m_order)
        result.append({m_slots[size_t(slot)].id, m_slots[size_t(slot)].text});
    return result;
}

ContactEntry ContactIndex::entry(qint64 id) const
{
    indexIds();
    const auto it = m_slotOfId.constFind(id);
    return it == m_slotOfId.cend() ? ContactEntry() : ContactEntry{id, m_slots[size_t(*it)].text};
}

bool ContactIndex::slotMatches(int slot, const std::vector<char32_t> &pattern) const
{
    const Slot &s = m_slots[size_t(slot)];
    const auto *base = reinterpret_cast<const uchar8 *>(m_bytes.data());
    const auto *p = base + m_starts[size_t(slot)];
    const uchar8 *slotEnd = base + endOf(slot);
    for (int i = 0; i < ColumnCount; ++i) {
        const auto *end = static_cast<const uchar8 *>(std::memchr(p, 0, size_t(slotEnd - p)));
        if (!(s.silentMask & (1u << i)) && like(pattern, p, end, !s.irregular))
            return true;
        p = end + 1;
    }
    return false;
}

void ContactIndex::scan(const QByteArray &needle, const std::vector<char32_t> *pattern,
                        std::vector<char> &hit) const
{
    // One pass over the whole buffer finds the needle far faster than a call per contact;
    // each hit is mapped back to its slot, which is then skipped.
    const char *base = m_bytes.data();
    const qsizetype total = qsizetype(m_bytes.size());
    auto first = m_starts.begin();
    for (qsizetype pos = 0; pos < total;) {
        const char *found = find(base + pos, total - pos, needle);
        if (!found)
            break;
        const qsizetype at = found - base;
        first = std::upper_bound(first, m_starts.end(), at) - 1;
        const int slot = int(first - m_starts.begin());
        const Slot &s = m_slots[size_t(slot)];
        const qsizetype end = endOf(slot);
        if (!s.alive || s.irregular) {
            pos = end;
            continue;
        }
        if (!pattern) {
            hit[size_t(slot)] = 1;
            pos = end;
            continue;
        }
        // The needle holds no zero byte: the hit lies inside one column.
        const char *columnEnd = static_cast<const char *>(std::memchr(found, 0, size_t(end - at)));
        const qsizetype start = m_starts[size_t(slot)];
        const auto *separator =
            static_cast<const char *>(memrchr(base + start, 0, size_t(at - start)));
        const char *columnBegin = separator ? separator + 1 : base + start;
        if (like(*pattern, reinterpret_cast<const uchar8 *>(columnBegin),
                 reinterpret_cast<const uchar8 *>(columnEnd), true)) {
            hit[size_t(slot)] = 1;
            pos = end;
        } else {
            pos = columnEnd - base + 1;
        }
    }
}

QList<ContactEntry> ContactIndex::search(const QString &text) const
{
    QList<ContactEntry> result;
    const Pattern pattern = compile(text);
    if (pattern.refused || m_order.empty())
        return result;

    std::vector<char> hit(m_slots.size(), 0);
    if (pattern.matchesEmpty) {
        for (const int slot : m_order)
            hit[size_t(slot)] = m_slots[size_t(slot)].silentMask != AllNull;
    } else if (!pattern.anchor.isEmpty()) {
        scan(pattern.anchor, pattern.plain ? nullptr : &pattern.codes, hit);
        for (const int slot : m_irregular)
            if (m_slots[size_t(slot)].alive)
                hit[size_t(slot)] = slotMatches(slot, pattern.codes);
    } else {
        for (const int slot : m_order)
            hit[size_t(slot)] = slotMatches(slot, pattern.codes);
    }

    for (const int slot : m_order)
        if (hit[size_t(slot)])
            result.append({m_slots[size_t(slot)].id, m_slots[size_t(slot)].text});
    return result;
}
