#pragma once

#include "contact.h"
#include "contactindex.h"
#include "contactstore.h"
#include "serverlink.h"

#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <functional>
#include <optional>

class ContactListModel;
class DatabaseReplacement;

// The open account: its keys, its one SQLite connection, its contacts in memory and the rows
// the contact list shows. The main window owns one and hands it to the widgets that need it.
class AccountSession : public QObject
{
    Q_OBJECT
public:
    explicit AccountSession(QObject *parent = nullptr);
    ~AccountSession() override;

    // Makes the named account current and opens its file. The account's keys are taken even
    // when the file cannot be opened: a missing file, or one that holds no contacts table, is
    // refused with the reason in errorString() and left as it is.
    bool open(const QString &name);
    // Closes the file and forgets the account; the list empties.
    void close();
    bool isOpen() const { return m_db.isOpen(); }

    QString name() const { return m_name; }
    QString databasePath() const;
    QString type() const { return m_type; }
    bool isNetwork() const;
    // The server revision the file is known to match.
    quint64 localRevision() const { return m_localRevision; }
    // Stored first, then taken; false (nothing changed) when the settings cannot be written.
    bool setLocalRevision(quint64 revision);
    bool incrementLocalRevision();
    QString serverPassword() const { return m_serverPassword; }
    bool usesPassword() const { return m_usePassword; }
    bool isUnlocked() const { return m_unlocked; }
    void setUnlocked(bool unlocked) { m_unlocked = unlocked; }
    // The protection just stored for this account. Turned on, it asks from the next opening:
    // contacts shown now stay shown.
    void setPasswordProtection(bool on)
    {
        if (on && !m_usePassword)
            m_unlocked = true;
        m_usePassword = on;
    }
    // Contacts are read and shown only from an open file, and only once a protected account
    // has been unlocked.
    bool contactsVisible() const { return isOpen() && (!m_usePassword || m_unlocked); }

    QString errorString() const { return m_error; }
    // The last open failed because the account has no file at all.
    bool fileMissing() const { return m_fileMissing; }
    ContactListModel *model() const { return m_model; }
    int contactCount() const { return m_index.size(); }

    // Reads every contact into memory and lists them all; false, with the list empty, while
    // the contacts are not visible or when the file cannot be read.
    bool reload();
    // Lists the contacts one of whose searched columns matches the text as LIKE '%text%'.
    void search(const QString &text);

    std::optional<Contact> contact(qint64 id) const;
    // Whether a contact with this name pair is stored already; false when the check failed too
    // (errorString() then says why).
    bool contains(const QString &name, const QString &firstName, bool *ok = nullptr) const;
    // The pair a delete of this contact sends and removes: the stored one, exactly, for the list
    // text loses inner and edge spaces of a given name. nullopt when there is no such contact.
    std::optional<ContactStore::NamePair> namePair(qint64 id) const;

    // The changes. A network account's change is stored only once the server has taken it:
    // answer is the finished exchange that sent it. Then the file changes and the local
    // revision rises by one, as the server's did. Without an accepting answer of that change
    // nothing is changed and errorString() says why; a local account takes none.
    //
    // Stores a new contact and lists it; contact.id is set. False, with nothing changed, when
    // the statement fails.
    bool add(Contact &contact, const ServerLink::Result *answer = nullptr);
    // Stores the contact under its id and relists it under its new text.
    bool update(const Contact &contact, const ServerLink::Result *answer = nullptr);
    // Deletes every contact with the name pair and takes them off the list.
    bool remove(const QString &name, const QString &firstName,
                const ServerLink::Result *answer = nullptr);

    // Why an import left a contact out: addMany()'s reasons, and for a network account the
    // server's refusal or an exchange that failed.
    enum class Refusal { EmptyName, Duplicate, ServerRefused, NotSent };
    struct Skipped
    {
        QString name;
        QString firstName;
        Refusal reason;
    };
    // Adds the contacts next() hands out, until it returns false (no more, or the user
    // stopped), to a local account in one transaction; then the index and the list take them
    // in one go. A contact without a name, or whose pair is stored already (also by one before
    // it), is left out and listed in *skipped; each contact starts from the one next() gives,
    // nothing of another. False, with nothing stored and errorString(), when a statement
    // fails, and for a network account, whose additions each need the server's answer.
    bool addMany(const std::function<bool(Contact *)> &next, QList<Skipped> *skipped = nullptr,
                 int *added = nullptr);

    // Every contact, sorted by name and first name. Empty and *ok false (errorString()) when
    // they cannot be read or are not visible.
    QList<Contact> allContacts(bool *ok = nullptr) const;
    // Every row with the name pair of the contact with this id: what a choice of that contact
    // in the list stands for.
    QList<Contact> contactsLike(qint64 id, bool *ok = nullptr) const;

    // Puts a received or imported database in the place of the account's file. The new file is
    // checked while the old connection stays open; then the connection closes, the new file
    // takes the old one's name and is opened, and the index and the list are reloaded. A failure
    // before the rename leaves the old file open as it was; errorString() says why. With a
    // revision (the server's, after a transfer) the local revision takes it once the file is in
    // place.
    bool replaceDatabase(DatabaseReplacement &replacement,
                         std::optional<quint64> revision = std::nullopt);

private:
    bool fail(const QString &error) const;
    bool openConnection();
    void dropConnection();
    // Runs one change of the file in a transaction together with, for a network account, the
    // local revision's rise: both are kept or neither. false with errorString() otherwise.
    bool change(ServerLink::Exchange exchange, const ServerLink::Result *answer,
                const std::function<bool(ContactStore &)> &statement);
    // Checked apart, so that no handle on the connection is left when it is dropped.
    bool hasContactsTable(QString *error) const;

    QString m_name;
    QString m_type;
    quint64 m_localRevision = 0;
    QString m_serverPassword;
    bool m_usePassword = false;
    bool m_unlocked = false;
    bool m_fileMissing = false;
    QString m_connectionName;
    QSqlDatabase m_db;
    ContactIndex m_index;
    ContactListModel *m_model;
    mutable QString m_error;
};
