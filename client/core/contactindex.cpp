#include "contactindex.h"

#include "contactstore.h"

#include <algorithm>
#include <cstring>

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

void encode(QByteArray &out, char32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// The bytes SQLite stores for a text the driver binds as UTF-16. It differs from
// QString::toUtf8() only for unpaired surrogates: SQLite joins any surrogate with the unit
// after it, and writes a last one as it is.
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

// A text as the driver hands it over: SQLite's own conversion to UTF-16 for a text (which
// reads UTF-8 as its LIKE does), Qt's for the bytes of a blob.
QString displayPart(QByteArrayView bytes, bool blob)
{
    const auto *p = reinterpret_cast<const uchar8 *>(bytes.data());
    const uchar8 *end = p + bytes.size();
    if (blob || std::all_of(p, end, [](uchar8 c) { return c < 0x80; }))
        return QString::fromUtf8(bytes);
    QString out;
    out.reserve(bytes.size());
    while (p < end) {
        const char32_t c = decode(p, end);
        if (c <= 0xFFFF) {
            out += QChar(char16_t(c));
        } else {
            out += QChar(char16_t(0xD800 + (((c - 0x10000) >> 10) & 0x3FF)));
            out += QChar(char16_t(0xDC00 + (c & 0x3FF)));
        }
    }
    return out;
}

inline char lowered(uchar8 c)
{
    return char(unsigned(c - 'A') < 26u ? c + 32 : c);
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
bool like(const std::vector<char32_t> &pattern, const uchar8 *s, const uchar8 *end)
{
    size_t pi = 0;
    const size_t pn = pattern.size();
    size_t starP = size_t(-1);
    const uchar8 *starS = nullptr;
    for (;;) {
        if (pi < pn && pattern[pi] == AnyRun) {
            starP = ++pi;
            starS = s;
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

} // namespace

bool ContactIndex::load(const QSqlDatabase &db, QString *error)
{
    clear();
    const ContactStore store(db);
    const quint32 blobs = ContactStore::likeMatchesBlobs() ? 0 : AllNull;
    const bool ok = store.forEachSearchRow([&](const ContactStore::SearchRow &row) {
        // The display text as the list statement would give it.
        append(row.id, row.columns, row.nullMask | (row.blobMask & blobs),
               Contact::displayText(displayPart(row.columns[0], row.blobMask & 1),
                                    displayPart(row.columns[1], row.blobMask & 2)));
    });
    if (!ok) {
        clear();
        if (error)
            *error = store.lastError();
        return false;
    }
    m_slotOfId.reserve(qsizetype(m_slots.size()));
    m_order.resize(m_slots.size());
    for (int i = 0; i < int(m_slots.size()); ++i) {
        m_slotOfId.insert(m_slots[size_t(i)].id, i); // the id is the table's primary key
        m_order[size_t(i)] = i;
    }
    std::sort(m_order.begin(), m_order.end(), [this](int a, int b) { return before(a, b); });
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
    m_deadBytes = 0;
}

int ContactIndex::append(qint64 id, const std::array<QByteArrayView, ColumnCount> &columns,
                         quint32 silentMask, QString text)
{
    const int slot = int(m_slots.size());
    m_starts.push_back(qsizetype(m_bytes.size()));
    bool irregular = false;
    for (int i = 0; i < ColumnCount; ++i) {
        // LIKE stops at a zero byte, and the zero byte ends a column here.
        const QByteArrayView column =
            silentMask & (1u << i) ? QByteArrayView() : columns[size_t(i)];
        const char *data = column.data();
        qsizetype n = column.size();
        if (const void *zero = n ? std::memchr(data, 0, size_t(n)) : nullptr)
            n = static_cast<const char *>(zero) - data;
        const size_t at = m_bytes.size();
        m_bytes.resize(at + size_t(n) + 1);
        char *out = m_bytes.data() + at;
        uchar8 high = 0;
        for (qsizetype i = 0; i < n; ++i) {
            const auto c = uchar8(data[i]);
            high |= c;
            out[i] = lowered(c);
        }
        out[n] = '\0';
        if ((high & 0x80) && !canonicalise(out, n))
            irregular = true;
    }
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

void ContactIndex::insert(const Contact &contact)
{
    if (!update(contact))
        add(contact);
}

void ContactIndex::add(const Contact &contact)
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
    // The display text as a reload would show it, also for texts SQLite stores differently.
    place(append(contact.id, columns, 0,
                 Contact::displayText(displayPart(bytes[0], false), displayPart(bytes[1], false))));
}

bool ContactIndex::update(const Contact &contact)
{
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

bool ContactIndex::slotMatches(int slot, const std::vector<char32_t> &pattern) const
{
    const Slot &s = m_slots[size_t(slot)];
    const auto *base = reinterpret_cast<const uchar8 *>(m_bytes.data());
    const auto *p = base + m_starts[size_t(slot)];
    const uchar8 *slotEnd = base + endOf(slot);
    for (int i = 0; i < ColumnCount; ++i) {
        const auto *end = static_cast<const uchar8 *>(std::memchr(p, 0, size_t(slotEnd - p)));
        if (!(s.silentMask & (1u << i)) && like(pattern, p, end))
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
        const auto *before =
            static_cast<const char *>(memrchr(base + start, 0, size_t(at - start)));
        const char *columnBegin = before ? before + 1 : base + start;
        if (like(*pattern, reinterpret_cast<const uchar8 *>(columnBegin),
                 reinterpret_cast<const uchar8 *>(columnEnd))) {
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
