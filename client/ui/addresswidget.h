#pragma once

#include "accountsession.h"
#include "contact.h"

#include <QPointer>
#include <QWidget>
#include <array>

class ContactListWidget;
class NetworkRunner;
class PassWidget;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QToolButton;

// The contact form: shows the contact chosen in the list, and takes a new or changed one. The
// account session behind it does the storing; the form decides what to ask and tell.
class AddressWidget : public QWidget
{
    Q_OBJECT
public:
    static constexpr int CustomRows = 6;
    // What printContacts() takes: the contact chosen in the list, or all of them.
    enum Which { SelectedContacts = 1, AllContacts = 2 };

    AddressWidget(AccountSession *session, ContactListWidget *list, QWidget *parent = nullptr);
    ~AddressWidget() override;

    // Opens the current account's file; false (after telling the user why, when there is an
    // account) when it cannot.
    bool openDatabase();
    // A network account's changes go through it; the form holds still while it is busy.
    void setNetwork(NetworkRunner *network);
    void closeDatabase();

    // Fills the list from the database; false when it stays empty (no account, or the
    // account's password is being asked for).
    bool loadList();
    void clearForm();

    bool passwordVerified() const;
    void setPasswordVerified(bool verified);
    // The password prompt while it is shown.
    PassWidget *passWidget() const;
    bool isEditable() const { return m_editable; }
    bool isEditing() const { return m_editing; }
    int customCount() const { return m_customCount; }
    qint64 currentId() const { return m_currentId; }

    // Writes the chosen contacts as cards to a file the user names.
    void exportvCard(bool all);
    // Prints the contacts, or writes them as PDF to a file the user names.
    void printContacts(int which, bool pdf);

signals:
    void editModeSignal(bool activated);
    void addContactListSignal(const QString &name);
    void updateActionsSignal();
    // A protected account's list was held back until its password is typed.
    void passwordRequested();
    // The prompt ended: the list is filled, or the account stays locked.
    void passwordAccepted();
    void passwordCanceled();
    // A text for the main window's status bar, shown until the next one.
    void statusMessage(const QString &text);

public slots:
    void addCustomEditField();
    void addContact();
    void editContactSlot();
    void searchSlot(const QString &searchText);
    void importvCard();
    void deleteContactSlot();
    void checkPassSlot();
    void passCancelSlot();

private slots:
    void cancelEditSlot();
    void saveEditSlot();
    void handleRemoveCustom();
    void selectionChangedSlot();
    void mapButtonSlot();
    void emailButtonSlot();
    void webButtonSlot();
    void setEditable(bool editable);

private:
    struct CustomRow
    {
        QLineEdit *label = nullptr;
        QLineEdit *value = nullptr;
        QToolButton *remove = nullptr;
    };

    void buildForm();
    void askPassword();
    void closePrompt();
    QList<QLineEdit *> lineEdits() const;
    Contact formContact() const;
    void showContact(const Contact &contact);
    void showCustomRow(int row, const QString &label, const QString &value);
    // A network account's slot asks the server's revision first and runs again once the copy
    // is current; true while that check stands in for the slot.
    bool checkRevisionFirst(void (AddressWidget::*slot)());
    void setNetworkBusy(bool busy);
    // The ends of a save, after the local store or the server's acceptance.
    void contactInserted();
    void contactUpdated(qint64 id);
    void databaseError();
    bool insertContact();
    bool updateContact();
    QList<Contact> chosenContacts(bool all, bool *ok);
    // One box for the cards an import left out, after the note on how it ended, if any.
    void reportSkipped(const QList<AccountSession::Skipped> &skipped,
                       const QString &note = QString());
    // A network account's import: each card goes to the server on its own.
    void importToServer(const QList<Contact> &cards);

    AccountSession *m_session;
    ContactListWidget *m_list;
    NetworkRunner *m_network = nullptr;
    QPointer<PassWidget> m_passWidget;
    bool m_revisionChecked = false;
    bool m_editing = false;
    bool m_editable = false;
    qint64 m_currentId = -1;
    int m_customCount = 0;

    QLabel *m_picture = nullptr;
    QLineEdit *m_name = nullptr;
    QLineEdit *m_firstName = nullptr;
    QLineEdit *m_work = nullptr;
    QLineEdit *m_home = nullptr;
    QLineEdit *m_mobile = nullptr;
    QLineEdit *m_address = nullptr;
    QLineEdit *m_zip = nullptr;
    QLineEdit *m_town = nullptr;
    QLineEdit *m_email = nullptr;
    QLineEdit *m_web = nullptr;
    QPlainTextEdit *m_notes = nullptr;
    QPushButton *m_addCustom = nullptr;
    QToolButton *m_cancel = nullptr;
    QToolButton *m_save = nullptr;
    QToolButton *m_map = nullptr;
    QToolButton *m_mail = nullptr;
    QToolButton *m_webButton = nullptr;
    std::array<CustomRow, CustomRows> m_custom;
};
