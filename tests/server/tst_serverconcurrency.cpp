#include "protocol.h"
#include "revision.h"
#include "scripteddialogs.h"
#include "server.h"
#include "serverdatabase.h"
#include "serversettings.h"
#include "testclient.h"
#include "testhome.h"

#include <QAtomicInt>
#include <QDir>
#include <QLabel>
#include <QSet>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <memory>

using namespace Protocol;

namespace {
QSettings serverStore()
{
    return QSettings(QString::fromLatin1(ServerSettings::Organisation),
                     QString::fromLatin1(ServerSettings::Application));
}

Contact numbered(int client, int i)
{
    Contact c;
    c.name = QStringLiteral("c%1").arg(client);
    c.firstName = QString::number(i);
    c.notes = QString(200, QLatin1Char('n'));
    c.normalise();
    return c;
}

struct FileCheck
{
    QString integrity;
    int rows = -1;
    QSet<QString> names;
};

// Opens a database file on a connection of its own and checks it.
FileCheck check(const QString &path, const QString &connection)
{
    FileCheck result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(QStringLiteral("PRAGMA integrity_check")) && query.next())
                result.integrity = query.value(0).toString();
            if (query.exec(QStringLiteral("SELECT name, firstName FROM contacts"))) {
                result.rows = 0;
                while (query.next()) {
                    ++result.rows;
                    result.names.insert(query.value(0).toString() + QLatin1Char(' ') +
                                        query.value(1).toString());
                }
            }
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return result;
}

std::unique_ptr<QThread> startThread(std::function<void()> f)
{
    std::unique_ptr<QThread> thread(QThread::create(std::move(f)));
    thread->start();
    return thread;
}

bool allFinished(const std::vector<std::unique_ptr<QThread>> &threads)
{
    for (const auto &t : threads)
        if (!t->isFinished())
            return false;
    return true;
}
} // namespace

class TestServerConcurrency : public QObject
{
    Q_OBJECT

    std::unique_ptr<QWidget> m_window;
    Server *m_server = nullptr;
    std::unique_ptr<ScriptedDialogs> m_dialogs;
    quint16 m_port = 0;
    QString m_password;

private slots:
    void init()
    {
        serverStore().clear();
        QDir(ServerDatabase::dataDirectory()).removeRecursively();
        QVERIFY(ServerDatabase().initialise());
        ServerSettings::setPassword(QStringLiteral("load"));
        m_password = ServerSettings::passwordText();
        m_dialogs = std::make_unique<ScriptedDialogs>();
        m_window = std::make_unique<QWidget>();
        m_server = new Server(m_window.get(), new QLabel(QStringLiteral("0"), m_window.get()));
        QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));
        m_port = m_server->serverPort();
    }

    void cleanup()
    {
        m_window.reset();
        m_dialogs.reset();
    }

    void thirtyTwoClientsLoseNoChange()
    {
        constexpr int Clients = 32;
        constexpr int PerClient = 50;
        const quint16 port = m_port;
        const QString password = m_password;
        QAtomicInt failures;
        std::vector<std::unique_ptr<QThread>> writers;
        for (int client = 0; client < Clients; ++client)
            writers.push_back(startThread([=, &failures] {
                for (int i = 0; i < PerClient; ++i) {
                    const auto reply = TestClient::request(port, password, RequestType::AddContact,
                                                           encodeContact(numbered(client, i)));
                    if (!reply.message.is(RequestType::AddContact))
                        failures.ref();
                }
            }));

        // Meanwhile a client takes the revision, then the file, and checks what it got.
        struct Seen
        {
            quint64 revision;
            FileCheck file;
        };
        QList<Seen> seen;
        QTemporaryDir downloads;
        std::unique_ptr<QThread> reader = startThread([&] {
            for (int n = 0; n < 40 && !allFinished(writers); ++n) {
                const auto revision =
                    TestClient::request(port, password, RequestType::RevisionQuery, QByteArray());
                const auto transfer = TestClient::request(
                    port, password, RequestType::DatabaseTransfer, QByteArray());
                const QString path = downloads.filePath(QStringLiteral("copy%1.sqlite").arg(n));
                QFile file(path);
                if (!file.open(QIODevice::WriteOnly))
                    return;
                file.write(transfer.message.payload);
                file.close();
                seen.append({parseRevision(revision.message.payload),
                             check(path, QStringLiteral("reader"))});
            }
        });

        QTRY_VERIFY_WITH_TIMEOUT(allFinished(writers) && reader->isFinished(), 240000);
        QCOMPARE(failures.loadRelaxed(), 0);
        QCOMPARE(Revision::current(), quint64(Clients * PerClient));
        const FileCheck final = check(ServerDatabase::defaultPath(), QStringLiteral("final"));
        QCOMPARE(final.integrity, QStringLiteral("ok"));
        QCOMPARE(final.rows, Clients * PerClient);
        QSet<QString> expected;
        for (int client = 0; client < Clients; ++client)
            for (int i = 0; i < PerClient; ++i)
                expected.insert(numbered(client, i).displayText());
        QCOMPARE(final.names, expected);

        QVERIFY(!seen.isEmpty());
        bool duringWrites = false;
        for (const Seen &s : seen) {
            QCOMPARE(s.file.integrity, QStringLiteral("ok"));
            // Every change the revision counted is in the file the client received.
            QVERIFY2(
                quint64(s.file.rows) >= s.revision,
                qPrintable(
                    QStringLiteral("%1 rows at revision %2").arg(s.file.rows).arg(s.revision)));
            duringWrites = duringWrites || (s.revision > 0 && s.revision < Clients * PerClient);
        }
        QVERIFY(duringWrites);
    }

    void stoppingUnderLoadKeepsRevisionAndFileEqual()
    {
        const quint16 port = m_port;
        const QString password = m_password;
        QAtomicInt answered;
        std::vector<std::unique_ptr<QThread>> writers;
        for (int client = 0; client < 16; ++client)
            writers.push_back(startThread([=, &answered] {
                for (int i = 0; i < 500; ++i) {
                    const auto reply =
                        TestClient::request(port, password, RequestType::AddContact,
                                            encodeContact(numbered(client, i)), 5000);
                    if (!reply.connected)
                        return; // the server has stopped
                    if (reply.message.is(RequestType::AddContact))
                        answered.ref();
                }
            }));
        QTRY_VERIFY_WITH_TIMEOUT(answered.loadRelaxed() >= 100, 60000);
        delete m_server; // with requests on the way
        m_server = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT(allFinished(writers), 60000);

        const FileCheck final = check(ServerDatabase::defaultPath(), QStringLiteral("final"));
        QCOMPARE(final.integrity, QStringLiteral("ok"));
        // No change counted without being stored, none stored without being counted.
        QCOMPARE(quint64(final.rows), Revision::current());
        QVERIFY(final.rows >= answered.loadRelaxed());
    }
};

PELICARD_TEST_MAIN(TestServerConcurrency)
#include "tst_serverconcurrency.moc"
