#include "contactlistwidget.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QListWidget>

ContactListWidget::ContactListWidget(QWidget *parent) : QWidget(parent), m_list(new QListWidget)
{
    m_list->setObjectName(QStringLiteral("contactList"));
    m_list->setSortingEnabled(true);
    m_list->sortItems(Qt::AscendingOrder);
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(m_list);
}

void ContactListWidget::addContact(const QString &name)
{
    m_list->addItem(new QListWidgetItem(QIcon(QStringLiteral(":/icons/list_contact.png")), name));
}
