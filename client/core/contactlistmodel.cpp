#include "contactlistmodel.h"

#include <QSet>
#include <algorithm>
#include <iterator>

namespace {
// Beyond this many separate runs of removed rows one reset is cheaper than the signals.
constexpr int MaxRemovedRuns = 16;
} // namespace

ContactListModel::ContactListModel(QObject *parent) : QAbstractListModel(parent) {}

int ContactListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant ContactListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return QVariant();
    const ContactEntry &entry = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return entry.text;
    case Qt::DecorationRole:
        if (!m_iconMade) {
            m_icon = QIcon(QStringLiteral(":/icons/list_contact.png"));
            m_iconMade = true;
        }
        return m_icon;
    case IdRole:
        return entry.id;
    default:
        return QVariant();
    }
}

void ContactListModel::setEntries(QList<ContactEntry> entries)
{
    beginResetModel();
    m_rows = std::move(entries);
    endResetModel();
}

void ContactListModel::clear()
{
    setEntries({});
}

QModelIndex ContactListModel::addEntry(const ContactEntry &entry)
{
    const int row =
        int(std::lower_bound(m_rows.cbegin(), m_rows.cend(), entry, entryBefore) - m_rows.cbegin());
    beginInsertRows(QModelIndex(), row, row);
    m_rows.insert(row, entry);
    endInsertRows();
    return index(row);
}

void ContactListModel::addEntries(const QList<ContactEntry> &entries)
{
    if (entries.isEmpty())
        return;
    QList<ContactEntry> merged;
    merged.reserve(m_rows.size() + entries.size());
    std::merge(m_rows.cbegin(), m_rows.cend(), entries.cbegin(), entries.cend(),
               std::back_inserter(merged), entryBefore);
    setEntries(std::move(merged));
}

void ContactListModel::removeIds(const QList<qint64> &ids)
{
    if (ids.isEmpty() || m_rows.isEmpty())
        return;
    const QSet<qint64> gone(ids.cbegin(), ids.cend());
    QList<std::pair<int, int>> runs; // first, last
    for (int row = 0; row < m_rows.size(); ++row) {
        if (!gone.contains(m_rows.at(row).id))
            continue;
        if (!runs.isEmpty() && runs.last().second == row - 1)
            runs.last().second = row;
        else
            runs.append({row, row});
    }
    if (runs.isEmpty())
        return;
    if (runs.size() > MaxRemovedRuns) {
        beginResetModel();
        m_rows.removeIf([&gone](const ContactEntry &e) { return gone.contains(e.id); });
        endResetModel();
        return;
    }
    // From the end, so the rows of the runs still to come keep their numbers.
    for (auto run = runs.crbegin(); run != runs.crend(); ++run) {
        beginRemoveRows(QModelIndex(), run->first, run->second);
        m_rows.remove(run->first, run->second - run->first + 1);
        endRemoveRows();
    }
}

QModelIndex ContactListModel::setText(qint64 id, const QString &text)
{
    const int from = rowOfId(id);
    if (from < 0)
        return QModelIndex();
    const ContactEntry moved{id, text};
    // The place among the other rows, counted as if this one were gone.
    const auto place = [&](auto first, auto last) {
        return int(std::lower_bound(first, last, moved, entryBefore) - first);
    };
    int to = place(m_rows.cbegin(), m_rows.cbegin() + from);
    if (to == from)
        to = from + place(m_rows.cbegin() + from + 1, m_rows.cend());
    if (to != from) {
        beginMoveRows(QModelIndex(), from, from, QModelIndex(), to > from ? to + 1 : to);
        m_rows.move(from, to);
        m_rows[to].text = text;
        endMoveRows();
    } else {
        m_rows[to].text = text;
    }
    const QModelIndex changed = index(to);
    emit dataChanged(changed, changed, {Qt::DisplayRole, Qt::AccessibleTextRole});
    return changed;
}

int ContactListModel::rowOfId(qint64 id) const
{
    for (int row = 0; row < m_rows.size(); ++row)
        if (m_rows.at(row).id == id)
            return row;
    return -1;
}

ContactEntry ContactListModel::entryAt(int row) const
{
    return row >= 0 && row < m_rows.size() ? m_rows.at(row) : ContactEntry();
}
