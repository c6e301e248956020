#pragma once

#include <QWidget>

class AccountSession;
class AddressWidget;
class ContactListWidget;
class SearchWidget;

// The contact page: search field, contact list and contact form, top to bottom.
class MainWidget : public QWidget
{
    Q_OBJECT
public:
    explicit MainWidget(AccountSession *session, QWidget *parent = nullptr);

    SearchWidget *searchWidget() const { return m_search; }
    ContactListWidget *contactListWidget() const { return m_list; }
    AddressWidget *addressWidget() const { return m_address; }

private:
    SearchWidget *m_search = nullptr;
    ContactListWidget *m_list = nullptr;
    AddressWidget *m_address = nullptr;
};
