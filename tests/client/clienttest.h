#pragma once

// Helpers shared by the client's GUI tests: a clean store, ready-made accounts, and running
// the application's event loop to see whether the program asked to end.

#include "accounts.h"
#include "contactstore.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QSqlDatabase>
#include <QTimer>
#include <functional>

namespace ClientTest {

inline QSettings rawStore()
{
    return QSettings(Accounts::Organisation, Accounts::Application);
}

inline void resetStore()
{
    QSettings store(Accounts::Organisation, Accounts::Application);
    store.clear();
    store.sync();
    QDir(QDir::homePath() + QStringLiteral("/.pelicard")).removeRecursively();
}

inline Contact contact(const QString &name, const QString &firstName)
{
    Contact c;
    c.name = name;
    c.firstName = firstName;
    c.normalise();
    return c;
}

// An account in the store with its file holding the given contacts.
inline void addAccount(const QString &name, const QList<Contact> &contacts = {},
                       bool network = false, const QString &password = QString())
{
    Accounts::NewAccount account;
    account.name = name;
    account.network = network;
    account.usePassword = !password.isEmpty();
    account.password = password;
    account.serverPassword = QStringLiteral("server");
    Accounts::create(account);
    QDir().mkpath(Accounts::databaseDirectory());
    ContactStore::createDatabase(Accounts::databasePath(name));
    if (contacts.isEmpty())
        return;
    const QString connection = QStringLiteral("clienttest-fill");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(Accounts::databasePath(name));
        db.open();
        ContactStore store(db);
        for (const Contact &c : contacts)
            store.insert(c);
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
}

// Exit code of the event loop when the action did not end it.
constexpr int NotQuit = 42;

// Runs the application's event loop with the action as its first event. Returns the code the
// program ended the loop with, or NotQuit when the action did not end it.
inline int exitCodeAfter(const std::function<void()> &action)
{
    QTimer::singleShot(0, qApp, [action] {
        action();
        QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(NotQuit); });
    });
    return QCoreApplication::exec();
}

} // namespace ClientTest
