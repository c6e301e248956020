#pragma once

#include "contactindex.h"

#include <QAbstractListModel>
#include <QIcon>

// The rows the contact list shows: id and display text, kept in list order (entryBefore).
// Bulk changes reset the model instead of signalling row by row: a view with 100,000 rows,
// and the accessibility layer behind it, stay fast.
class ContactListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role { IdRole = Qt::UserRole + 1 };

    explicit ContactListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    // entries must already be in list order.
    void setEntries(QList<ContactEntry> entries);
    void clear();
    // Inserts the entry at its place and returns its index.
    QModelIndex addEntry(const ContactEntry &entry);
    // Merges entries in list order into the rows with one reset.
    void addEntries(const QList<ContactEntry> &entries);
    void removeIds(const QList<qint64> &ids);
    // Gives the row of id a new text and moves it to its place; an invalid index when no
    // row has that id.
    QModelIndex setText(qint64 id, const QString &text);

    int rowOfId(qint64 id) const; // -1 when absent
    ContactEntry entryAt(int row) const;

private:
    QList<ContactEntry> m_rows;
    mutable QIcon m_icon; // one for every row, made on first use (null without the resources)
    mutable bool m_iconMade = false;
};
