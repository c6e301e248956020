#include "accountsession.h"

#include "accounts.h"
#include "contactlistmodel.h"
#include "contactstore.h"
#include "databasefile.h"

#include <QAtomicInt>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>

AccountSession::AccountSession(QObject *parent)
    : QObject(parent), m_model(new ContactListModel(this))
{
    static QAtomicInt serial;
    m_connectionName = QStringLiteral("pelicard-account-%1").arg(serial.fetchAndAddRelaxed(1));
}

AccountSession::~AccountSession()
{
    close();
}

bool AccountSession::isNetwork() const
{
    return m_type == Accounts::NetworkType;
}

bool AccountSession::fail(const QString &error) const
{
    m_error = error;
    return false;
}

bool AccountSession::open(const QString &name)
{
    close();
    m_name = name;
    m_type = Accounts::isNetwork(name) ? Accounts::NetworkType : Accounts::LocalType;
    m_usePassword = Accounts::usePassword(name);
    if (isNetwork()) {
        m_localRevision = Accounts::localRevision(name);
        m_serverPassword = Accounts::serverPasswordText(name);
    }
    if (!openConnection())
        return false;
    m_error.clear();
    return true;
}

QString AccountSession::databasePath() const
{
    return Accounts::databasePath(m_name);
}

bool AccountSession::openConnection()
{
    const QString path = databasePath();
    // SQLite would create a missing file; an account never gets an empty one behind its back.
    m_fileMissing = !QFileInfo::exists(path);
    if (m_fileMissing)
        return fail(tr("数据库不存在!"));
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    m_db.setDatabaseName(path);
    // The account stays current when its file is unusable; only the connection goes.
    if (!m_db.open()) {
        const QString error = m_db.lastError().text();
        dropConnection();
        return fail(error);
    }
    // SQLite opens any file lazily: garbage or an empty file only shows when it is read.
    QString error;
    if (!hasContactsTable(&error)) {
        dropConnection();
        return fail(error);
    }
    return true;
}

bool AccountSession::hasContactsTable(QString *error) const
{
    ContactStore store(m_db);
    if (store.hasContactsTable())
        return true;
    *error = store.lastError();
    return false;
}

void AccountSession::close()
{
    m_index.clear();
    m_model->clear();
    m_unlocked = false;
    m_name.clear();
    m_type.clear();
    m_localRevision = 0;
    m_serverPassword.clear();
    m_usePassword = false;
    dropConnection();
}

void AccountSession::dropConnection()
{
    if (!m_db.isValid())
        return;
    m_db.close();
    m_db = QSqlDatabase(); // the last handle must go before the name is removed
    QSqlDatabase::removeDatabase(m_connectionName);
}

bool AccountSession::reload()
{
    m_index.clear();
    m_model->clear();
    if (!contactsVisible())
        return false;
    QString error;
    if (!m_index.load(m_db, &error))
        return fail(error);
    m_model->setEntries(m_index.entries());
    return true;
}

void AccountSession::search(const QString &text)
{
    if (!contactsVisible()) {
        m_model->clear();
        return;
    }
    m_model->setEntries(m_index.search(text));
}

std::optional<Contact> AccountSession::contact(qint64 id) const
{
    if (!contactsVisible())
        return std::nullopt;
    return ContactStore(m_db).findById(id);
}

bool AccountSession::contains(const QString &name, const QString &firstName, bool *ok) const
{
    ContactStore store(m_db);
    const bool found = store.find(name, firstName).has_value();
    const bool failed = !store.lastError().isEmpty();
    if (failed)
        m_error = store.lastError();
    if (ok)
        *ok = !failed;
    return found;
}

bool AccountSession::setLocalRevision(quint64 revision)
{
    if (!Accounts::setLocalRevision(m_name, revision))
        return fail(tr("无法保存本地版本号: %1").arg(Accounts::errorString()));
    m_localRevision = revision;
    return true;
}

bool AccountSession::incrementLocalRevision()
{
    return setLocalRevision(m_localRevision + 1);
}

std::optional<ContactStore::NamePair> AccountSession::namePair(qint64 id) const
{
    const std::optional<Contact> stored = contact(id);
    if (!stored) {
        fail(tr("联系人不存在"));
        return std::nullopt;
    }
    return ContactStore::NamePair(stored->name, stored->firstName);
}

bool AccountSession::change(ServerLink::Exchange exchange, const ServerLink::Result *answer,
                            const std::function<bool(ContactStore &)> &statement)
{
    if (!contactsVisible())
        return fail(tr("数据库未开启"));
    if (isNetwork()) {
        if (!answer || answer->exchange != exchange)
            return fail(tr("网络帐户的更改须先由服务器接受"));
        if (!answer->ok())
            return fail(tr("服务器未接受此更改"));
    } else if (answer) {
        return fail(tr("本地帐户的更改不经服务器"));
    }
    // Stored and counted together: a copy whose revision says it holds a change it lacks would
    // never be synchronised again, and one that holds a change it does not count is
    // synchronised at the next check.
    ContactStore store(m_db);
    if (!m_db.transaction())
        return fail(m_db.lastError().text());
    const quint64 before = m_localRevision;
    QString error;
    if (!statement(store))
        error = store.lastError();
    else if (isNetwork() && !incrementLocalRevision())
        error = m_error;
    else if (!m_db.commit())
        error = m_db.lastError().text();
    if (error.isEmpty())
        return true;
    m_db.rollback();
    if (m_localRevision != before)
        setLocalRevision(before);
    return fail(error);
}

bool AccountSession::add(Contact &contact, const ServerLink::Result *answer)
{
    contact.normalise();
    qint64 id = -1;
    if (!change(ServerLink::Exchange::AddContact, answer,
                [&](ContactStore &store) { return store.insert(contact, &id); }))
        return false;
    contact.id = id;
    m_index.insert(contact);
    // The index's text is the one a reload would show.
    m_model->addEntry(m_index.entry(contact.id));
    return true;
}

bool AccountSession::update(const Contact &contact, const ServerLink::Result *answer)
{
    Contact stored = contact;
    stored.normalise();
    if (!change(ServerLink::Exchange::EditContact, answer,
                [&](ContactStore &store) { return store.update(quint64(stored.id), stored); }))
        return false;
    m_index.update(stored);
    m_model->setText(stored.id, m_index.entry(stored.id).text);
    return true;
}

bool AccountSession::remove(const QString &name, const QString &firstName,
                            const ServerLink::Result *answer)
{
    QList<qint64> ids;
    if (!change(ServerLink::Exchange::DeleteContact, answer, [&](ContactStore &store) {
            ids = store.idsOf(name, firstName);
            return store.lastError().isEmpty() && store.remove(name, firstName);
        }))
        return false;
    for (qint64 id : std::as_const(ids))
        m_index.remove(id);
    m_model->removeIds(ids);
    return true;
}

bool AccountSession::addMany(const std::function<bool(Contact *)> &next, QList<Skipped> *skipped,
                             int *added)
{
    if (added)
        *added = 0;
    if (!contactsVisible())
        return fail(tr("数据库未开启"));
    if (isNetwork())
        return fail(tr("网络帐户的联系人须逐个经服务器添加"));
    if (!m_db.transaction())
        return fail(m_db.lastError().text());
    QList<Contact> stored;
    QList<Skipped> left;
    QString error;
    {
        ContactStore store(m_db);
        ContactStore::Inserter inserter(store);
        Contact c;
        while (next(&c)) {
            c.normalise();
            const bool unnamed = c.name.trimmed().isEmpty();
            std::optional<bool> found = false;
            if (!unnamed)
                found = inserter.contains(c.name, c.firstName);
            if (found && (unnamed || *found)) {
                left.append(
                    {c.name, c.firstName, unnamed ? Refusal::EmptyName : Refusal::Duplicate});
            } else if (!found || !inserter.insert(c, &c.id)) {
                error = store.lastError();
                break;
            } else {
                stored.append(c);
            }
            c = Contact();
        }
    }
    if (error.isEmpty() && !m_db.commit())
        error = m_db.lastError().text();
    if (!error.isEmpty()) {
        m_db.rollback();
        return fail(error);
    }
    m_model->addEntries(m_index.addMany(stored));
    if (skipped)
        *skipped = left;
    if (added)
        *added = int(stored.size());
    return true;
}

QList<Contact> AccountSession::allContacts(bool *ok) const
{
    bool read = contactsVisible();
    QList<Contact> contacts;
    if (!read) {
        fail(tr("数据库未开启"));
    } else {
        ContactStore store(m_db);
        contacts = store.all();
        read = store.lastError().isEmpty();
        if (!read)
            fail(store.lastError());
    }
    if (ok)
        *ok = read;
    return contacts;
}

QList<Contact> AccountSession::contactsLike(qint64 id, bool *ok) const
{
    QList<Contact> contacts;
    const std::optional<ContactStore::NamePair> pair = namePair(id);
    bool read = pair.has_value();
    if (read) {
        ContactStore store(m_db);
        const QList<qint64> ids = store.idsOf(pair->first, pair->second);
        read = store.lastError().isEmpty();
        for (qsizetype i = 0; read && i < ids.size(); ++i) {
            const std::optional<Contact> c = store.findById(ids[i]);
            read = c.has_value();
            if (c)
                contacts.append(*c);
        }
        if (!read)
            fail(store.lastError().isEmpty() ? tr("联系人不存在") : store.lastError());
    }
    if (ok)
        *ok = read;
    return contacts;
}

bool AccountSession::replaceDatabase(DatabaseReplacement &replacement,
                                     std::optional<quint64> revision)
{
    if (m_name.isEmpty())
        return fail(tr("没有打开的帐户"));
    if (replacement.target() != databasePath())
        return fail(tr("新数据库不属于此帐户"));
    // Known good before the old file is let go.
    if (!replacement.check())
        return fail(replacement.errorString());
    const bool wasOpen = isOpen();
    dropConnection();
    if (!replacement.commit()) {
        const QString error = replacement.errorString();
        if (wasOpen)
            openConnection(); // the old file, as it was
        return fail(error);
    }
    if (!openConnection())
        return false;
    if (contactsVisible() && !reload())
        return false;
    if (!contactsVisible()) {
        m_index.clear();
        m_model->clear();
    }
    if (revision && !setLocalRevision(*revision))
        return false;
    m_error.clear();
    return true;
}
