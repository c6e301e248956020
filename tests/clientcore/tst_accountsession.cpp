#include "accounts.h"
#include "accountsession.h"
#include "contactlistmodel.h"
#include "contactstore.h"
#include "databasefile.h"
#include "sqliteconnection.h"
#include "testclient.h"
#include "testhome.h"

#include <QDateTime>
#include <QDir>
#include <QSettings>

namespace {

const QString Leaving = QStringLiteral("Wang  Xiao  Ming "); // given name " Xiao  Ming "
const QStringList Before{Leaving, "Wang Xiao Ming", "Zhao Lei", "zhou Zi"};

// A contacts file holding "name|firstName|notes" entries.
bool writeDatabase(const QString &path, const QStringList &contacts)
{
    SqliteConnection connection(path, QStringLiteral("fill"));
    if (!ContactStore::createDatabase(path) || !connection.open())
        return false;
    for (const QString &entry : contacts) {
        Contact c;
        const QStringList values = (entry + "||").split('|');
        c.name = values[0];
        c.firstName = values[1];
        c.notes = values[2];
        c.normalise();
        if (!ContactStore(connection.db()).insert(c))
            return false;
    }
    return true;
}

QStringList listed(const AccountSession &session)
{
    QStringList texts;
    for (int row = 0; row < session.model()->rowCount(); ++row)
        texts << session.model()->entryAt(row).text;
    return texts;
}

qint64 idOf(const AccountSession &session, const QString &text)
{
    for (int row = 0; row < session.model()->rowCount(); ++row)
        if (session.model()->entryAt(row).text == text)
            return session.model()->entryAt(row).id;
    return -1;
}

} // namespace

class TestAccountSession : public QObject
{
    Q_OBJECT

    int m_accounts = 0;

    // A new account holding the contacts of Before, opened and listed; a network one at
    // revision 5.
    bool openAccount(AccountSession &session, bool network)
    {
        Accounts::NewAccount account;
        account.name = QStringLiteral("a%1").arg(++m_accounts);
        account.network = network;
        return Accounts::create(account) &&
               (!network || Accounts::setLocalRevision(account.name, 5)) &&
               QDir().mkpath(Accounts::databaseDirectory()) &&
               writeDatabase(
                   Accounts::databasePath(account.name),
                   {"Wang| Xiao  Ming |Zz leaving", "Wang|Xiao Ming", "Zhao|Lei", "zhou|Zi"}) &&
               session.open(account.name) && session.reload();
    }

private slots:
    void change_data()
    {
        QTest::addColumn<bool>("network");
        QTest::addColumn<QString>("operation");
        QTest::addColumn<ServerLink::Exchange>("answered"); // None: no answer
        QTest::addColumn<ServerLink::Outcome>("outcome");
        QTest::addColumn<bool>("storeWritable");
        QTest::addColumn<QStringList>("texts"); // Before: nothing changed
        QTest::addColumn<quint64>("revision");

        using E = ServerLink::Exchange;
        using O = ServerLink::Outcome;
        const QStringList added{"New 1", Leaving, "Wang Xiao Ming", "Zhao Lei", "zhou Zi"};
        const QStringList updated{Leaving, "Wang Xiao Ming", "Zhao Lei2", "zhou Zi"};
        const QStringList removed{"Wang Xiao Ming", "Zhao Lei", "zhou Zi"};
        const QStringList replaced{"R 1", "R 2"};
        const auto row = [](const char *name, bool network, const char *operation, E answered,
                            O outcome, const QStringList &texts, quint64 revision,
                            bool writable = true) {
            QTest::newRow(name) << network << QString(operation) << answered << outcome << writable
                                << texts << revision;
        };
        row("local add", false, "add", E::None, O::Ok, added, 0);
        row("local update", false, "update", E::None, O::Ok, updated, 0);
        row("local remove", false, "remove", E::None, O::Ok, removed, 0);
        row("local import", false, "replace", E::None, O::Ok, replaced, 0);
        row("local add with an answer", false, "add", E::AddContact, O::Ok, Before, 0);
        row("add accepted", true, "add", E::AddContact, O::Ok, added, 6);
        row("add refused", true, "add", E::AddContact, O::Refused, Before, 5);
        row("add unanswered", true, "add", E::None, O::Ok, Before, 5);
        row("add answered for another", true, "add", E::RevisionQuery, O::Ok, Before, 5);
        row("add, store unwritable", true, "add", E::AddContact, O::Ok, Before, 5, false);
        row("update accepted", true, "update", E::EditContact, O::Ok, updated, 6);
        row("update timed out", true, "update", E::EditContact, O::TimedOut, Before, 5);
        row("remove accepted", true, "remove", E::DeleteContact, O::Ok, removed, 6);
        row("remove cut off", true, "remove", E::DeleteContact, O::ReplyCutOff, Before, 5);
        row("synchronised", true, "replace", E::DatabaseTransfer, O::Ok, replaced, 9);
        row("received no database", true, "garbage", E::DatabaseTransfer, O::Ok, Before, 5);
    }

    void change()
    {
        QFETCH(bool, network);
        QFETCH(QString, operation);
        QFETCH(ServerLink::Exchange, answered);
        QFETCH(ServerLink::Outcome, outcome);
        QFETCH(bool, storeWritable);
        QFETCH(QStringList, texts);
        QFETCH(quint64, revision);
        AccountSession session;
        QVERIFY(openAccount(session, network));
        QCOMPARE(listed(session), Before);
        ServerLink::Result answer;
        answer.exchange = answered;
        answer.outcome = outcome;
        const ServerLink::Result *given =
            answered == ServerLink::Exchange::None ? nullptr : &answer;
        const QString store = QSettings(Accounts::Organisation, Accounts::Application).fileName();
        if (!storeWritable) // a folder in the file's place: not even root can write it
            QVERIFY(QFile::rename(store, store + ".kept") && QDir().mkdir(store));

        bool done = false;
        if (operation == "add") {
            Contact c;
            c.name = QStringLiteral("New");
            c.firstName = QStringLiteral("1");
            done = session.add(c, given);
            QCOMPARE(c.id > 0, done);
        } else if (operation == "update") {
            std::optional<Contact> c = session.contact(idOf(session, "Zhao Lei"));
            QVERIFY(c);
            c->firstName = QStringLiteral("Lei2");
            done = session.update(*c, given);
        } else if (operation == "remove") {
            // The stored pair: the list text has lost the given name's inner and edge spaces.
            const auto pair = session.namePair(idOf(session, Leaving));
            QVERIFY(pair);
            QCOMPARE(*pair, ContactStore::NamePair("Wang", " Xiao  Ming "));
            done = session.remove(pair->first, pair->second, given);
        } else {
            const QString source = session.databasePath() + ".source";
            QFile file(source);
            QVERIFY(operation == "replace" ? writeDatabase(source, {"R|1", "R|2"})
                                           : file.open(QIODevice::WriteOnly) && file.write("x"));
            file.close();
            DatabaseReplacement replacement(session.databasePath());
            QVERIFY(file.open(QIODevice::ReadOnly) && replacement.open() &&
                    replacement.copyFrom(&file) && file.remove());
            done = session.replaceDatabase(replacement,
                                           given ? std::optional<quint64>(9) : std::nullopt);
        }
        if (!storeWritable) {
            QVERIFY(QDir().rmdir(store) && QFile::rename(store + ".kept", store));
            QFile touched(store); // read anew, as a store that changed since
            QVERIFY(touched.open(QIODevice::ReadWrite));
            QVERIFY(touched.setFileTime(QDateTime::currentDateTime().addSecs(2),
                                        QFileDevice::FileModificationTime));
        }

        QCOMPARE(done, texts != Before);
        QCOMPARE(session.errorString().isEmpty(), done);
        QVERIFY(session.isOpen());
        QCOMPARE(listed(session), texts);
        QStringList stored = TestClient::viewFile(session.databasePath()).names;
        stored.sort();
        QCOMPARE(stored, texts);
        QCOMPARE(session.localRevision(), revision);
        QCOMPARE(Accounts::localRevision(session.name()), revision);
        // The index answers as the file: a contact that went is not found again; 'Z' and 'z' are
        // one letter on both sides.
        session.search(QStringLiteral("zZ LEAVING"));
        QCOMPARE(listed(session), texts.contains(Leaving) ? QStringList{Leaving} : QStringList());
        // No temporary file is left behind.
        QCOMPARE(QDir(Accounts::databaseDirectory()).entryList({session.name() + ".*"}),
                 QStringList{session.name() + ".sqlite"});
    }
};

PELICARD_TEST_GUILESS_MAIN(TestAccountSession)
#include "tst_accountsession.moc"
