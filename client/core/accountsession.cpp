#include "accountsession.h"

#include "accounts.h"
#include "contactlistmodel.h"
#include "contactstore.h"

#include <QAtomicInt>
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
    const QString path = Accounts::databasePath(name);
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
    m_error.clear();
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

bool AccountSession::add(Contact &contact)
{
    if (!contactsVisible())
        return fail(tr("数据库未开启"));
    contact.normalise();
    ContactStore store(m_db);
    if (!store.insert(contact, &contact.id))
        return fail(store.lastError());
    m_index.insert(contact);
    // The index's text is the one a reload would show.
    m_model->addEntry(m_index.entry(contact.id));
    return true;
}

bool AccountSession::update(const Contact &contact)
{
    if (!contactsVisible())
        return fail(tr("数据库未开启"));
    Contact stored = contact;
    stored.normalise();
    ContactStore store(m_db);
    if (!store.update(quint64(stored.id), stored))
        return fail(store.lastError());
    m_index.update(stored);
    m_model->setText(stored.id, m_index.entry(stored.id).text);
    return true;
}

bool AccountSession::remove(const QString &name, const QString &firstName)
{
    if (!contactsVisible())
        return fail(tr("数据库未开启"));
    ContactStore store(m_db);
    const QList<qint64> ids = store.idsOf(name, firstName);
    if (!store.lastError().isEmpty() || !store.remove(name, firstName))
        return fail(store.lastError());
    for (qint64 id : ids)
        m_index.remove(id);
    m_model->removeIds(ids);
    return true;
}
