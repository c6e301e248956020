#include "contactstore.h"
#include "damagedfile.h"
#include "passwords.h"
#include "protocol.h"
#include "revision.h"
#include "server.h"
#include "serverdatabase.h"
#include "serverfixture.h"
#include "serversettings.h"
#include "sqliteconnection.h"
#include "testclient.h"
#include "testhome.h"
#include "timeouts.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryFile>
#include <csignal>
#include <memory>
#include <optional>
#include <sys/resource.h>

using namespace Protocol;
using ServerFixture::field;
using ServerFixture::settingsFile;
using TestClient::allFinished;
using TestClient::contact;
using TestClient::offThread;
using TestClient::Reply;
using TestClient::startThread;
using TestClient::viewFile;

namespace {
// A message's bytes with the size field rewritten.
QByteArray withSize(QByteArray message, qint64 size)
{
    QDataStream out(&message, QIODevice::ReadWrite);
    out << size;
    return message;
}

enum Database { Missing, Empty, NoRoom }; // what a failed transfer finds

// Adds a contact from any thread; true once the server has answered.
bool add(quint16 port, const QByteArray &contact, int waitMs = 10000)
{
    return TestClient::request(port, field(), RequestType::AddContact, contact, waitMs)
        .message.is(RequestType::AddContact);
}
} // namespace

// The listener and its serving threads over real sockets, without a window: what each request
// does, what the server signals, and what hostile or many clients cannot do to it.
class TestServer : public QObject
{
    Q_OBJECT

    std::unique_ptr<Server> m_server;
    std::unique_ptr<QSignalSpy> m_problems;
    quint16 m_port = 0;

    Reply send(const QByteArray &bytes, int piece = 0)
    {
        const quint16 port = m_port;
        return offThread([=] { return TestClient::exchange(port, bytes, 10000, piece); });
    }
    Reply request(RequestType type, const QByteArray &payload = QByteArray())
    {
        return send(encodeMessage(field(), type, payload));
    }

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("pelicard.*=false")); }

    void init()
    {
        Timeouts::setForTesting(0, 0, 0);
        QVERIFY(ServerFixture::freshHome(true));
        m_server = std::make_unique<Server>();
        m_problems = std::make_unique<QSignalSpy>(m_server.get(), &Server::problem);
        QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));
        m_port = m_server->serverPort();
    }

    void cleanup()
    {
        m_problems.reset();
        m_server.reset();
    }

    // Every request type on a database of three rows, one pair twice, whose revision is about
    // to pass 2^32. A change is counted once, an edit that matches no row too.
    void requests_data()
    {
        QTest::addColumn<bool>("rightPassword");
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QByteArray>("reply"); // empty: closed without a byte
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("logged"); // by the server's slot for a change's signal
        const QStringList seeded{"Li Lei", "Wang Wu", "Li Lei"};
        const auto row = [](const char *name, int type, const QByteArray &payload) -> QTestData & {
            return QTest::newRow(name) << true << type << payload;
        };
        const auto reply = [](int type, const QByteArray &payload = QByteArray()) {
            return encodeMessage(field(), qint16(type), payload);
        };
        row("hello", 0, pingPayload()) << reply(0, pongPayload()) << 1 << seeded << "";
        row("goodbye", 1, pingPayload()) << QByteArray() << -1 << seeded << "";
        row("revision", 2, revisionText(7)) << reply(2, "4294967295") << 0 << seeded << "";
        row("add", 3, contact("Zhao", "Yun"))
            << reply(3) << 0 << seeded + QStringList{"Zhao Yun"} << "contact added";
        row("edit by id", 4, contact("Zhao", "Yun", 2))
            << reply(4) << 0 << QStringList{"Li Lei", "Zhao Yun", "Li Lei"} << "contact changed";
        row("edit of no row", 4, contact("Zhao", "Yun", 9))
            << reply(4) << 0 << seeded << "contact changed";
        row("delete takes every row of the pair", 5, encodeDelete("Li", "Lei"))
            << reply(5) << 0 << QStringList{"Wang Wu"} << "contact deleted";
        row("transfer", 6, QByteArray()) << QByteArray("the file") << 0 << seeded << "";
        for (int type : {7, 8, -1, 32767})
            QTest::addRow("unknown type %d", type)
                << true << type << contact("A", "1") << QByteArray() << 0 << seeded << "";
        // The refusal's password field is null: it must not hand out the password it checked.
        const QByteArray refusal = encodeMessage(QString(), RequestType::WrongPassword,
                                                 QByteArray::fromHex("c3dcc2ebb4edcef321"));
        for (int type = 0; type <= 8; ++type)
            QTest::addRow("wrong password, type %d", type)
                << false << type << contact("A", "1") << refusal << 0 << seeded << "";
    }

    void requests()
    {
        QFETCH(bool, rightPassword);
        QFETCH(int, type);
        QFETCH(QByteArray, payload);
        QFETCH(QByteArray, reply);
        QFETCH(int, count);
        QFETCH(QStringList, rows);
        QFETCH(QString, logged);
        QVERIFY(ServerDatabase().addContact(contact("Li", "Lei")));
        QVERIFY(ServerDatabase().addContact(contact("Wang", "Wu")));
        QVERIFY(ServerDatabase().addContact(contact("Li", "Lei")));
        QVERIFY(ServerSettings::setRevision(4294967295u));
        QVERIFY(ServerDatabase().initialise()); // a restart keeps the rows and the revision
        QSignalSpy counted(m_server.get(), &Server::clientCountChanged);

        QLoggingCategory::setFilterRules(
            QStringLiteral("pelicard.*=false\npelicard.db.debug=true"));
        if (!logged.isEmpty())
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^" + logged + ", \\d+ bytes$"));
        const QString password = rightPassword ? field() : QStringLiteral("wrong");
        const Reply got = send(encodeMessage(password, qint16(type), payload));
        QVERIFY(got.closedByServer);
        if (reply == "the file")
            reply = encodeMessage(field(), RequestType::DatabaseTransfer,
                                  TestClient::fileBytes(ServerDatabase::defaultPath()));
        QCOMPARE(got.raw, reply);
        QCOMPARE(request(RequestType::RevisionQuery).message.payload,
                 QByteArray(logged.isEmpty() ? "4294967295" : "4294967296"));
        QCoreApplication::sendPostedEvents(); // the thread's queued signals
        QLoggingCategory::setFilterRules(QStringLiteral("pelicard.*=false"));
        QCOMPARE(m_server->clientCount(), count);
        QCOMPARE(counted.size(), count == 0 ? 0 : 1);
        QCOMPARE(viewFile(ServerDatabase::defaultPath()).names, rows);
        QCOMPARE(m_problems->size(), 0);
    }

    void passwordIsReadAgainAfterEveryChange()
    {
        ServerSettings::setPassword(QStringLiteral("changed"));
        QVERIFY(request(RequestType::Hello, pingPayload()).message.is(RequestType::WrongPassword));
        // Without a stored password the field is null, and an empty one is taken as equal.
        QSettings(ServerSettings::Organisation, ServerSettings::Application)
            .remove("server/password");
        const auto hello = [this](const QString &password) {
            return send(encodeMessage(password, RequestType::Hello, pingPayload())).raw.toHex(' ');
        };
        const QByteArray pong("00 00 00 00 00 00 00 0e ff ff ff ff 00 00 00 00 00 04 70 6f 6e 67");
        QCOMPARE(hello(QString()), pong);
        QCOMPARE(hello(QStringLiteral("")), pong);
        QCOMPARE(hello(QStringLiteral("guess")),
                 QByteArray("00 00 00 00 00 00 00 13 ff ff ff ff 00 07 00 00 00 09 "
                            "c3 dc c2 eb b4 ed ce f3 21"));
    }

    // A store that cannot be read, or holds a digest too weak to use, opens the server to no
    // password at all, until it is mended.
    void unusablePasswordOpensNothing_data()
    {
        QTest::addColumn<bool>("weak"); // a weak digest stored, else the store unreadable
        QTest::addColumn<QString>("password");
        for (bool weak : {false, true}) {
            const char *why = weak ? "weak digest" : "unreadable store";
            QTest::addRow("%s, null field", why) << weak << QString();
            QTest::addRow("%s, empty field", why) << weak << QStringLiteral("");
            QTest::addRow("%s, the old field", why) << weak << field();
        }
    }

    void unusablePasswordOpensNothing()
    {
        QFETCH(bool, weak);
        QFETCH(QString, password);
        std::optional<DamagedFile> damage;
        if (weak) {
            QByteArray digest = Passwords::sha1Digest(ServerFixture::Password);
            digest[3] = '\0';
            QSettings(ServerSettings::Organisation, ServerSettings::Application)
                .setValue("server/password", digest);
        } else {
            QVERIFY(damage.emplace(settingsFile(), DamagedFile::Directory).ok);
        }
        for (RequestType type : {RequestType::Hello, RequestType::DatabaseTransfer})
            QCOMPARE(send(encodeMessage(password, type, pingPayload())).message.type,
                     qint16(RequestType::WrongPassword));
        damage.reset();
        QVERIFY(ServerSettings::setPassword(ServerFixture::Password));
        QVERIFY(request(RequestType::Hello, pingPayload()).message.is(RequestType::Hello));
    }

    // A failed transfer closes without a byte and tells the server's user.
    void failedTransferIsSignalled_data()
    {
        QTest::addColumn<int>("database");
        QTest::addColumn<QString>("text");
        QTest::newRow("missing") << int(Missing) << "无法读取数据库来发送!";
        QTest::newRow("empty") << int(Empty) << "无法发送数据库!";
        // A copy cut short must not go out: files may grow to 4 KiB only, as on a full disk.
        QTest::newRow("no room for the copy") << int(NoRoom) << "无法读取数据库来发送!";
    }

    void failedTransferIsSignalled()
    {
        QFETCH(int, database);
        QFETCH(QString, text);
        rlimit saved{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
        const auto restore = qScopeGuard([&] { ::setrlimit(RLIMIT_FSIZE, &saved); });
        const rlimit noRoom{4096, saved.rlim_max};
        std::signal(SIGXFSZ, SIG_IGN); // a failed write instead
        if (database == NoRoom)
            QVERIFY(::setrlimit(RLIMIT_FSIZE, &noRoom) == 0);
        else
            QVERIFY(QFile::remove(ServerDatabase::defaultPath()));
        if (database == Empty)
            QVERIFY(QFile(ServerDatabase::defaultPath()).open(QIODevice::WriteOnly));
        const Reply reply = request(RequestType::DatabaseTransfer);
        QVERIFY(reply.closedByServer);
        QCOMPARE(reply.raw, QByteArray());
        QTRY_COMPARE(m_problems->size(), 1);
        QCOMPARE(m_problems->first(), QVariantList({"文件错误", text}));
    }

    // Transfers of one state share one copy on the disk; after a change it stays for the
    // transfers still sending it, and goes once they are done.
    void transfersShareOneCopy()
    {
        // Larger than the sockets' buffers: unread, both transfers stay under way.
        QVERIFY(TestClient::fillDatabase(ServerDatabase::defaultPath(), 12 << 20));
        const QByteArray sent = encodeMessage(field(), RequestType::DatabaseTransfer,
                                              TestClient::fileBytes(ServerDatabase::defaultPath()));
        const QDir copies(ServerDatabase::dataDirectory() + "/transfers");
        QTcpSocket readers[2];
        for (QTcpSocket &reader : readers) {
            reader.setReadBufferSize(1024); // takes no more until read
            reader.connectToHost(QHostAddress::LocalHost, m_port);
            reader.write(encodeMessage(field(), RequestType::DatabaseTransfer, QByteArray()));
        }
        QTRY_VERIFY(readers[0].bytesAvailable() > 0 && readers[1].bytesAvailable() > 0);
        const QStringList shared = copies.entryList(QDir::Files);
        QCOMPARE(shared.size(), 1);
        QVERIFY(offThread([port = m_port] { return add(port, contact("Zhao", "Yun")); }));
        QCOMPARE(copies.entryList(QDir::Files), shared);
        for (QTcpSocket &reader : readers) {
            reader.setReadBufferSize(0);
            QVERIFY(TestClient::readUntilClosed(reader).raw == sent);
        }
        QTRY_COMPARE(copies.entryList(QDir::Files), QStringList());
    }

    // A change is answered only once it and the revision that counts it are both stored;
    // otherwise the client hears nothing, the revision stays, and the server's user is told once.
    void unstoredChangeIsNotAnswered_data()
    {
        QTest::addColumn<int>(
            "kind"); // of damage: to the settings when unwritable, else the database
        QTest::newRow("settings cannot be written") << int(DamagedFile::Unwritable);
        QTest::newRow("database cannot be opened") << int(DamagedFile::Directory);
        QTest::newRow("database is no database") << int(DamagedFile::Garbage);
    }

    void unstoredChangeIsNotAnswered()
    {
        QFETCH(int, kind);
        const bool settings = kind == DamagedFile::Unwritable;
        const QString damaged = settings ? settingsFile() : ServerDatabase::defaultPath();
        QVERIFY(ServerDatabase().addContact(contact("Li", "Lei")));
        QVERIFY(ServerDatabase().addContact(contact("Wang", "Wu")));
        QVERIFY(ServerSettings::setRevision(3));
        std::optional<DamagedFile> damage;
        QVERIFY(damage.emplace(damaged, DamagedFile::Kind(kind)).ok);
        for (const auto &[type, payload] :
             {std::pair(RequestType::AddContact, contact("Zhao", "Yun")),
              std::pair(RequestType::DeleteContact, encodeDelete("Li", "Lei"))}) {
            const Reply reply = send(encodeMessage(field(), type, payload));
            QVERIFY(reply.closedByServer);
            QCOMPARE(reply.raw, QByteArray());
        }
        QCoreApplication::sendPostedEvents(); // the failures' queued calls
        QCOMPARE(m_problems->size(), 1);
        const QVariantList problem = m_problems->first();
        QCOMPARE(problem[0].toString(), settings ? "设置出错" : "数据库出错");
        if (settings)
            QCOMPARE(problem[1].toString(), QStringLiteral("无法写入设置文件 %1!").arg(damaged));
        else
            QVERIFY(!problem[1].toString().isEmpty());

        QCOMPARE(request(RequestType::RevisionQuery).message.payload, QByteArray("3"));
        // Mended and started again: none of the changes is there, and none is counted.
        damage.reset();
        QVERIFY(ServerDatabase().initialise());
        QCOMPARE(viewFile(ServerDatabase::defaultPath()).names, QStringList({"Li Lei", "Wang Wu"}));
        QVERIFY(request(RequestType::AddContact, contact("Zhao", "Yun"))
                    .message.is(RequestType::AddContact));
        QCOMPARE(Revision::current(), 4u);
    }

    // Framing: what is not one whole message gets no reply; hostile input is refused at once,
    // long before the 30-second wait ends. The reader's own tests judge every field.
    void framing_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("piece"); // bytes per write, arriving apart; 0: all at once
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("waited"); // ends only with the wait, shortened here
        const QByteArray message = encodeMessage(field(), RequestType::Hello, pingPayload());
        const QByteArray pong = encodeMessage(field(), RequestType::Hello, pongPayload());
        const QByteArray refusal =
            encodeMessage(QString(), RequestType::WrongPassword, wrongPasswordPayload());
        const auto row = [](const char *name, const QByteArray &bytes, const QByteArray &reply,
                            bool waited = false, int piece = 0) {
            QTest::newRow(name) << bytes << piece << reply << waited;
        };
        row("in pieces", message, pong, false, 5);
        row("extra bytes after it", message + QByteArray(100, 'x'), pong);
        row("short message", withSize(message, message.size() - SizeFieldBytes + 50), {}, true);
        row("silence", {}, {}, true);
        row("garbage", "GET / HTTP/1.1\r\nHost: x\r\n\r\n", {});
        // Refused as soon as the password field is in, not once the announced megabyte is.
        const QByteArray wrong =
            encodeMessage(QString(field()).replace(0, 1, 'x'), RequestType::Hello, pingPayload());
        row("wrong password, payload to come",
            withSize(wrong.left(SizeFieldBytes + 4 + 2 * field().size()), 1024 * 1024), refusal);
    }

    void framing()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, piece);
        QFETCH(QByteArray, reply);
        QFETCH(bool, waited);
        if (waited)
            Timeouts::setForTesting(0, 0, 200);
        const Reply got = send(bytes, piece); // the client gives up after 10 seconds
        QVERIFY(got.closedByServer);
        QCOMPARE(got.raw, reply);
        QVERIFY(request(RequestType::Hello, pingPayload()).message.is(RequestType::Hello));
    }

    // Texts that start with what SQLite could take for a byte-order mark reach the file and the
    // transfer as they were sent.
    void textsArriveAsSent()
    {
        const QStringList names{QStringLiteral("\uFEFF王小明"), QStringLiteral("\uFFFEabc")};
        for (const QString &name : names)
            QVERIFY(request(RequestType::AddContact, contact(name, name))
                        .message.is(RequestType::AddContact));
        QTemporaryFile received;
        const QByteArray bytes = request(RequestType::DatabaseTransfer).message.payload;
        QVERIFY(received.open() && received.write(bytes) == bytes.size() && received.flush());
        for (const QString &path : {ServerDatabase::defaultPath(), received.fileName()}) {
            SqliteConnection connection(path, QStringLiteral("check"));
            QVERIFY(connection.open());
            QStringList stored;
            for (const Contact &c : ContactStore(connection.db()).all())
                stored << c.firstName;
            QCOMPARE(stored, names);
        }
    }

    // Idle connections, however many and from wherever, make room for a client with a request.
    void idleConnectionsMakeRoom_data()
    {
        QTest::addColumn<int>("addresses"); // holding idle connections, reopened when dropped
        QTest::addColumn<int>("each");
        QTest::addColumn<QString>("client"); // the address the greetings come from
        QTest::newRow("200 idle from the client's own address") << 1 << 200 << "127.0.0.1";
        QTest::newRow("8 × 32 idle hold every slot") << 8 << 32 << "127.0.0.9";
    }

    void idleConnectionsMakeRoom()
    {
        QFETCH(int, addresses);
        QFETCH(int, each);
        QFETCH(QString, client);
        m_server->setMaxConnectionsPerAddress(Server::DefaultMaxConnectionsPerAddress);
        std::vector<std::unique_ptr<QTcpSocket>> idle;
        for (int i = 0; i < addresses * each; ++i) {
            auto &socket = idle.emplace_back(std::make_unique<QTcpSocket>());
            const QHostAddress from(QStringLiteral("127.0.0.%1").arg(1 + i / each));
            const auto open = [s = socket.get(), from, port = m_port] {
                s->bind(from);
                s->connectToHost(QHostAddress::LocalHost, port);
            };
            connect(
                socket.get(), &QAbstractSocket::stateChanged, socket.get(),
                [open](QAbstractSocket::SocketState state) {
                    if (state == QAbstractSocket::UnconnectedState)
                        open();
                },
                Qt::QueuedConnection);
            open();
            // In bursts of one address: more at once would overflow the listen queue.
            if ((i + 1) % each == 0)
                QTRY_VERIFY(m_server->activeConnections() >=
                            qMin((i + 1) / each * Server::DefaultMaxConnectionsPerAddress,
                                 Server::DefaultMaxConnections) *
                                9 / 10);
        }
        const QByteArray hello = encodeMessage(field(), RequestType::Hello, pingPayload());
        int answered = 0;
        for (int i = 0; i < 20; ++i) {
            QElapsedTimer timer;
            timer.start();
            const Reply reply = offThread([port = m_port, hello, client] {
                return TestClient::exchange(port, hello, 2000, 0, QHostAddress(client));
            });
            answered += reply.message.payload == "pong" && timer.elapsed() < 2000;
        }
        QVERIFY2(answered >= 19, qPrintable(QString::number(answered)));
        for (auto &socket : idle)
            socket->disconnect(); // no reopening while they go
    }

    // Under pressure, a connection whose request is complete keeps its place: a slow reader's
    // transfer arrives whole.
    void transferIsNotClosedToMakeRoom()
    {
        for (int i = 0; i < 300; ++i)
            QVERIFY(ServerDatabase().addContact(contact(QString::number(i), "x")));
        m_server->setMaxConnections(2);
        QTcpSocket reader;
        reader.connectToHost(QHostAddress::LocalHost, m_port);
        QVERIFY(reader.waitForConnected());
        reader.setReadBufferSize(1024); // takes almost nothing until asked
        reader.write(encodeMessage(field(), RequestType::DatabaseTransfer, QByteArray()));
        QTRY_VERIFY(reader.bytesAvailable() > 0); // being answered
        QTcpSocket idle[4];
        for (QTcpSocket &socket : idle)
            socket.connectToHost(QHostAddress::LocalHost, m_port);
        QVERIFY(request(RequestType::Hello, pingPayload()).message.is(RequestType::Hello));
        reader.setReadBufferSize(0);
        const Reply transfer = TestClient::readUntilClosed(reader);
        QCOMPARE(transfer.message.payload, TestClient::fileBytes(ServerDatabase::defaultPath()));
    }

    void thirtyTwoClientsLoseNoChange()
    {
        constexpr int Clients = 32, PerClient = 50;
        std::vector<std::unique_ptr<QThread>> writers;
        QStringList expected;
        for (int client = 0; client < Clients; ++client) {
            for (int i = 0; i < PerClient; ++i)
                expected.append(QStringLiteral("c%1 %2").arg(client).arg(i));
            writers.push_back(startThread([=, port = m_port] {
                for (int i = 0; i < PerClient; ++i)
                    add(port, contact(QStringLiteral("c%1").arg(client), QString::number(i)));
            }));
        }
        // Meanwhile a client from elsewhere takes the revision, then the file, and looks into what
        // it got.
        QList<std::pair<quint64, TestClient::DatabaseView>> seen;
        auto reader = startThread([&, port = m_port] {
            for (int n = 0; n < 40 && !allFinished(writers); ++n) {
                const auto ask = [port](RequestType type) {
                    return TestClient::exchange(port, encodeMessage(field(), type, {}), 10000, 0,
                                                QHostAddress("127.0.0.2"));
                };
                const auto revision = ask(RequestType::RevisionQuery);
                const auto file = ask(RequestType::DatabaseTransfer);
                seen.append({parseRevision(revision.message.payload),
                             TestClient::viewBytes(file.message.payload)});
            }
        });
        QTRY_VERIFY_WITH_TIMEOUT(allFinished(writers) && reader->isFinished(), 240000);

        QCOMPARE(Revision::current(), quint64(Clients * PerClient));
        const TestClient::DatabaseView final = viewFile(ServerDatabase::defaultPath());
        QCOMPARE(final.integrity, QStringLiteral("ok"));
        QStringList stored = final.names;
        stored.sort();
        expected.sort();
        QCOMPARE(stored, expected);
        bool duringWrites = false;
        for (const auto &[revision, file] : std::as_const(seen)) {
            QCOMPARE(file.integrity, QStringLiteral("ok"));
            // Every change the revision counted is in the file the client received.
            QVERIFY2(quint64(file.names.size()) >= revision, qPrintable(QString::number(revision)));
            duringWrites = duringWrites || (revision > 0 && revision < Clients * PerClient);
        }
        QVERIFY(duringWrites);
    }

    void stoppingUnderLoadKeepsRevisionAndFileEqual()
    {
        QAtomicInt answered;
        std::vector<std::unique_ptr<QThread>> writers;
        for (int client = 0; client < 16; ++client)
            writers.push_back(startThread([&answered, port = m_port] {
                while (add(port, contact("c", "1"), 5000))
                    answered.ref(); // until the server has stopped
            }));
        QTRY_VERIFY_WITH_TIMEOUT(answered.loadRelaxed() >= 100, 60000);
        m_server.reset(); // with requests on the way
        QTRY_VERIFY_WITH_TIMEOUT(allFinished(writers), 60000);

        const TestClient::DatabaseView final = viewFile(ServerDatabase::defaultPath());
        QCOMPARE(final.integrity, QStringLiteral("ok"));
        // No change counted without being stored, none stored without being counted.
        QCOMPARE(quint64(final.names.size()), Revision::current());
        QVERIFY(final.names.size() >= answered.loadRelaxed());
    }
};

PELICARD_TEST_GUILESS_MAIN(TestServer)
#include "tst_server.moc"
