#include "contactstore.h"
#include "passwords.h"
#include "protocol.h"
#include "revision.h"
#include "serverdatabase.h"
#include "serversettings.h"
#include "testhome.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

namespace {
Contact sample(const QString &name, const QString &firstName)
{
    Contact c;
    c.name = name;
    c.firstName = firstName;
    c.work = QStringLiteral("010-1234");
    c.town = QStringLiteral("北京");
    c.notes = QStringLiteral("第一行\n第二行");
    c.customCount = 2;
    c.customLabel[0] = QStringLiteral("QQ");
    c.customValue[0] = QStringLiteral("12345");
    c.customLabel[1] = QStringLiteral("生日");
    c.customValue[1] = QStringLiteral("5月4日");
    c.normalise();
    return c;
}

// Rows of a database file, read on a connection of the test's own.
QList<Contact> rows(const QString &path)
{
    QList<Contact> result;
    const QString name = QStringLiteral("tst-read");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery query(QStringLiteral("SELECT * FROM contacts ORDER BY id"), db);
            while (query.next())
                result.append(ContactStore::fromRow(query));
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return result;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Rows of a database held in memory.
int rowsIn(const QByteArray &bytes)
{
    QTemporaryDir dir;
    QFile file(dir.filePath("copy.sqlite"));
    if (!file.open(QIODevice::WriteOnly))
        return -1;
    file.write(bytes);
    file.close();
    return int(rows(file.fileName()).size());
}

QSettings serverStore()
{
    return QSettings(QString::fromLatin1(ServerSettings::Organisation),
                     QString::fromLatin1(ServerSettings::Application));
}
} // namespace

class TestServerDatabase : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        QDir(ServerDatabase::dataDirectory()).removeRecursively();
        serverStore().clear();
    }

    // Start-up
    void dataDirectoryAndFileAreUnderHome()
    {
        QCOMPARE(ServerDatabase::dataDirectory(), QDir::homePath() + "/.pelicard/server");
        QCOMPARE(ServerDatabase::defaultPath(),
                 QDir::homePath() + "/.pelicard/server/server.sqlite");
    }

    void initialiseCreatesDirectorySchemaAndZeroRevision()
    {
        serverStore().setValue("server/serverRevision", 41);
        ServerDatabase db;
        QString error;
        QVERIFY2(db.initialise(&error), qPrintable(error));
        QVERIFY(QFile::exists(db.path()));
        QCOMPARE(serverStore().value("server/serverRevision").toULongLong(), 0u);
        QVERIFY(rows(db.path()).isEmpty());
        QVERIFY(db.addContact(Protocol::encodeContact(sample("王", "小明"))).executed);
    }

    void initialiseKeepsAnExistingDatabaseAndRevision()
    {
        ServerDatabase db;
        QVERIFY(db.initialise());
        db.addContact(Protocol::encodeContact(sample("王", "小明")));
        QCOMPARE(Revision::current(), 1u);
        QVERIFY(db.initialise());
        QCOMPARE(rows(db.path()).size(), 1);
        QCOMPARE(Revision::current(), 1u);
    }

    void initialiseReportsAFileThatCannotBeOpened()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + "/server.sqlite";
        QVERIFY(QDir().mkpath(path)); // a directory where the file should be
        QString error;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot open"));
        QVERIFY(!ServerDatabase(path).initialise(&error));
        QVERIFY(!error.isEmpty());
    }

    // The three writers
    void addStoresEveryValueAndCounts()
    {
        ServerDatabase db;
        QVERIFY(db.initialise());
        const Contact c = sample("Smith", "John Paul");
        const auto outcome = db.addContact(Protocol::encodeContact(c));
        QVERIFY(outcome.opened);
        QVERIFY(outcome.executed);
        QCOMPARE(outcome.revision, 1u);
        const QList<Contact> stored = rows(db.path());
        QCOMPARE(stored.size(), 1);
        Contact expected = c;
        expected.id = 1;
        QCOMPARE(stored.first(), expected);
    }

    void addWithPayloadEndingEarlyStoresEmptyTexts()
    {
        ServerDatabase db;
        QVERIFY(db.initialise());
        const QByteArray full = Protocol::encodeContact(sample("李", "四"));
        // Name, firstName and half of work: everything after them is missing.
        const QByteArray cut = full.left(4 + 2 + 4 + 2 + 4 + 2);
        QVERIFY(db.addContact(cut).executed);
        const QList<Contact> stored = rows(db.path());
        QCOMPARE(stored.size(), 1);
        QCOMPARE(stored[0].name, QStringLiteral("李"));
        QCOMPARE(stored[0].firstName, QStringLiteral("四"));
        QCOMPARE(stored[0].work, QStringLiteral(""));
        QCOMPARE(stored[0].customCount, 0);
        QCOMPARE(Revision::current(), 1u);
    }

    void editReplacesTheRowWithThatId()
    {
        ServerDatabase db;
        QVERIFY(db.initialise());
        db.addContact(Protocol::encodeContact(sample("A", "1")));
        db.addContact(Protocol::encodeContact(sample("B", "2")));
        Contact changed = sample("B", "changed");
        changed.email = QStringLiteral("b@example.org");
        QVERIFY(db.editContact(Protocol::encodeContactWithId(changed, 2)).executed);
        const QList<Contact> stored = rows(db.path());
        QCOMPARE(stored.size(), 2);
        QCOMPARE(stored[0].firstName, QStringLiteral("1"));
        changed.id = 2;
        QCOMPARE(stored[1], changed);
        QCOMPARE(Revision::current(), 3u);
    }

    void editOfAMissingIdChangesNothingButCounts()
    {
        ServerDatabase db;
        QVERIFY(db.initialise());
        db.addContact(Protocol::encodeContact(sample("A", "1")));
        const auto before = rows(db.path());
        const auto outcome = db.editContact(Protocol::encodeContactWithId(sample("X", "Y"), 99));
        QVERIFY(outcome.opened);
        QCOMPARE(rows(db.path()), before);
        QCOMPARE(Revision::current(), 2u);
    }

    void deleteRemovesEveryRowWithThePair()
    {
        ServerDatabase db;
        QVERIFY(db.initialise());
        db.addContact(Protocol::encodeContact(sample("Wang", "")));
        db.addContact(Protocol::encodeContact(sample("Wang", "")));
        db.addContact(Protocol::encodeContact(sample("wang", "")));
        db.addContact(Protocol::encodeContact(sample("Wang", "Li")));
        QVERIFY(db.deleteContact(Protocol::encodeDelete("Wang", "")).executed);
        const QList<Contact> stored = rows(db.path());
        QCOMPARE(stored.size(), 2);
        QCOMPARE(stored[0].name, QStringLiteral("wang"));
        QCOMPARE(stored[1].firstName, QStringLiteral("Li"));
        QCOMPARE(Revision::current(), 5u);
    }

    void statementOnAFileWithoutTableFailsSilentlyAndCounts()
    {
        QVERIFY(QDir().mkpath(ServerDatabase::dataDirectory()));
        ServerDatabase db; // no table: the file is created empty by the open
        const auto outcome = db.addContact(Protocol::encodeContact(sample("A", "1")));
        QVERIFY(outcome.opened);
        QVERIFY(!outcome.executed);
        QCOMPARE(Revision::current(), 1u);
    }

    void writerThatCannotOpenReportsAndStillCounts()
    {
        QTemporaryDir dir;
        ServerDatabase db(dir.path() + "/missing/deeper/server.sqlite");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot open"));
        const auto outcome = db.addContact(Protocol::encodeContact(sample("A", "1")));
        QVERIFY(!outcome.opened);
        QVERIFY(!outcome.error.isEmpty());
        QCOMPARE(Revision::current(), 1u);
    }

    void changesWrittenTogetherAreEachCountedOnce()
    {
        ServerDatabase db;
        QVERIFY(db.initialise());
        QTemporaryDir dir;
        ServerDatabase other(dir.filePath("other.sqlite"));
        QVERIFY(other.initialise());
        QMutex mutex;
        QList<quint64> revisions;
        QList<QThread *> threads;
        for (int t = 0; t < 12; ++t)
            threads.append(QThread::create([&, t] {
                ServerDatabase &target = t % 3 == 0 ? other : db;
                for (int i = 0; i < 10; ++i) {
                    const auto outcome = target.addContact(
                        Protocol::encodeContact(sample(QString::number(t), QString::number(i))));
                    QMutexLocker locker(&mutex);
                    revisions.append(outcome.executed ? outcome.revision : 0);
                }
            }));
        for (QThread *t : threads)
            t->start();
        for (QThread *t : threads) {
            QVERIFY(t->wait(120000));
            delete t;
        }
        std::sort(revisions.begin(), revisions.end());
        QList<quint64> expected;
        for (quint64 r = 1; r <= 120; ++r)
            expected.append(r);
        QCOMPARE(revisions, expected);
        QCOMPARE(Revision::current(), 120u);
        QCOMPARE(rows(db.path()).size(), 80);
        QCOMPARE(rows(other.path()).size(), 40);
    }

    // Reading for a transfer
    void readWholeReturnsTheExactFile()
    {
        ServerDatabase db;
        QVERIFY(db.initialise());
        db.addContact(Protocol::encodeContact(sample("A", "1")));
        QFile file(db.path());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray bytes;
        QCOMPARE(db.readWhole(&bytes), ServerDatabase::ReadResult::Ok);
        QCOMPARE(bytes, file.readAll());
    }

    void readWholeFollowsEveryChange()
    {
        ServerDatabase db;
        QVERIFY(db.initialise());
        QByteArray first;
        QCOMPARE(db.readWhole(&first), ServerDatabase::ReadResult::Ok);
        const QByteArray firstCopy(first.constData(), first.size());
        QByteArray again;
        QCOMPARE(db.readWhole(&again), ServerDatabase::ReadResult::Ok);
        QCOMPARE(again, first);

        // A change while the first transfer still holds its bytes.
        db.addContact(Protocol::encodeContact(sample("A", "1")));
        QByteArray second;
        QCOMPARE(db.readWhole(&second), ServerDatabase::ReadResult::Ok);
        QCOMPARE(first, firstCopy);
        QCOMPARE(second, fileBytes(db.path()));
        QVERIFY(second != first);

        // Nobody holds them now: the next change is read into the same memory, correctly.
        first = again = QByteArray();
        second = QByteArray();
        db.deleteContact(Protocol::encodeDelete("A", "1"));
        QByteArray third;
        QCOMPARE(db.readWhole(&third), ServerDatabase::ReadResult::Ok);
        QCOMPARE(third, fileBytes(db.path()));
        QCOMPARE(rowsIn(third), 0);
    }

    void readWholeNoticesChangesByAnotherProgram()
    {
        ServerDatabase db;
        QVERIFY(db.initialise());
        QByteArray before;
        QCOMPARE(db.readWhole(&before), ServerDatabase::ReadResult::Ok);
        {
            QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "other");
            other.setDatabaseName(db.path());
            QVERIFY(other.open());
            ContactStore(other).insert(sample("Outside", "1"));
            other.close();
        }
        QSqlDatabase::removeDatabase("other");
        QByteArray after;
        QCOMPARE(db.readWhole(&after), ServerDatabase::ReadResult::Ok);
        QCOMPARE(after, fileBytes(db.path()));
        QCOMPARE(rowsIn(after), 1);
    }

    void readWholeOfMissingAndEmptyFile()
    {
        ServerDatabase db;
        QByteArray bytes;
        QCOMPARE(db.readWhole(&bytes), ServerDatabase::ReadResult::CannotOpen);
        QVERIFY(QDir().mkpath(ServerDatabase::dataDirectory()));
        QFile file(db.path());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QCOMPARE(db.readWhole(&bytes), ServerDatabase::ReadResult::Empty);
    }

    // Reset, import, export
    void removeDeletesTheFile()
    {
        ServerDatabase db;
        QVERIFY(db.initialise());
        QVERIFY(db.remove());
        QVERIFY(!QFile::exists(db.path()));
        QVERIFY(!db.remove());
    }

    void replaceWithPutsACopyInPlace()
    {
        QTemporaryDir dir;
        const QString other = dir.path() + "/other.sqlite";
        QVERIFY(ContactStore::createDatabase(other));
        ServerDatabase(other).addContact(Protocol::encodeContact(sample("Other", "One")));
        ServerDatabase db;
        QVERIFY(db.initialise());
        QString error;
        QVERIFY2(db.replaceWith(other, &error), qPrintable(error));
        const QList<Contact> stored = rows(db.path());
        QCOMPARE(stored.size(), 1);
        QCOMPARE(stored[0].name, QStringLiteral("Other"));
        QVERIFY(QFile::exists(other));
    }

    void replaceWithItselfKeepsTheDatabase()
    {
        ServerDatabase db;
        QVERIFY(db.initialise());
        db.addContact(Protocol::encodeContact(sample("A", "1")));
        QVERIFY(db.replaceWith(db.path()));
        QCOMPARE(rows(db.path()).size(), 1);
    }

    void failedReplaceLeavesTheOldDatabase()
    {
        ServerDatabase db;
        QVERIFY(db.initialise());
        db.addContact(Protocol::encodeContact(sample("Kept", "1")));
        QFile before(db.path());
        QVERIFY(before.open(QIODevice::ReadOnly));
        const QByteArray original = before.readAll();
        before.close();

        QString error;
        QVERIFY(!db.replaceWith(QDir::homePath() + "/does-not-exist.sqlite", &error));
        QVERIFY(!error.isEmpty());
        // A source that cannot be read: a directory.
        QTemporaryDir dir;
        QVERIFY(!db.replaceWith(dir.path(), &error));

        QFile after(db.path());
        QVERIFY(after.open(QIODevice::ReadOnly));
        QCOMPARE(after.readAll(), original);
        // Nothing left beside it either.
        QCOMPARE(QDir(ServerDatabase::dataDirectory()).entryList(QDir::Files),
                 QStringList{"server.sqlite"});
    }

    void exportCopiesAndNeverOverwrites()
    {
        ServerDatabase db;
        QVERIFY(db.initialise());
        db.addContact(Protocol::encodeContact(sample("A", "1")));
        QTemporaryDir dir;
        const QString target = dir.path() + "/copy.sqlite";
        QVERIFY(db.exportTo(target));
        QCOMPARE(rows(target).size(), 1);
        db.addContact(Protocol::encodeContact(sample("B", "2")));
        QVERIFY(!db.exportTo(target));
        QCOMPARE(rows(target).size(), 1);
    }

    // Revision counter
    void revisionStartsAtZeroAndCounts()
    {
        QCOMPARE(Revision::current(), 0u);
        QCOMPARE(Revision::increment(), 1u);
        QCOMPARE(Revision::increment(), 2u);
        QCOMPARE(serverStore().value("server/serverRevision").toULongLong(), 2u);
        Revision::reset();
        QCOMPARE(Revision::current(), 0u);
        QCOMPARE(Revision::increment(), 1u);
    }

    void revisionPassesThirtyTwoBits()
    {
        serverStore().setValue("server/serverRevision", quint64(4294967295u));
        QCOMPARE(Revision::increment(), quint64(4294967296u));
        QCOMPARE(Protocol::revisionText(Revision::current()), QByteArray("4294967296"));
    }

    void revisionIncrementsFromManyThreadsAreNotLost()
    {
        QList<QThread *> threads;
        for (int t = 0; t < 8; ++t)
            threads.append(QThread::create([] {
                for (int i = 0; i < 25; ++i)
                    Revision::increment();
            }));
        for (QThread *t : threads)
            t->start();
        for (QThread *t : threads) {
            QVERIFY(t->wait(60000));
            delete t;
        }
        QCOMPARE(Revision::current(), 200u);
    }

    // Settings
    void passwordIsStoredAsDigestAndReadBackAsText()
    {
        QVERIFY(!ServerSettings::hasPassword());
        QVERIFY(ServerSettings::passwordText().isNull());
        ServerSettings::setPassword(QStringLiteral("秘密"));
        QVERIFY(ServerSettings::hasPassword());
        const QByteArray digest = serverStore().value("server/password").toByteArray();
        QCOMPARE(digest, Passwords::sha1Digest(QStringLiteral("秘密")));
        QCOMPARE(digest.size(), 20);
        QCOMPARE(ServerSettings::passwordText(), Passwords::fieldText(digest));
    }

    void portAndStartDefaults()
    {
        QCOMPARE(ServerSettings::port(), 1639);
        QCOMPARE(ServerSettings::startWithProgram(), false);
        ServerSettings::setPort(4000);
        ServerSettings::setStartWithProgram(true);
        QCOMPARE(serverStore().value("server/port").toInt(), 4000);
        QCOMPARE(serverStore().value("server/start").toBool(), true);
    }
};

PELICARD_TEST_GUILESS_MAIN(TestServerDatabase)
#include "tst_serverdatabase.moc"
