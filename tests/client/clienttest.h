#pragma once

// Helpers shared by the client's tests: a clean store, ready-made accounts, reading the store
// back, finding and driving widgets, the boxes shown, the addresses opened, and running the
// application's event loop to see whether the program asked to end.

#include "accounts.h"
#include "addresswidget.h"
#include "contactlistwidget.h"
#include "contactstore.h"
#include "mainwidget.h"
#include "mainwindow.h"
#include "scripteddialogs.h"
#include "searchwidget.h"
#include "testhome.h"
#include "updatecheck.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QLineEdit>
#include <QListView>
#include <QPointer>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QTimer>
#include <functional>
#include <memory>
#include <tuple>

namespace ClientTest {

inline QSettings rawStore()
{
    return QSettings(Accounts::Organisation, Accounts::Application);
}

inline void resetStore()
{
    // Windows check for updates at start; a closed local port answers at once, and no lookup
    // leaves the machine.
    UpdateCheck::setDefaultAddressForTesting(QUrl(QStringLiteral("http://127.0.0.1:1/")));
    rawStore().clear();
    QDir(QDir::homePath() + QStringLiteral("/.pelicard")).removeRecursively();
}

// A clean store and home, a script with nothing shown or queued, and a connection left
// registered or in use behind taken as a fault.
inline void freshStart(ScriptedDialogs &dialogs)
{
    resetStore();
    dialogs.shown.clear();
    dialogs.answers.clear();
    dialogs.fileNames.clear();
    QTest::failOnWarning(QRegularExpression(QStringLiteral("QSqlDatabase")));
}

// A group of the store as sorted "key=value" texts; a list's items are joined with ",", and
// bytes (the digests) are shown as "0x" and their hex digits.
inline QStringList groupOf(const QString &group)
{
    QSettings store = rawStore();
    store.beginGroup(group);
    QStringList keys;
    for (const QString &key : store.childKeys()) {
        const QVariant value = store.value(key);
        QString text = value.toString();
        if (value.typeId() == QMetaType::QByteArray)
            text = QLatin1String("0x") + value.toByteArray().toHex();
        else if (value.typeId() == QMetaType::QStringList)
            text = value.toStringList().join(QLatin1Char(','));
        keys << key + QLatin1Char('=') + text;
    }
    keys.sort();
    return keys;
}

// Runs the work on a connection of its own to the file.
inline void withDatabase(const QString &path, const std::function<void(QSqlDatabase &)> &work)
{
    const QString connection = QStringLiteral("clienttest");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        db.open();
        work(db);
    }
    QSqlDatabase::removeDatabase(connection);
}

// A contacts database holding the contacts given as list entries.
inline void createContactsFile(const QString &path, const QStringList &contacts)
{
    ContactStore::createDatabase(path);
    withDatabase(path, [&](QSqlDatabase &db) {
        for (const QString &text : contacts) {
            Contact c;
            std::tie(c.name, c.firstName) = Contact::splitDisplayText(text);
            c.normalise();
            QVERIFY(ContactStore(db).insert(c));
        }
    });
}

// An account in the store with its file holding the contacts given as list entries.
inline void addAccount(const QString &name, const QStringList &contacts = {}, bool network = false,
                       const QString &password = QString())
{
    // Name, network, usePassword, password, host, port, server password.
    QVERIFY(Accounts::create({name, network, !password.isEmpty(), password, Accounts::DefaultHost,
                              Accounts::DefaultPort, QStringLiteral("server")}));
    QDir().mkpath(Accounts::databaseDirectory());
    createContactsFile(Accounts::databasePath(name), contacts);
}

template <typename T = QAction> T *find(const QObject *parent, const QString &name)
{
    T *found = parent->findChild<T *>(name);
    if (!found)
        qFatal("no child %s", qPrintable(name));
    return found;
}

inline void click(const QObject *parent, const QString &button)
{
    find<QAbstractButton>(parent, button)->click();
}

inline QLineEdit *edit(const QObject &parent, const QString &name)
{
    return find<QLineEdit>(&parent, name);
}

inline ContactListWidget *list(const MainWindow &w)
{
    return w.mainWidget()->contactListWidget();
}

inline AddressWidget *form(const MainWindow &w)
{
    return w.mainWidget()->addressWidget();
}

inline QLineEdit *searchField(const MainWindow &w)
{
    return w.mainWidget()->searchWidget()->lineEdit();
}

inline QStringList listTexts(const ContactListWidget *list)
{
    QStringList texts;
    const QAbstractItemModel *model = list->listView()->model();
    for (int i = 0; i < model->rowCount(); ++i)
        texts << model->index(i, 0).data().toString();
    return texts;
}

// Makes a row current and selected, as a click on it does.
inline void selectRow(const ContactListWidget *list, int row)
{
    QListView *view = list->listView();
    view->selectionModel()->setCurrentIndex(view->model()->index(row, 0),
                                            QItemSelectionModel::ClearAndSelect);
}

// Every box shown so far as "kind|title|text".
inline QStringList boxes(const ScriptedDialogs &dialogs)
{
    QStringList all;
    for (const ScriptedDialogs::Shown &s : dialogs.shown)
        all << s.kind + QLatin1Char('|') + s.title + QLatin1Char('|') + s.text;
    return all;
}

// Fills the wizard's first page and presses "next".
inline void fillFirstPage(const QObject *wizard, const QString &name, bool network)
{
    find<QLineEdit>(wizard, QStringLiteral("accountNameEdit"))->setText(name);
    find<QRadioButton>(wizard, QStringLiteral("networkRadioButton"))->setChecked(network);
    click(wizard, QStringLiteral("nextButton"));
}

// Records, encoded, the addresses the program hands to the desktop instead of a browser.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    UrlRecorder()
    {
        for (const char *scheme : {"http", "https", "mailto"})
            QDesktopServices::setUrlHandler(QLatin1String(scheme), this, "open");
    }
    ~UrlRecorder() override
    {
        for (const char *scheme : {"http", "https", "mailto"})
            QDesktopServices::unsetUrlHandler(QLatin1String(scheme));
    }
    QStringList urls;

public slots:
    void open(const QUrl &url) { urls << QString::fromLatin1(url.toEncoded()); }
};

// Waits until an object handed to deleteLater() is gone.
template <typename T> bool deleted(const QPointer<T> &object)
{
    return object.isNull() || QSignalSpy(object.data(), &QObject::destroyed).wait();
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
