#include "databasefile.h"
#include "framereader.h"
#include "serverlink.h"
#include "testclient.h"
#include "testhome.h"
#include "timeouts.h"

#include <QDir>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtEndian>

using Exchange = ServerLink::Exchange;
using Outcome = ServerLink::Outcome;
using Step = ServerLink::Step;
using Protocol::RequestType;

namespace {

const QString Password = QStringLiteral("口令");

QByteArray reply(RequestType type, const QByteArray &payload)
{
    return Protocol::encodeMessage(QStringLiteral("server"), type, payload);
}

QByteArray sizeFieldOnly(qint64 size)
{
    QByteArray field(8, '\0');
    qToBigEndian<qint64>(size, field.data());
    return field;
}

// Listens on 127.0.0.1, reads each request whole and answers it with the given bytes, in pieces
// 200 ms apart when asked, then closes the connection or leaves it open.
class ScriptedServer : public QObject
{
public:
    QByteArray answer;
    bool close = true;
    int pieces = 1;
    QList<QByteArray> requests;

    ScriptedServer()
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *socket = m_server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, this, [=] {
                m_received += socket->readAll();
                Protocol::Message request;
                if (Protocol::decodeMessage(m_received, &request) !=
                    Protocol::FrameReader::Complete)
                    return;
                requests << m_received;
                send(socket, 0);
            });
        });
    }
    quint16 port() const { return m_server.serverPort(); }

private:
    void send(QTcpSocket *socket, int piece)
    {
        const qsizetype size = answer.size() / pieces + 1;
        socket->write(answer.mid(piece * size, size));
        if (piece + 1 < pieces)
            QTimer::singleShot(200, socket, [=] { send(socket, piece + 1); });
        else if (close)
            socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QByteArray m_received;
};

} // namespace

class TestServerLink : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QByteArray m_database; // the server's, as a transfer sends it
    QByteArray m_old;      // the account's file

    QString file(const QString &name) const { return m_dir.filePath(name); }

    // Starts the exchange; *request is what the server must receive.
    bool start(ServerLink &link, Exchange exchange, QByteArray *request)
    {
        Contact c;
        c.name = QStringLiteral("Wang");
        c.firstName = QStringLiteral(" Xiao  Ming ");
        c.id = 7;
        c.normalise();
        const auto expect = [&](RequestType type, const QByteArray &payload) {
            *request = Protocol::encodeMessage(Password, type, payload);
            return true;
        };
        switch (exchange) {
        case Exchange::Hello:
            return expect(RequestType::Hello, "ping") && link.sendHello();
        case Exchange::Goodbye:
            return expect(RequestType::Goodbye, "ping") && link.sendGoodbye();
        case Exchange::RevisionQuery:
            return expect(RequestType::RevisionQuery, "41") && link.queryRevision(41);
        case Exchange::AddContact:
            return expect(RequestType::AddContact, Protocol::encodeContact(c)) &&
                   link.addContact(c);
        case Exchange::EditContact:
            return expect(RequestType::EditContact, Protocol::encodeContactWithId(c, 7)) &&
                   link.editContact(c);
        case Exchange::DeleteContact:
            return expect(RequestType::DeleteContact,
                          Protocol::encodeDelete(c.name, c.firstName)) &&
                   link.deleteContact(c.name, c.firstName);
        default:
            return expect(RequestType::DatabaseTransfer, QByteArray()) &&
                   link.transferDatabase(file("account.sqlite"));
        }
    }

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("pelicard.*=false"));
        // Room for a busy machine, and still quick when a wait is meant to run out.
        Timeouts::setForTesting(3000, 500, 500);
        // The server's arrives in many pieces.
        QVERIFY(TestClient::fillDatabase(file("server.sqlite"), 600 * 1024));
        QVERIFY(TestClient::fillDatabase(file("account.sqlite"), 4096));
        m_database = TestClient::fileBytes(file("server.sqlite"));
        m_old = TestClient::fileBytes(file("account.sqlite"));
        QVERIFY(m_database.size() > 256 * 1024 && !m_old.isEmpty());
    }

    void cleanupTestCase() { Timeouts::setForTesting(0, 0, 0); }

    void exchange_data()
    {
        QTest::addColumn<Exchange>("exchange");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("close");
        QTest::addColumn<int>("pieces");
        QTest::addColumn<qint64>("freeSpace"); // -1: the disk's
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<Step>("step");
        QTest::addColumn<qint16>("type");

        using E = Exchange;
        using O = Outcome;
        using R = RequestType;
        const auto row = [](const char *name, Exchange exchange, const QByteArray &answer,
                            bool close, Outcome outcome, Step step, qint16 type = -1,
                            int pieces = 1, qint64 free = -1) {
            QTest::newRow(name) << exchange << answer << close << pieces << free << outcome << step
                                << type;
        };
        const QByteArray refusal = reply(R::WrongPassword, "\xc3\xdc\xc2\xeb\xb4\xed\xce\xf3!");
        const QByteArray revision = reply(R::RevisionQuery, "042");
        const QByteArray whole = reply(R::DatabaseTransfer, m_database);
        const QByteArray half = whole.left(whole.size() / 2);
        const Exchange transfer = E::DatabaseTransfer;
        const Step rest = Step::ReplyRest;

        row("hello", E::Hello, reply(R::Hello, "pong"), true, O::Ok, rest, 0);
        row("goodbye", E::Goodbye, {}, false, O::Ok, Step::Write);
        row("revision", E::RevisionQuery, revision, true, O::Ok, rest, 2);
        row("add", E::AddContact, reply(R::AddContact, {}), true, O::Ok, rest, 3);
        row("edit", E::EditContact, reply(R::EditContact, {}), false, O::Ok, rest, 4);
        row("delete", E::DeleteContact, reply(R::DeleteContact, {}), true, O::Ok, rest, 5);
        row("wrong password", E::Hello, refusal, true, O::Refused, rest, 7);
        row("nobody listening", E::RevisionQuery, {}, true, O::CannotConnect, Step::Connect);
        row("no reply in time", E::AddContact, {}, false, O::TimedOut, Step::Reply);
        row("closed without reply", E::DeleteContact, {}, true, O::ClosedWithoutReply, Step::Reply);
        row("reply stalls", E::RevisionQuery, revision.left(15), false, O::TimedOut, rest);
        row("reply of another type", E::RevisionQuery, reply(R::AddContact, {}), true,
            O::UnexpectedType, rest, 3);
        row("revision no number", E::RevisionQuery, reply(R::RevisionQuery, "4x"), true,
            O::MalformedReply, rest, 2);
        row("reply too large", E::Hello, sizeFieldOnly(Protocol::MaxHeldReplySize + 1), false,
            O::ReplyTooLarge, rest);
        row("transfer", transfer, whole, true, O::Ok, rest, 6);
        // Each wait counts from the last bytes: together the pauses outlast one.
        row("transfer sent slowly", transfer, whole, true, O::Ok, rest, 6, 5);
        row("transfer cut off", transfer, half, true, O::ReplyCutOff, rest);
        row("transfer over the disk", transfer, whole, true, O::NoDiskSpace, rest, -1, 1,
            m_database.size());
        row("transfer over any reply", transfer, sizeFieldOnly(Protocol::MaxReplySize + 1), false,
            O::ReplyTooLarge, rest);
        row("transfer of no database", transfer, reply(R::DatabaseTransfer, QByteArray(5000, 'x')),
            true, O::NotADatabase, rest, 6);
        row("transfer empty", transfer, reply(R::DatabaseTransfer, ""), true, O::EmptyDatabase,
            rest, 6);
        row("transfer refused", transfer, refusal, true, O::Refused, rest, 7);
        row("transfer of another type", transfer, revision, true, O::UnexpectedType, rest, 2);
    }

    void exchange()
    {
        QFETCH(Exchange, exchange);
        QFETCH(QByteArray, answer);
        QFETCH(bool, close);
        QFETCH(int, pieces);
        QFETCH(qint64, freeSpace);
        QFETCH(Outcome, outcome);
        QFETCH(Step, step);
        QFETCH(qint16, type);
        ScriptedServer server;
        server.answer = answer;
        server.close = close;
        server.pieces = pieces;
        ServerLink::setFreeSpaceForTesting(freeSpace);
        const bool listening = outcome != Outcome::CannotConnect;
        ServerLink link("127.0.0.1", listening ? server.port() : TestClient::freePort(), Password);
        QSignalSpy finished(&link, &ServerLink::finished);
        QSignalSpy progress(&link, &ServerLink::transferProgress);
        QByteArray request;
        QVERIFY(start(link, exchange, &request));
        QVERIFY(!link.sendHello()); // one exchange at a time
        QVERIFY(finished.wait(10000));
        ServerLink::setFreeSpaceForTesting(-1);

        const auto result = finished.first().first().value<ServerLink::Result>();
        QCOMPARE(result.exchange, exchange);
        QCOMPARE(result.outcome, outcome);
        QCOMPARE(result.step, step);
        QCOMPARE(result.reply.type, type);
        QCOMPARE(result.refusalText, type == 7 ? "密码错误!" : "");
        // The server's "042" is revision 42.
        QCOMPARE(result.revision, result.ok() && exchange == Exchange::RevisionQuery ? 42u : 0u);
        QVERIFY(!link.isRunning());
        if (listening)
            QTRY_COMPARE(server.requests, QList<QByteArray>{request});
        if (exchange != Exchange::DatabaseTransfer)
            return;
        // The account's file is as it was until the replacement is committed; nothing else
        // is left beside it.
        QCOMPARE(TestClient::fileBytes(file("account.sqlite")), m_old);
        std::unique_ptr<DatabaseReplacement> replacement = link.takeReplacement();
        QCOMPARE(bool(replacement), result.ok());
        const qint64 received = progress.isEmpty() ? 0 : progress.last().first().toLongLong();
        if (outcome == Outcome::NoDiskSpace)
            QCOMPARE(received, 0); // refused before a byte was written
        if (replacement) {
            QCOMPARE(progress.last(), (QList<QVariant>{m_database.size(), m_database.size()}));
            QVERIFY(progress.size() > 1);
            QVERIFY(replacement->commit());
            QCOMPARE(TestClient::fileBytes(file("account.sqlite")), m_database);
            DatabaseReplacement back(file("account.sqlite"));
            QVERIFY(back.open() && back.device()->write(m_old) == m_old.size() && back.commit());
        }
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files),
                 (QStringList{"account.sqlite", "server.sqlite"}));
    }
};

PELICARD_TEST_GUILESS_MAIN(TestServerLink)
#include "tst_serverlink.moc"
