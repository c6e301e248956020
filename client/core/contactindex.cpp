#include "contactindex.h"

#include "contactstore.h"

#include <QRegularExpression>
#include <algorithm>

namespace {
bool lessEntry(const ContactEntry &a, const ContactEntry &b)
{
    return a.text < b.text || (a.text == b.text && a.id < b.id);
}
} // namespace

bool ContactIndex::load(const QSqlDatabase &db, QString *error)
{
    ContactStore store(db);
    m_contacts = store.all();
    if (!store.lastError().isEmpty()) {
        m_contacts.clear();
        if (error)
            *error = store.lastError();
        return false;
    }
    return true;
}

void ContactIndex::insert(const Contact &c)
{
    m_contacts.append(c);
}

void ContactIndex::update(const Contact &c)
{
    for (Contact &x : m_contacts)
        if (x.id == c.id)
            x = c;
}

void ContactIndex::remove(qint64 id)
{
    m_contacts.removeIf([id](const Contact &c) { return c.id == id; });
}

QList<ContactEntry> ContactIndex::entries() const
{
    QList<ContactEntry> out;
    for (const Contact &c : m_contacts)
        out.append({c.id, c.displayText()});
    std::sort(out.begin(), out.end(), lessEntry);
    return out;
}

QList<ContactEntry> ContactIndex::search(const QString &text) const
{
    QString re;
    for (QChar ch : text)
        re += ch == u'%'   ? QStringLiteral(".*")
              : ch == u'_' ? QStringLiteral(".")
                           : QRegularExpression::escape(ch);
    const QRegularExpression pattern(re, QRegularExpression::CaseInsensitiveOption |
                                             QRegularExpression::DotMatchesEverythingOption);
    QList<ContactEntry> out;
    for (const Contact &c : m_contacts) {
        QStringList columns{c.name, c.firstName, c.work,  c.home, c.mobile, c.address,
                            c.zip,  c.town,      c.email, c.web,  c.notes};
        for (int k = 0; k < Contact::CustomSlots; ++k)
            columns << c.customLabel[k] << c.customValue[k];
        if (std::any_of(columns.cbegin(), columns.cend(),
                        [&](const QString &s) { return pattern.match(s).hasMatch(); }))
            out.append({c.id, c.displayText()});
    }
    std::sort(out.begin(), out.end(), lessEntry);
    return out;
}
