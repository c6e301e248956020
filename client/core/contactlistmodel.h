#pragma once

#include "contactindex.h"

#include <QAbstractListModel>
#include <QIcon>

// Placeholder until the fast model lands.
class ContactListModel : public QAbstractListModel
{
    Q_OBJECT
public:
    enum Roles { IdRole = Qt::UserRole + 1 };
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    void setEntries(const QList<ContactEntry> &entries);
    void clear();
    QModelIndex addEntry(const ContactEntry &entry);
    void removeIds(const QList<qint64> &ids);
    QModelIndex setText(qint64 id, const QString &text);
    int rowOfId(qint64 id) const;
    ContactEntry entryAt(int row) const { return m_rows.value(row); }

private:
    QList<ContactEntry> m_rows;
};
