#include "contactlistwidget.h"

#include "contactlistmodel.h"

#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QListView>

ContactListWidget::ContactListWidget(ContactListModel *model, QWidget *parent)
    : QWidget(parent), m_model(model), m_view(new QListView)
{
    m_view->setObjectName(QStringLiteral("contactList"));
    m_view->setAccessibleName(tr("联系人列表"));
    // Every row has the same height, so a long list is laid out without measuring each row.
    m_view->setUniformItemSizes(true);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setModel(m_model);
    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ContactListWidget::itemSelectionChanged);
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(m_view);
}

int ContactListWidget::count() const
{
    return m_model->rowCount();
}

qint64 ContactListWidget::currentId() const
{
    const QModelIndex current = m_view->currentIndex();
    return current.isValid() ? m_model->entryAt(current.row()).id : -1;
}

QString ContactListWidget::currentText() const
{
    const QModelIndex current = m_view->currentIndex();
    return current.isValid() ? m_model->entryAt(current.row()).text : QString();
}

bool ContactListWidget::hasSelection() const
{
    return m_view->selectionModel()->hasSelection();
}

void ContactListWidget::selectId(qint64 id)
{
    const int row = m_model->rowOfId(id);
    if (row < 0)
        return;
    m_view->selectionModel()->setCurrentIndex(m_model->index(row),
                                              QItemSelectionModel::ClearAndSelect);
    m_view->scrollTo(m_model->index(row));
}

void ContactListWidget::addContact(const QString &name)
{
    const QModelIndexList rows =
        m_model->match(m_model->index(0), Qt::DisplayRole, name, 1, Qt::MatchExactly);
    if (!rows.isEmpty())
        m_view->scrollTo(rows.first());
}
