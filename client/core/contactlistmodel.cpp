#include "contactlistmodel.h"

int ContactListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant ContactListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const ContactEntry &e = m_rows.at(index.row());
    if (role == Qt::DisplayRole)
        return e.text;
    if (role == IdRole)
        return e.id;
    if (role == Qt::DecorationRole)
        return QIcon(QStringLiteral(":/icons/list_contact.png"));
    return {};
}

void ContactListModel::setEntries(const QList<ContactEntry> &entries)
{
    beginResetModel();
    m_rows = entries;
    endResetModel();
}

void ContactListModel::clear()
{
    setEntries({});
}

QModelIndex ContactListModel::addEntry(const ContactEntry &entry)
{
    int row = 0;
    while (row < m_rows.size() && !(entry.text < m_rows[row].text))
        ++row;
    beginInsertRows({}, row, row);
    m_rows.insert(row, entry);
    endInsertRows();
    return index(row);
}

void ContactListModel::removeIds(const QList<qint64> &ids)
{
    for (qint64 id : ids) {
        const int row = rowOfId(id);
        if (row < 0)
            continue;
        beginRemoveRows({}, row, row);
        m_rows.removeAt(row);
        endRemoveRows();
    }
}

QModelIndex ContactListModel::setText(qint64 id, const QString &text)
{
    const int row = rowOfId(id);
    if (row < 0)
        return {};
    ContactEntry moved{id, text};
    m_rows.removeAt(row);
    int to = 0;
    while (to < m_rows.size() && !(text < m_rows[to].text))
        ++to;
    m_rows.insert(row, moved);
    if (to != row)
        beginMoveRows({}, row, row, {}, to > row ? to + 1 : to);
    m_rows.removeAt(row);
    m_rows.insert(to, moved);
    if (to != row)
        endMoveRows();
    emit dataChanged(index(to), index(to));
    return index(to);
}

int ContactListModel::rowOfId(qint64 id) const
{
    for (int i = 0; i < m_rows.size(); ++i)
        if (m_rows[i].id == id)
            return i;
    return -1;
}
