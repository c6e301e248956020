#pragma once

#include "contact.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>

struct ContactEntry
{
    qint64 id = -1;
    QString text;
};

// Placeholder until the fast index lands: the same interface over whole records.
class ContactIndex
{
public:
    bool load(const QSqlDatabase &db, QString *error = nullptr);
    void clear() { m_contacts.clear(); }
    int size() const { return int(m_contacts.size()); }
    void insert(const Contact &c);
    void update(const Contact &c);
    void remove(qint64 id);
    QList<ContactEntry> entries() const;
    QList<ContactEntry> search(const QString &text) const;

private:
    QList<Contact> m_contacts;
};
