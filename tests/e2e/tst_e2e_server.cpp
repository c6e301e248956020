#include "contactstore.h"
#include "passwords.h"
#include "protocol.h"
#include "testclient.h"
#include "testhome.h"

#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <memory>

using namespace Protocol;

namespace {
const QString Password = QStringLiteral("端到端");

// pelicard-server in a home of its own, on the offscreen platform, as on a machine without a
// display.
class ServerProcess
{
public:
    QTemporaryDir home;
    QProcess process;
    quint16 port = 0;
    QString field = Passwords::fieldText(Passwords::sha1Digest(Password));

    QString settingsPath() const { return home.filePath(".config/brisvane/Pelicard-server.conf"); }
    QString databasePath() const { return home.filePath(".pelicard/server/server.sqlite"); }

    bool start()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::AnyIPv4, 0);
        port = probe.serverPort();
        probe.close();
        {
            QSettings settings(settingsPath(), QSettings::IniFormat);
            settings.setValue("server/password", Passwords::sha1Digest(Password));
            settings.setValue("server/port", port);
            settings.setValue("server/start", true);
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.insert("XDG_CONFIG_HOME", home.filePath(".config"));
        env.remove("QT_QPA_PLATFORM");
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(QStringLiteral(PELICARD_SERVER_BINARY), {"-platform", "offscreen"});
        if (!process.waitForStarted(10000))
            return false;
        // Nothing tells from outside when it listens; ask until it answers.
        for (int attempt = 0; attempt < 400; ++attempt) {
            if (hello().message.is(RequestType::Hello))
                return true;
            if (process.state() != QProcess::Running)
                return false;
            QTest::qWait(25);
        }
        return false;
    }

    TestClient::Reply request(RequestType type, const QByteArray &payload = QByteArray())
    {
        return TestClient::request(port, field, type, payload);
    }
    TestClient::Reply hello() { return request(RequestType::Hello, pingPayload()); }

    ~ServerProcess()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(10000);
        }
    }
};

QList<Contact> rows(const QString &path)
{
    QList<Contact> result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "e2e");
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery query(QStringLiteral("SELECT * FROM contacts"), db);
            while (query.next())
                result.append(ContactStore::fromRow(query));
            db.close();
        }
    }
    QSqlDatabase::removeDatabase("e2e");
    return result;
}
} // namespace

class TestE2eServer : public QObject
{
    Q_OBJECT
private slots:
    void headlessServerServesEveryRequest()
    {
        ServerProcess server;
        QVERIFY(server.start());
        QVERIFY(QFile::exists(server.databasePath()));

        Contact c;
        c.name = QStringLiteral("欧阳");
        c.firstName = QStringLiteral("修");
        c.email = QStringLiteral("ouyang@example.org");
        c.normalise();
        QVERIFY(server.request(RequestType::AddContact, encodeContact(c))
                    .message.is(RequestType::AddContact));
        QCOMPARE(server.request(RequestType::RevisionQuery).message.payload, QByteArray("1"));

        const auto transfer = server.request(RequestType::DatabaseTransfer);
        QVERIFY(transfer.message.is(RequestType::DatabaseTransfer));
        QTemporaryDir downloads;
        QFile copy(downloads.filePath("copy.sqlite"));
        QVERIFY(copy.open(QIODevice::WriteOnly));
        copy.write(transfer.message.payload);
        copy.close();
        const QList<Contact> stored = rows(copy.fileName());
        QCOMPARE(stored.size(), 1);
        QCOMPARE(stored[0].name, c.name);
        QCOMPARE(stored[0].email, c.email);

        const auto wrong = TestClient::request(server.port, QStringLiteral("x"), RequestType::Hello,
                                               pingPayload());
        QCOMPARE(wrong.raw, encodeMessage(server.field, RequestType::WrongPassword,
                                          QByteArray::fromHex("c3dcc2ebb4edcef321")));
        QVERIFY(server.request(RequestType::Goodbye, pingPayload()).raw.isEmpty());

        server.process.terminate();
        QVERIFY(server.process.waitForFinished(15000));
        QCOMPARE(server.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(server.process.exitCode(), 0);
        QSettings settings(server.settingsPath(), QSettings::IniFormat);
        QCOMPARE(settings.value("server/serverRevision").toULongLong(), 1u);
        QCOMPARE(rows(server.databasePath()).size(), 1);
    }

    void terminatingEndsConnectionsStillBeingServed()
    {
        ServerProcess server;
        QVERIFY(server.start());
        QTcpSocket idle; // would hold its thread for 30 seconds
        idle.connectToHost(QHostAddress::LocalHost, server.port);
        QVERIFY(idle.waitForConnected(5000));
        idle.write(encodeMessage(server.field, RequestType::Hello, pingPayload()).left(9));
        QVERIFY(idle.waitForBytesWritten(5000));
        server.process.terminate();
        QVERIFY(server.process.waitForFinished(15000));
        QCOMPARE(server.process.exitCode(), 0);
        const auto reply = TestClient::readUntilClosed(idle, 5000);
        QVERIFY(reply.closedByServer);
        QCOMPARE(reply.raw, QByteArray());
    }
};

PELICARD_TEST_GUILESS_MAIN(TestE2eServer)
#include "tst_e2e_server.moc"
