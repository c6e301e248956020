#include "changequeue.h"
#include "revision.h"
#include "serverdatabase.h"
#include "serverfixture.h"
#include "sqliteconnection.h"
#include "testclient.h"
#include "testhome.h"
#include "transfersnapshot.h"

#include <QLoggingCategory>
#include <QScopeGuard>
#include <QSqlQuery>

using TestClient::contact;

class TestServerDatabase : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("pelicard.*=false")); }

    void init() { QVERIFY(ServerFixture::freshHome(false)); }

    // Changes queued behind a writer are written as one batch; the bad one must fail alone.
    void failedChangeLeavesTheBatchStored()
    {
        {
            SqliteConnection connection(ServerDatabase::defaultPath(), QStringLiteral("trigger"));
            QVERIFY(connection.open());
            QVERIFY(QSqlQuery(connection.db())
                        .exec("CREATE TRIGGER refuse BEFORE INSERT ON contacts WHEN NEW.name = "
                              "'bad' BEGIN SELECT RAISE(ABORT, 'refused'); END"));
        }
        const QStringList names{"good1", "good2", "good3", "bad", "good4"};
        std::vector<QString> outcomes(size_t(names.size()));
        std::vector<std::unique_ptr<QThread>> threads;
        const auto join = qScopeGuard([&] {
            for (auto &thread : threads)
                thread->wait();
        });
        const auto add = [&](int i) {
            threads.push_back(TestClient::startThread([&, i] {
                ServerDatabase db;
                outcomes[i] = db.addContact(contact(names[i], "x"))
                                  ? "stored"
                                  : db.errorTitle() + ": " + db.errorString();
            }));
        };
        {
            QWriteLocker hold(&ServerDatabase::lock());
            // Once one waits, the other is the writer: both good, whichever it is.
            add(0);
            add(1);
            QTRY_COMPARE(ChangeQueue::waiting(), 1);
            for (int i = 2; i < names.size(); ++i)
                add(i);
            QTRY_COMPARE(ChangeQueue::waiting(), int(names.size()) - 1);
        }
        QTRY_VERIFY(TestClient::allFinished(threads));
        QCOMPARE(QStringList(outcomes.begin(), outcomes.end()),
                 (QStringList{"stored", "stored", "stored", "数据库出错: refused", "stored"}));
        QStringList stored = TestClient::viewFile(ServerDatabase::defaultPath()).names;
        stored.sort();
        QCOMPARE(stored, (QStringList{"good1 x", "good2 x", "good3 x", "good4 x"}));
        QCOMPARE(Revision::current(), quint64(4));
    }

    void transferWaitsForTheWriter()
    {
        QVERIFY(ServerDatabase().addContact(contact("Li", "Lei")));
        TransferSnapshot snapshot;
        bool opened = false;
        QWriteLocker hold(&ServerDatabase::lock());
        const auto thread =
            TestClient::startThread([&] { opened = ServerDatabase().openTransfer(&snapshot); });
        const bool early = QTest::qWaitFor([&] { return thread->isFinished(); }, 200);
        hold.unlock();
        QVERIFY(thread->wait(5000));
        QVERIFY(!early);
        QVERIFY(opened);
        QCOMPARE(snapshot.read(snapshot.size()),
                 TestClient::fileBytes(ServerDatabase::defaultPath()));
    }
};

PELICARD_TEST_GUILESS_MAIN(TestServerDatabase)
#include "tst_serverdatabase.moc"
