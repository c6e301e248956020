#include "contactstore.h"
#include "protocol.h"
#include "revision.h"
#include "scripteddialogs.h"
#include "server.h"
#include "serverdatabase.h"
#include "serversettings.h"
#include "testclient.h"
#include "testhome.h"
#include "timeouts.h"

#include <QDir>
#include <QLabel>
#include <QLoggingCategory>
#include <QSettings>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpSocket>
#include <memory>

using namespace Protocol;
using TestClient::offThread;
using TestClient::Reply;

namespace {
const QString Secret = QStringLiteral("s3cret 口令");

QSettings serverStore()
{
    return QSettings(QString::fromLatin1(ServerSettings::Organisation),
                     QString::fromLatin1(ServerSettings::Application));
}

int rowCount(const QString &path)
{
    int count = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "tst-count");
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery query(QStringLiteral("SELECT COUNT(*) FROM contacts"), db);
            if (query.next())
                count = query.value(0).toInt();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase("tst-count");
    return count;
}

QList<Contact> allRows(const QString &path)
{
    QList<Contact> result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "tst-rows");
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery query(QStringLiteral("SELECT * FROM contacts ORDER BY id"), db);
            while (query.next())
                result.append(ContactStore::fromRow(query));
            db.close();
        }
    }
    QSqlDatabase::removeDatabase("tst-rows");
    return result;
}

Contact person(const QString &name, const QString &firstName)
{
    Contact c;
    c.name = name;
    c.firstName = firstName;
    c.mobile = QStringLiteral("13800000000");
    c.normalise();
    return c;
}

// A message's bytes with the size field rewritten.
QByteArray withSize(QByteArray message, qint64 size)
{
    QDataStream out(&message, QIODevice::ReadWrite);
    out << size;
    return message;
}
} // namespace

class TestServer : public QObject
{
    Q_OBJECT

    std::unique_ptr<QWidget> m_window;
    QLabel *m_count = nullptr;
    Server *m_server = nullptr; // owned by the window
    std::unique_ptr<ScriptedDialogs> m_dialogs;
    quint16 m_port = 0;
    QString m_password; // the field every request of a right client carries

    Reply send(RequestType type, const QByteArray &payload, const QString &password)
    {
        const quint16 port = m_port;
        return offThread([=] { return TestClient::request(port, password, type, payload); });
    }
    Reply send(RequestType type, const QByteArray &payload = QByteArray())
    {
        return send(type, payload, m_password);
    }
    Reply sendRaw(const QByteArray &bytes, int waitMs = 10000)
    {
        const quint16 port = m_port;
        return offThread([=] { return TestClient::exchange(port, bytes, waitMs); });
    }
    // Every thread started so far has finished and its signals have been delivered.
    void settle() { QTRY_COMPARE(m_server->activeConnections(), 0); }

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("pelicard.*.debug=true"));
    }

    void init()
    {
        Timeouts::setForTesting(0, 0, 0);
        serverStore().clear();
        QDir(ServerDatabase::dataDirectory()).removeRecursively();
        QVERIFY(ServerDatabase().initialise());
        ServerSettings::setPassword(Secret);
        m_password = ServerSettings::passwordText();
        m_dialogs = std::make_unique<ScriptedDialogs>();
        m_window = std::make_unique<QWidget>();
        m_count = new QLabel(QStringLiteral("0"), m_window.get());
        m_server = new Server(m_window.get(), m_count);
        QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));
        m_port = m_server->serverPort();
    }

    void cleanup()
    {
        m_window.reset();
        m_dialogs.reset();
        Timeouts::setForTesting(0, 0, 0);
    }

    // Greeting and farewell
    void helloIsAnsweredPongAndCounted()
    {
        const Reply reply = send(RequestType::Hello, pingPayload());
        QVERIFY(reply.closedByServer);
        QCOMPARE(reply.raw, encodeMessage(m_password, RequestType::Hello, "pong"));
        QTRY_COMPARE(m_count->text(), QStringLiteral("1"));
        send(RequestType::Hello, pingPayload());
        QTRY_COMPARE(m_count->text(), QStringLiteral("2"));
    }

    void helloWithNullPasswordOnServerWithoutPassword()
    {
        serverStore().remove("server/password");
        const Reply reply = send(RequestType::Hello, pingPayload(), QString());
        QCOMPARE(reply.raw.toHex(' '), QByteArray("00 00 00 00 00 00 00 0e ff ff ff ff 00 00 00 "
                                                  "00 00 04 70 6f 6e 67"));
        // An empty password counts as equal to the missing one.
        QVERIFY(send(RequestType::Hello, pingPayload(), QStringLiteral(""))
                    .message.is(RequestType::Hello));
    }

    void twoHellosAtOnceCountTwo()
    {
        const quint16 port = m_port;
        const QString password = m_password;
        std::unique_ptr<QThread> other(QThread::create(
            [=] { TestClient::request(port, password, RequestType::Hello, pingPayload()); }));
        other->start();
        send(RequestType::Hello, pingPayload());
        QTRY_VERIFY(other->isFinished());
        QTRY_COMPARE(m_count->text(), QStringLiteral("2"));
    }

    void goodbyeGetsNoReplyAndCountsDown()
    {
        const Reply reply = send(RequestType::Goodbye, pingPayload());
        QVERIFY(reply.closedByServer);
        QCOMPARE(reply.raw, QByteArray());
        QTRY_COMPARE(m_count->text(), QStringLiteral("-1"));
    }

    void countLabelThatIsNoNumberReadsAsZero()
    {
        m_count->setText(QStringLiteral("abc"));
        send(RequestType::Hello, pingPayload());
        QTRY_COMPARE(m_count->text(), QStringLiteral("1"));
    }

    // Password
    void wrongPasswordGetsTheFixedReply()
    {
        serverStore().remove("server/password");
        const Reply reply = send(RequestType::Hello, pingPayload(), QStringLiteral("guess"));
        QVERIFY(reply.closedByServer);
        QCOMPARE(reply.raw.toHex(' '), QByteArray("00 00 00 00 00 00 00 13 ff ff ff ff 00 07 00 "
                                                  "00 00 09 c3 dc c2 eb b4 ed ce f3 21"));
    }

    void wrongPasswordReplyCarriesTheServersPasswordAndChangesNothing_data()
    {
        QTest::addColumn<int>("type");
        for (int type = 0; type <= 8; ++type)
            QTest::addRow("type %d", type) << type;
    }

    void wrongPasswordReplyCarriesTheServersPasswordAndChangesNothing()
    {
        QFETCH(int, type);
        QSignalSpy boxes(m_dialogs.get(), &ScriptedDialogs::boxShown);
        const QByteArray payload = type == 3 ? encodeContact(person("A", "B")) : pingPayload();
        const Reply reply = send(RequestType(type), payload, QStringLiteral("wrong"));
        QCOMPARE(reply.raw, encodeMessage(m_password, RequestType::WrongPassword,
                                          QByteArray::fromHex("c3dcc2ebb4edcef321")));
        settle();
        QCOMPARE(m_count->text(), QStringLiteral("0"));
        QCOMPARE(Revision::current(), 0u);
        QCOMPARE(rowCount(ServerDatabase::defaultPath()), 0);
        QCOMPARE(boxes.count(), 0);
    }

    void passwordIsReadForEveryRequest()
    {
        QVERIFY(send(RequestType::Hello, pingPayload()).message.is(RequestType::Hello));
        ServerSettings::setPassword(QStringLiteral("changed"));
        QVERIFY(send(RequestType::Hello, pingPayload()).message.is(RequestType::WrongPassword));
        QVERIFY(send(RequestType::Hello, pingPayload(), ServerSettings::passwordText())
                    .message.is(RequestType::Hello));
    }

    // Revision and changes
    void revisionQueryOnAFreshServerIsZero()
    {
        const Reply reply = send(RequestType::RevisionQuery, revisionText(7));
        QCOMPARE(reply.raw, encodeMessage(m_password, RequestType::RevisionQuery, "0"));
    }

    void addContactIsInTheFileWhenTheReplyArrives()
    {
        const Contact c = person("张", "三");
        const Reply reply = send(RequestType::AddContact, encodeContact(c));
        QCOMPARE(reply.raw, encodeMessage(m_password, RequestType::AddContact, QByteArray()));
        QVERIFY(reply.raw.endsWith(QByteArray::fromHex("ffffffff"))); // a null payload
        // No event has been processed here since the reply: the serving thread did the write.
        const QList<Contact> rows = allRows(ServerDatabase::defaultPath());
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].name, c.name);
        QCOMPARE(rows[0].mobile, c.mobile);
        QCOMPARE(Revision::current(), 1u);
    }

    void threeChangesCountThree()
    {
        send(RequestType::AddContact, encodeContact(person("A", "1")));
        send(RequestType::EditContact, encodeContactWithId(person("A", "2"), 1));
        send(RequestType::DeleteContact, encodeDelete("nobody", ""));
        QCOMPARE(send(RequestType::RevisionQuery).message.payload, QByteArray("3"));
        const QList<Contact> rows = allRows(ServerDatabase::defaultPath());
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].firstName, QStringLiteral("2"));
    }

    void editAndDeleteReplies()
    {
        send(RequestType::AddContact, encodeContact(person("Li", "")));
        send(RequestType::AddContact, encodeContact(person("Li", "")));
        Reply reply = send(RequestType::EditContact, encodeContactWithId(person("Li", "X"), 42));
        QCOMPARE(reply.raw, encodeMessage(m_password, RequestType::EditContact, QByteArray()));
        reply = send(RequestType::DeleteContact, encodeDelete("Li", ""));
        QCOMPARE(reply.raw, encodeMessage(m_password, RequestType::DeleteContact, QByteArray()));
        QCOMPARE(rowCount(ServerDatabase::defaultPath()), 0);
        QCOMPARE(Revision::current(), 4u);
    }

    void revisionPassesThirtyTwoBits()
    {
        serverStore().setValue("server/serverRevision", quint64(4294967295u));
        send(RequestType::AddContact, encodeContact(person("A", "1")));
        QCOMPARE(send(RequestType::RevisionQuery).message.payload, QByteArray("4294967296"));
    }

    void changeOnAnUnopenableDatabaseIsAnsweredAndShown()
    {
        QDir(ServerDatabase::dataDirectory()).removeRecursively();
        QSignalSpy boxes(m_dialogs.get(), &ScriptedDialogs::boxShown);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot open"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("数据库出错"));
        const Reply reply = send(RequestType::AddContact, encodeContact(person("A", "1")));
        QVERIFY(reply.message.is(RequestType::AddContact));
        QTRY_COMPARE(boxes.count(), 1);
        QCOMPARE(m_dialogs->last().kind, QStringLiteral("notify"));
        QCOMPARE(m_dialogs->last().title, QStringLiteral("数据库出错"));
        QVERIFY(!m_dialogs->last().text.isEmpty());
        QCOMPARE(Revision::current(), 1u);
    }

    // Transfer
    void transferSendsTheWholeFile()
    {
        send(RequestType::AddContact, encodeContact(person("A", "1")));
        QFile file(ServerDatabase::defaultPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const Reply reply = send(RequestType::DatabaseTransfer, QByteArray());
        QVERIFY(reply.closedByServer);
        QCOMPARE(reply.raw, encodeMessage(m_password, RequestType::DatabaseTransfer, bytes));
    }

    void transferOfMissingOrEmptyFileShowsABoxAndSendsNothing_data()
    {
        QTest::addColumn<bool>("empty");
        QTest::addColumn<QString>("text");
        QTest::newRow("missing") << false << QStringLiteral("无法读取数据库来发送!");
        QTest::newRow("empty") << true << QStringLiteral("无法发送数据库!");
    }

    void transferOfMissingOrEmptyFileShowsABoxAndSendsNothing()
    {
        QFETCH(bool, empty);
        QFETCH(QString, text);
        QVERIFY(QFile::remove(ServerDatabase::defaultPath()));
        if (empty) {
            QFile file(ServerDatabase::defaultPath());
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QSignalSpy boxes(m_dialogs.get(), &ScriptedDialogs::boxShown);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("文件错误"));
        const Reply reply = send(RequestType::DatabaseTransfer, QByteArray());
        QVERIFY(reply.closedByServer);
        QCOMPARE(reply.raw, QByteArray());
        QTRY_COMPARE(boxes.count(), 1);
        QCOMPARE(m_dialogs->last().kind, QStringLiteral("notify"));
        QCOMPARE(m_dialogs->last().icon, QMessageBox::Critical);
        QCOMPARE(m_dialogs->last().title, QStringLiteral("文件错误"));
        QCOMPARE(m_dialogs->last().text, text);
        // The box waits for nobody: the next client is served while it is open.
        QVERIFY(send(RequestType::Hello, pingPayload()).message.is(RequestType::Hello));
    }

    // Unknown types
    void unknownTypesGetNoReplyAndChangeNothing_data()
    {
        QTest::addColumn<int>("type");
        QTest::newRow("WrongPassword as a request") << 7;
        QTest::newRow("8") << 8;
        QTest::newRow("-1") << -1;
        QTest::newRow("32767") << 32767;
    }

    void unknownTypesGetNoReplyAndChangeNothing()
    {
        QFETCH(int, type);
        QTest::ignoreMessage(QtDebugMsg, "Unknown request type!");
        const Reply reply = send(RequestType(type), encodeContact(person("A", "1")));
        QVERIFY(reply.closedByServer);
        QCOMPARE(reply.raw, QByteArray());
        settle();
        QCOMPARE(m_count->text(), QStringLiteral("0"));
        QCOMPARE(Revision::current(), 0u);
        QCOMPARE(rowCount(ServerDatabase::defaultPath()), 0);
    }

    // Framing
    void messageInPiecesIsReadWhole()
    {
        const QByteArray whole =
            encodeMessage(m_password, RequestType::AddContact, encodeContact(person("分", "段")));
        const quint16 port = m_port;
        const Reply reply = offThread([=] {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, port);
            socket.waitForConnected(5000);
            socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
            for (int at = 0; at < whole.size(); at += 5) {
                socket.write(whole.mid(at, 5));
                socket.waitForBytesWritten(5000);
                QThread::msleep(2); // a slow client: the pieces arrive apart
            }
            return TestClient::readUntilClosed(socket);
        });
        QCOMPARE(reply.raw, encodeMessage(m_password, RequestType::AddContact, QByteArray()));
        QCOMPARE(rowCount(ServerDatabase::defaultPath()), 1);
    }

    void extraBytesAreIgnored()
    {
        const QByteArray message = encodeMessage(m_password, RequestType::Hello, pingPayload());
        // Inside the declared size, after the payload.
        const QByteArray inside = withSize(message + "trailing", message.size() - 8 + 8);
        QCOMPARE(sendRaw(inside).raw, encodeMessage(m_password, RequestType::Hello, "pong"));
        // Beyond the declared size.
        QCOMPARE(sendRaw(message + QByteArray(100, 'x')).raw,
                 encodeMessage(m_password, RequestType::Hello, "pong"));
    }

    void shortMessageIsDroppedAfterTheWait()
    {
        Timeouts::setForTesting(0, 0, 200);
        const QByteArray message = encodeMessage(m_password, RequestType::Hello, pingPayload());
        QTest::ignoreMessage(QtDebugMsg, "Not enough bytes!");
        const Reply reply = sendRaw(withSize(message, message.size() - 8 + 50));
        QVERIFY(reply.closedByServer);
        QCOMPARE(reply.raw, QByteArray());
        settle();
        QCOMPARE(m_count->text(), QStringLiteral("0"));
    }

    void sizeFieldAloneIsDroppedAfterTheWait()
    {
        Timeouts::setForTesting(0, 0, 200);
        QTest::ignoreMessage(QtDebugMsg, "Not enough bytes!");
        const Reply reply = sendRaw(QByteArray::fromHex("00000000"));
        QVERIFY(reply.closedByServer);
        QCOMPARE(reply.raw, QByteArray());
    }

    void silentConnectionIsClosedAfterTheWait()
    {
        Timeouts::setForTesting(0, 0, 200);
        const Reply reply = sendRaw(QByteArray());
        QVERIFY(reply.closedByServer);
        QCOMPARE(reply.raw, QByteArray());
        settle();
    }

    void connectionClosedHalfWayEndsItsThread()
    {
        const QByteArray message =
            encodeMessage(m_password, RequestType::AddContact, encodeContact(person("A", "1")));
        const quint16 port = m_port;
        QTest::ignoreMessage(QtDebugMsg, "Not enough bytes!");
        offThread([=] {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, port);
            socket.waitForConnected(5000);
            socket.write(message.left(message.size() / 2));
            socket.waitForBytesWritten(5000);
            socket.disconnectFromHost();
            return 0;
        });
        settle(); // with 30-second waits: the peer's close ends the thread at once
        QCOMPARE(rowCount(ServerDatabase::defaultPath()), 0);
        QCOMPARE(Revision::current(), 0u);
    }

    // Hostile input: refused at once, long before any 30-second wait ends.
    void hostileMessagesAreClosedAtOnce_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray hello = encodeMessage(m_password, RequestType::Hello, pingPayload());
        QTest::newRow("negative size") << withSize(hello, -1);
        QTest::newRow("size over the bound") << withSize(hello, MaxRequestSize + 1);
        QTest::newRow("size 2^62") << withSize(hello, qint64(1) << 62);
        QTest::newRow("garbage") << QByteArray("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
        // The payload's count runs past the declared size.
        QByteArray malformed = hello;
        malformed[8 + 4 + 2 * m_password.size() + 2 + 3] = char(0x40);
        QTest::newRow("payload longer than the message") << malformed;
        QTest::newRow("password longer than the message") << QByteArray::fromHex("0000000000000006"
                                                                                 "7fffffff0000");
    }

    void hostileMessagesAreClosedAtOnce()
    {
        QFETCH(QByteArray, bytes);
        const Reply reply = sendRaw(bytes, 10000);
        QVERIFY(reply.closedByServer);
        QCOMPARE(reply.raw, QByteArray());
        settle();
        QCOMPARE(m_count->text(), QStringLiteral("0"));
        // And the next client is served.
        QVERIFY(send(RequestType::Hello, pingPayload()).message.is(RequestType::Hello));
    }

    void floodBeyondTheLimitIsClosedAndServingGoesOn()
    {
        m_server->setMaxConnections(4);
        QList<QTcpSocket *> idle;
        for (int i = 0; i < 4; ++i) {
            auto *socket = new QTcpSocket(this);
            socket->connectToHost(QHostAddress::LocalHost, m_port);
            QVERIFY(socket->waitForConnected(5000));
            idle.append(socket);
        }
        QTRY_COMPARE(m_server->activeConnections(), 4);
        // Over the limit: closed without a reply, with the 30-second waits still running.
        const Reply refused = send(RequestType::Hello, pingPayload());
        QVERIFY(refused.closedByServer);
        QCOMPARE(refused.raw, QByteArray());
        QCOMPARE(m_count->text(), QStringLiteral("0"));

        qDeleteAll(idle);
        settle();
        QVERIFY(send(RequestType::Hello, pingPayload()).message.is(RequestType::Hello));
    }

    void descriptorThatCannotBeTakenOverShowsTheSocketError()
    {
        struct Exposed : Server
        {
            using Server::incomingConnection;
            using Server::Server;
        };
        Exposed server(m_window.get(), m_count);
        QSignalSpy boxes(m_dialogs.get(), &ScriptedDialogs::boxShown);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("connection not taken over"));
        server.incomingConnection(-1);
        QTRY_COMPARE(boxes.count(), 1);
        QCOMPARE(m_dialogs->last().kind, QStringLiteral("notify"));
        QCOMPARE(m_dialogs->last().title, QStringLiteral("网络出错"));
        QVERIFY(!m_dialogs->last().text.isEmpty());
    }

    // Stopping
    void deletingTheServerEndsConnectionsStillBeingServed()
    {
        Timeouts::setForTesting(0, 0, 600000); // nothing may wait for these to run out
        QList<QTcpSocket *> idle;
        for (int i = 0; i < 3; ++i) {
            auto *socket = new QTcpSocket(this);
            socket->connectToHost(QHostAddress::LocalHost, m_port);
            QVERIFY(socket->waitForConnected(5000));
            idle.append(socket);
        }
        // One more sends half a message.
        idle.last()->write(encodeMessage(m_password, RequestType::Hello, pingPayload()).left(10));
        QTRY_COMPARE(m_server->activeConnections(), 3);
        QSignalSpy destroyed(m_server, &QObject::destroyed);
        delete m_server;
        m_server = nullptr;
        QCOMPARE(destroyed.count(), 1);
        for (QTcpSocket *socket : idle) {
            const Reply reply = TestClient::readUntilClosed(*socket, 10000);
            QVERIFY(reply.closedByServer);
            QCOMPARE(reply.raw, QByteArray());
        }
        qDeleteAll(idle);
    }
};

PELICARD_TEST_MAIN(TestServer)
#include "tst_server.moc"
