#pragma once

#include "contact.h"

#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <array>
#include <vector>

// One row of the contact list: the contact's id and its display text.
struct ContactEntry
{
    qint64 id = -1;
    QString text;

    friend bool operator==(const ContactEntry &a, const ContactEntry &b)
    {
        return a.id == b.id && a.text == b.text;
    }
    friend bool operator!=(const ContactEntry &a, const ContactEntry &b) { return !(a == b); }
};
Q_DECLARE_TYPEINFO(ContactEntry, Q_RELOCATABLE_TYPE);

// The list order: display texts by UTF-16 code units, as a sorted list widget compares them
// (not by locale); equal texts by id, so every contact has one place.
inline bool entryBefore(const ContactEntry &a, const ContactEntry &b)
{
    const int c = a.text.compare(b.text);
    return c < 0 || (c == 0 && a.id < b.id);
}

// The account's contacts in memory, in list order, answering the search with exactly the rows
// the database's LIKE over the 23 text columns would return, but without a query per
// keystroke. The searched columns are kept as ASCII-lower-cased UTF-8 in one buffer, each
// followed by a zero byte, so a plain text is one substring scan over all contacts.
class ContactIndex
{
public:
    static constexpr int ColumnCount = 23;

    // Replaces everything with the rows of the database. false and *error on failure,
    // leaving the index empty.
    bool load(const QSqlDatabase &db, QString *error = nullptr);
    void clear();
    int size() const { return int(m_order.size()); }
    bool contains(qint64 id) const;

    // contact.id must be set. An id already held is replaced.
    void insert(const Contact &contact);
    // Contacts with ids not held yet, sorted in at once; their list rows, in list order.
    QList<ContactEntry> addMany(const QList<Contact> &contacts);
    // Replaces the contact with contact.id; false (and no change) when there is none.
    bool update(const Contact &contact);
    bool remove(qint64 id);

    QList<ContactEntry> entries() const;
    // The list row of one contact, as the list should show it after an insert or update; an
    // id of -1 when there is none.
    ContactEntry entry(qint64 id) const;
    // The contacts one of whose columns is LIKE '%' + text + '%', in list order.
    QList<ContactEntry> search(const QString &text) const;

private:
    struct Slot
    {
        QString text;
        qint64 id = -1;
        quint32 silentMask = 0; // columns LIKE never matches: NULL, and blobs in some builds
        bool alive = true;
        bool irregular = false; // holds bytes that are not well-formed UTF-8
    };

    int append(qint64 id, const std::array<QByteArrayView, ColumnCount> &columns,
               quint32 silentMask, QString text);
    void add(const Contact &contact);
    int appendContact(const Contact &contact);
    void indexIds() const;
    bool before(int a, int b) const;
    void place(int slot);
    void unplace(int slot);
    void kill(int slot);
    void compactIfWasteful();
    qsizetype endOf(int slot) const;
    bool slotMatches(int slot, const std::vector<char32_t> &pattern) const;
    void scan(const QByteArray &needle, const std::vector<char32_t> *pattern,
              std::vector<char> &hit) const;

    // Per slot: the 23 columns, each followed by a zero byte; silent columns are empty.
    // Replaced and removed contacts stay as dead slots until compaction.
    std::vector<char> m_bytes;
    std::vector<qsizetype> m_starts; // where each slot begins in m_bytes, ascending
    std::vector<Slot> m_slots;
    std::vector<int> m_order;     // the live slots in list order
    std::vector<int> m_irregular; // slots the substring scan cannot decide
    mutable QHash<qint64, int> m_slotOfId;
    mutable bool m_idsIndexed = true;
    qsizetype m_deadBytes = 0;
    bool m_utf16 = false; // the file stores texts as UTF-16
};
