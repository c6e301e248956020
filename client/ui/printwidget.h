#pragma once

#include <QWidget>

class AccountSession;
class ContactListWidget;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The print page of the main window: the selected contact or all of them.
class PrintWidget : public QWidget
{
    Q_OBJECT
public:
    PrintWidget(AccountSession *session, ContactListWidget *list, QWidget *parent = nullptr);

    // Shows the contact chosen in the list, or that there is none; each time the page shows.
    void refresh();
    // The list's chosen contact, -1 when none is.
    qint64 selectedId() const;

    QLineEdit *selectionEdit() const { return m_selection; }
    QRadioButton *selectedRadioButton() const { return m_selected; }
    QRadioButton *allRadioButton() const { return m_all; }
    QPushButton *backButton() const { return m_back; }
    QPushButton *printButton() const { return m_print; }

private:
    AccountSession *m_session;
    ContactListWidget *m_list;
    QRadioButton *m_selected;
    QLineEdit *m_selection;
    QRadioButton *m_all;
    QPushButton *m_back;
    QPushButton *m_print;
};
