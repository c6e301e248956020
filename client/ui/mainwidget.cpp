#include "mainwidget.h"

#include "accountsession.h"
#include "addresswidget.h"
#include "contactlistwidget.h"
#include "searchwidget.h"

#include <QVBoxLayout>

MainWidget::MainWidget(AccountSession *session, QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("mainWidget"));
    // The form opens the account and fills the list while it is built, so the list comes first.
    m_search = new SearchWidget(this);
    m_list = new ContactListWidget(session->model(), this);
    m_address = new AddressWidget(session, m_list, this);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_search);
    layout->addWidget(m_list);
    layout->addWidget(m_address);
}
