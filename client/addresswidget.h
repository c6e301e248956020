#pragma once

#include <QSqlDatabase>
#include <QWidget>
#include <array>

class MainWidget;
class MainWindow;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QToolButton;

// The contact form. It also owns the current account's database connection (the default
// connection) and fills the contact list from it.
class AddressWidget : public QWidget
{
    Q_OBJECT
public:
    static constexpr int CustomRows = 6;

    explicit AddressWidget(MainWidget *parent);
    ~AddressWidget() override;

    // Opens the current account's file on the default connection; false (after telling the
    // user why, when there is an account) when it cannot.
    bool openDatabase();
    // Closes the connection and lets the registration go.
    void closeDatabase();
    QSqlDatabase database() const { return m_db; }

    // Fills the list from the database; false when it stays empty (no account, or the
    // account's password is being asked for).
    bool loadList();
    void clearForm();

    bool passwordVerified() const { return m_passwordVerified; }
    void setPasswordVerified(bool verified) { m_passwordVerified = verified; }
    bool isEditable() const { return m_editable; }
    bool isEditing() const { return m_editing; }
    int customCount() const { return m_customCount; }
    qint64 currentId() const { return m_currentId; }

signals:
    void editModeSignal(bool activated);
    void addContactListSignal(const QString &name);
    void updateActionsSignal();
    // A protected account's list was held back until its password is typed.
    void passwordRequested();

public slots:
    void addCustomEditField();
    void addContact();
    void editContactSlot();
    void searchSlot(const QString &searchText);
    void importvCard();
    void deleteContactSlot();

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
    QString currentAccount() const;
    void askPassword();
    QList<QLineEdit *> lineEdits() const;

    MainWidget *m_mainWidget;
    MainWindow *m_mainWindow;
    QSqlDatabase m_db;
    bool m_passwordVerified = false;
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
