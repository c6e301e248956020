#include "mainwindow.h"
#include "passwords.h"
#include "protocol.h"
#include "revision.h"
#include "scripteddialogs.h"
#include "server.h"
#include "serverdatabase.h"
#include "serversettings.h"
#include "serverwidget.h"
#include "testclient.h"
#include "testhome.h"
#include "timeouts.h"

#include <QAction>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>
#include <optional>

using namespace Protocol;
using TestClient::contact;
using TestClient::freePort;
using TestClient::offThread;
using TestClient::Reply;
using TestClient::viewFile;

namespace {
// The password field every request of a right client carries.
QString field()
{
    return Passwords::fieldText(Passwords::sha1Digest(QStringLiteral("s3cret 口令")));
}

QString settingsFile()
{
    return QSettings(ServerSettings::Organisation, ServerSettings::Application).fileName();
}

// A message's bytes with the size field rewritten.
QByteArray withSize(QByteArray message, qint64 size)
{
    QDataStream out(&message, QIODevice::ReadWrite);
    out << size;
    return message;
}

std::unique_ptr<QThread> startThread(std::function<void()> f)
{
    std::unique_ptr<QThread> thread(QThread::create(std::move(f)));
    thread->start();
    return thread;
}

// Adds a contact from any thread; true once the server has answered.
bool add(quint16 port, const QByteArray &contact, int waitMs = 10000)
{
    return TestClient::request(port, field(), RequestType::AddContact, contact, waitMs)
        .message.is(RequestType::AddContact);
}

bool allFinished(const std::vector<std::unique_ptr<QThread>> &threads)
{
    return std::all_of(threads.begin(), threads.end(), [](auto &t) { return t->isFinished(); });
}

// Makes a file unusable in a way that holds for root too, and mends it when it goes.
class Damaged
{
public:
    enum Kind { Directory, Garbage, Unwritable };
    Damaged(const QString &path, Kind kind)
        : m_path(path), m_long(QFileInfo(path).dir().filePath(QString(250, 'u')))
    {
        QFile garbage(path);
        ok = QFile::rename(path, path + ".aside");
        if (kind == Directory)
            ok = ok && QDir().mkdir(path);
        else if (kind == Garbage)
            ok = ok && garbage.open(QIODevice::WriteOnly) && garbage.write(QByteArray(4096, 'x'));
        else // read through a link; a new file beside the linked one would get too long a name
            ok = ok && QFile::copy(path + ".aside", m_long) && QFile::link(m_long, path);
    }
    ~Damaged()
    {
        QDir(m_path).removeRecursively(); // does nothing to a file
        QFile::remove(m_path);
        QFile::remove(m_long);
        QFile::rename(m_path + ".aside", m_path);
    }
    bool ok = false;

private:
    QString m_path;
    QString m_long;
};

// Runs the event loop as the program does, does something in it, and tells whether the
// application was asked to quit (0) or not (the loop was ended by the test, 42).
int quitsWhen(std::function<void()> action)
{
    QObject running; // takes along the exit still queued when the action quit
    QTimer::singleShot(0, &running, [&running, action] {
        action();
        QTimer::singleShot(0, &running, [] { QCoreApplication::exit(42); });
    });
    return QCoreApplication::exec();
}

void trigger(MainWindow &w, const char *action)
{
    w.findChild<QAction *>(QLatin1String(action))->trigger();
}

void start(MainWindow &w, const QString &password, quint16 port)
{
    w.serverWidget()->passwordEdit->setText(password);
    w.serverWidget()->portSpinBox->setValue(port);
    w.serverWidget()->startButton->click();
}

// Listening locks the database actions; stopping frees them and zeroes the count.
void verifyListening(MainWindow &w, bool listening)
{
    QCOMPARE(w.serverWidget()->startButton->isHidden(), listening);
    for (const char *name : {"resetAction", "importAction", "exportAction"})
        QCOMPARE(w.findChild<QAction *>(QLatin1String(name))->isEnabled(), !listening);
    QCOMPARE(w.server() && w.server()->isListening(), listening);
    if (!listening)
        QCOMPARE(w.serverWidget()->countLabel->text(), QStringLiteral("0"));
}
} // namespace

class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QUrl url;
public slots:
    void open(const QUrl &opened) { url = opened; }
};

class TestServer : public QObject
{
    Q_OBJECT

    std::unique_ptr<QWidget> m_window;
    QLabel *m_count = nullptr;
    Server *m_server = nullptr; // owned by the window
    std::unique_ptr<ScriptedDialogs> m_dialogs;
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
        QSettings(ServerSettings::Organisation, ServerSettings::Application).clear();
        QDir(ServerDatabase::dataDirectory()).removeRecursively();
        QVERIFY(ServerDatabase().initialise());
        ServerSettings::setPassword(QStringLiteral("s3cret 口令"));
        m_dialogs = std::make_unique<ScriptedDialogs>();
        m_window = std::make_unique<QWidget>();
        m_count = new QLabel(QStringLiteral("2"), m_window.get()); // two clients said hello
        m_server = new Server(m_window.get(), m_count);
        m_server->setCountRefreshMs(0);
        // The clients here stand for many machines but all come from 127.0.0.1.
        m_server->setMaxConnectionsPerAddress(Server::DefaultMaxConnections);
        QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));
        m_port = m_server->serverPort();
    }

    void cleanup()
    {
        m_window.reset();
        m_dialogs.reset();
    }

    // Every request type on a database of two rows whose revision is about to pass 2^32.
    void requests_data()
    {
        QTest::addColumn<bool>("rightPassword");
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QByteArray>("reply"); // empty: closed without a byte
        QTest::addColumn<QString>("count");
        QTest::addColumn<QStringList>("rows"); // the revision moves on when they change
        const QStringList seeded{"Li Lei", "Wang Wu"};
        const auto row = [](const char *name, int type, const QByteArray &payload) -> QTestData & {
            return QTest::newRow(name) << true << type << payload;
        };
        const auto reply = [](int type, const QByteArray &payload = QByteArray()) {
            return encodeMessage(field(), qint16(type), payload);
        };
        row("hello", 0, pingPayload()) << reply(0, pongPayload()) << "3" << seeded;
        row("goodbye", 1, pingPayload()) << QByteArray() << "1" << seeded;
        row("revision", 2, revisionText(7)) << reply(2, "4294967295") << "2" << seeded;
        row("add", 3, contact("Zhao", "Yun"))
            << reply(3) << "2" << QStringList{"Li Lei", "Wang Wu", "Zhao Yun"};
        row("edit by id", 4, contact("Zhao", "Yun", 2))
            << reply(4) << "2" << QStringList{"Li Lei", "Zhao Yun"};
        row("delete by both names", 5, encodeDelete("Li", "Lei"))
            << reply(5) << "2" << QStringList{"Wang Wu"};
        row("transfer", 6, QByteArray()) << QByteArray("the file") << "2" << seeded;
        for (int type : {7, 8, -1, 32767})
            QTest::addRow("unknown type %d", type)
                << true << type << contact("A", "1") << QByteArray() << "2" << seeded;
        // The refusal's password field is null: it must not hand out the password it checked.
        const QByteArray refusal = encodeMessage(QString(), RequestType::WrongPassword,
                                                 QByteArray::fromHex("c3dcc2ebb4edcef321"));
        for (int type = 0; type <= 8; ++type)
            QTest::addRow("wrong password, type %d", type)
                << false << type << contact("A", "1") << refusal << "2" << seeded;
    }

    void requests()
    {
        QFETCH(bool, rightPassword);
        QFETCH(int, type);
        QFETCH(QByteArray, payload);
        QFETCH(QByteArray, reply);
        QFETCH(QString, count);
        QFETCH(QStringList, rows);
        ServerDatabase().addContact(contact("Li", "Lei"));
        ServerDatabase().addContact(contact("Wang", "Wu"));
        ServerSettings::setRevision(4294967295u);
        QVERIFY(ServerDatabase().initialise()); // a restart keeps the rows and the revision

        const QString password = rightPassword ? field() : QStringLiteral("wrong");
        const Reply got = send(encodeMessage(password, qint16(type), payload));
        QVERIFY(got.closedByServer);
        if (reply == "the file")
            reply = encodeMessage(field(), RequestType::DatabaseTransfer,
                                  TestClient::fileBytes(ServerDatabase::defaultPath()));
        QCOMPARE(got.raw, reply);
        QCOMPARE(
            request(RequestType::RevisionQuery).message.payload,
            QByteArray(rows == QStringList{"Li Lei", "Wang Wu"} ? "4294967295" : "4294967296"));
        QCOMPARE(m_count->text(), count);
        QCOMPARE(viewFile(ServerDatabase::defaultPath()).names, rows);
        QVERIFY(m_dialogs->shown.isEmpty());
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

    // A failed transfer closes without a byte and tells the server's user in a box that does not
    // wait, as nobody may be there; the same failure again raises the box already open.
    void failedTransfersShowOneBoxEach()
    {
        m_dialogs.reset(); // the real boxes, left open as nobody clicks them
        // A box that waited for an answer would hang the queued calls: closed, it fails below.
        QTimer closer;
        connect(&closer, &QTimer::timeout, this, [] {
            if (QWidget *modal = QApplication::activeModalWidget())
                modal->close();
        });
        closer.start(10);
        QVERIFY(QFile::remove(ServerDatabase::defaultPath()));
        for (int i = 0; i < 4; ++i) {
            if (i == 3) // empty
                QVERIFY(QFile(ServerDatabase::defaultPath()).open(QIODevice::WriteOnly));
            const Reply reply = request(RequestType::DatabaseTransfer);
            QVERIFY(reply.closedByServer);
            QCOMPARE(reply.raw, QByteArray());
        }
        QCoreApplication::sendPostedEvents(); // the boxes' queued calls
        QStringList shown;
        for (QWidget *window : QApplication::topLevelWidgets())
            if (auto *box = qobject_cast<QMessageBox *>(window); box && box->isVisible()) {
                shown << box->windowTitle() + ": " + box->text();
                box->close();
            }
        shown.sort();
        QCOMPARE(shown,
                 QStringList({"文件错误: 无法发送数据库!", "文件错误: 无法读取数据库来发送!"}));
    }

    // A change is answered only once it and the revision that counts it are both stored;
    // otherwise the client hears nothing, the revision stays, and one box tells the server's user.
    void unstoredChangeIsNotAnswered_data()
    {
        QTest::addColumn<int>(
            "kind"); // of damage: to the settings when unwritable, else the database
        QTest::newRow("settings cannot be written") << int(Damaged::Unwritable);
        QTest::newRow("database cannot be opened") << int(Damaged::Directory);
        QTest::newRow("database is no database") << int(Damaged::Garbage);
    }

    void unstoredChangeIsNotAnswered()
    {
        QFETCH(int, kind);
        const bool settings = kind == Damaged::Unwritable;
        const QString damaged = settings ? settingsFile() : ServerDatabase::defaultPath();
        ServerDatabase().addContact(contact("Li", "Lei"));
        ServerDatabase().addContact(contact("Wang", "Wu"));
        QVERIFY(ServerSettings::setRevision(3));
        std::optional<Damaged> damage;
        QVERIFY(damage.emplace(damaged, Damaged::Kind(kind)).ok);
        for (const auto &[type, payload] :
             {std::pair(RequestType::AddContact, contact("Zhao", "Yun")),
              std::pair(RequestType::DeleteContact, encodeDelete("Li", "Lei"))}) {
            const Reply reply = send(encodeMessage(field(), type, payload));
            QVERIFY(reply.closedByServer);
            QCOMPARE(reply.raw, QByteArray());
        }
        QCoreApplication::sendPostedEvents(); // the failures' queued calls
        QCOMPARE(m_dialogs->shown.size(), 1);
        QCOMPARE(m_dialogs->last().kind, QStringLiteral("notify"));
        QCOMPARE(m_dialogs->last().title, settings ? "设置出错" : "数据库出错");
        if (settings)
            QCOMPARE(m_dialogs->last().text, QStringLiteral("无法写入设置文件 %1!").arg(damaged));
        else
            QVERIFY(!m_dialogs->last().text.isEmpty());

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
    // long before the 30-second wait ends.
    void framing_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("waited"); // ends only with the wait, shortened here
        const QByteArray message = encodeMessage(field(), RequestType::Hello, pingPayload());
        const QByteArray pong = encodeMessage(field(), RequestType::Hello, pongPayload());
        const QByteArray refusal =
            encodeMessage(QString(), RequestType::WrongPassword, wrongPasswordPayload());
        const qint64 size = message.size() - SizeFieldBytes;
        QByteArray longPayload = message; // the payload's count runs past the declared size
        longPayload[SizeFieldBytes + 4 + 2 * field().size() + 2 + 3] = char(0x40);
        const auto row = [](const char *name, const QByteArray &bytes, const QByteArray &reply,
                            bool waited = false) {
            QTest::newRow(name) << bytes << reply << waited;
        };
        row("extra bytes inside the size", withSize(message + "trailing", size + 8), pong);
        row("extra bytes after it", message + QByteArray(100, 'x'), pong);
        row("short message", withSize(message, size + 50), {}, true);
        row("silence", {}, {}, true);
        row("negative size", withSize(message, -1), {});
        row("size over 1 MiB", withSize(message, 1024 * 1024 + 1), {});
        row("garbage", "GET / HTTP/1.1\r\nHost: x\r\n\r\n", {});
        row("payload past the size", longPayload, {});
        row("password past the size", QByteArray::fromHex("00000000000000067fffffff0000"), {});
        // Refused as soon as the password field is in, not once the announced megabyte is.
        const QByteArray wrong =
            encodeMessage(QString(field()).replace(0, 1, 'x'), RequestType::Hello, pingPayload());
        row("wrong password, payload to come",
            withSize(wrong.left(SizeFieldBytes + 4 + 2 * field().size()), 1024 * 1024), refusal);
        row("wrong password length, payload to come",
            withSize(QByteArray::fromHex("0000000000000000 00000002 0041"), 1024 * 1024), refusal);
    }

    void framing()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, reply);
        QFETCH(bool, waited);
        if (waited)
            Timeouts::setForTesting(0, 0, 200);
        const Reply got = send(bytes); // the client gives up after 10 seconds
        QVERIFY(got.closedByServer);
        QCOMPARE(got.raw, reply);
        QVERIFY(request(RequestType::Hello, pingPayload()).message.is(RequestType::Hello));
    }

    void messageInPiecesIsReadWhole()
    {
        const QByteArray whole =
            encodeMessage(field(), RequestType::AddContact, contact("分", "段"));
        QCOMPARE(send(whole, 5).raw, encodeMessage(field(), RequestType::AddContact, QByteArray()));
        QCOMPARE(viewFile(ServerDatabase::defaultPath()).names, QStringList{"分 段"});
    }

    void connectionsOverTheLimitAreClosedAndLeavingClientsFreeTheirs()
    {
        m_server->setMaxConnections(2);
        QTcpSocket idle[2];
        for (QTcpSocket &socket : idle)
            socket.connectToHost(QHostAddress::LocalHost, m_port);
        QTRY_COMPARE(m_server->activeConnections(), 2);
        const Reply refused = request(RequestType::Hello, pingPayload());
        QVERIFY(refused.closedByServer);
        QCOMPARE(refused.raw, QByteArray());
        for (QTcpSocket &socket : idle)
            socket.abort();
        // The waits are 30 seconds long: only the clients' leaving ends them this soon.
        QTRY_COMPARE(m_server->activeConnections(), 0);
        QVERIFY(request(RequestType::Hello, pingPayload()).message.is(RequestType::Hello));
    }

    // A byte now and then does not hold a connection past its deadline, and one address cannot
    // take every connection.
    void tricklingClientsLockNobodyOut()
    {
        Timeouts::setForTesting(0, 0, 1000);
        m_server->setMaxConnections(6);
        m_server->setMaxConnectionsPerAddress(4);
        const QByteArray hello = encodeMessage(field(), RequestType::Hello, pingPayload());
        QTcpSocket trickling[6];
        QByteArray received;
        for (QTcpSocket &socket : trickling) {
            connect(&socket, &QIODevice::readyRead, this, [&] { received += socket.readAll(); });
            socket.connectToHost(QHostAddress::LocalHost, m_port);
        }
        // One byte every 150 ms: the whole greeting would take over 3 seconds.
        int sent = 0;
        QTimer drip;
        connect(&drip, &QTimer::timeout, this, [&] {
            for (QTcpSocket &socket : trickling)
                if (socket.state() == QAbstractSocket::ConnectedState)
                    socket.write(hello.mid(sent, 1));
            ++sent;
        });
        drip.start(150);
        QTRY_COMPARE(m_server->activeConnections(), 4);

        const Reply other = offThread([port = m_port, hello] {
            return TestClient::exchange(port, hello, 10000, 0, QHostAddress("127.0.0.2"));
        });
        QCOMPARE(other.message.payload, QByteArray("pong"));
        QTRY_VERIFY(std::all_of(std::begin(trickling), std::end(trickling), [](QTcpSocket &s) {
            return s.state() == QAbstractSocket::UnconnectedState;
        }));
        QVERIFY2(sent < hello.size(), qPrintable(QString::number(sent)));
        QCOMPARE(received, QByteArray());
        QCOMPARE(m_count->text(), QStringLiteral("3"));
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
        // Meanwhile a client takes the revision, then the file, and looks into what it got.
        QList<std::pair<quint64, TestClient::DatabaseView>> seen;
        auto reader = startThread([&, port = m_port] {
            for (int n = 0; n < 40 && !allFinished(writers); ++n) {
                const auto revision =
                    TestClient::request(port, field(), RequestType::RevisionQuery);
                const auto file = TestClient::request(port, field(), RequestType::DatabaseTransfer);
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
        delete m_server; // with requests on the way
        m_server = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT(allFinished(writers), 60000);

        const TestClient::DatabaseView final = viewFile(ServerDatabase::defaultPath());
        QCOMPARE(final.integrity, QStringLiteral("ok"));
        // No change counted without being stored, none stored without being counted.
        QCOMPARE(quint64(final.names.size()), Revision::current());
        QVERIFY(final.names.size() >= answered.loadRelaxed());
    }

    // The window
    void startServesAndStopEndsWhatIsBeingServed()
    {
        MainWindow w;
        const quint16 port = freePort();
        start(w, QStringLiteral("开门"), port);
        verifyListening(w, true);
        const QString field = Passwords::fieldText(Passwords::sha1Digest(QStringLiteral("开门")));
        QTcpSocket idle;
        idle.connectToHost(QHostAddress::LocalHost, port);
        QTRY_COMPARE(w.server()->activeConnections(), 1);
        w.serverWidget()->stopButton->click(); // nobody counted: nothing to ask
        verifyListening(w, false);
        QVERIFY(TestClient::readUntilClosed(idle).closedByServer);

        w.serverWidget()->startButton->click(); // the same port again
        verifyListening(w, true);
        const auto reply = TestClient::offThread(
            [=] { return TestClient::request(port, field, RequestType::Hello, pingPayload()); });
        QCOMPARE(reply.message.payload, QByteArray("pong"));
    }

    // Nothing listens, and nothing typed is stored, when the port is taken or the typed password
    // cannot be used or stored. The stored password shows as a placeholder that is never stored
    // itself; boxes raised while the window is being built do not wait: nobody may be there.
    void startIsRefused_data()
    {
        QTest::addColumn<QString>("typed"); // null: started with the program
        QTest::addColumn<QString>("said");  // in the status bar, or the title of a box
        QTest::addColumn<QString>("box");   // its kind; empty: none
        // The password text stops at the digest's first zero byte: one password in 256 would give
        // an empty text, which anybody's null field matches, and a few more a short one.
        const auto weak = [](int zeroAt) {
            for (int i = 0;; ++i)
                if (Passwords::sha1Digest(QString::number(i)).indexOf('\0') == zeroAt)
                    return QString::number(i);
        };
        const QString unsafe = QStringLiteral("错误: 此密码不安全, 请换一个!");
        const QString failed = QStringLiteral("服务器启动失败");
        QTest::newRow("empty") << "" << QStringLiteral("错误: 密码不可为空!") << "";
        QTest::newRow("digest starts with a zero byte") << weak(0) << unsafe << "";
        QTest::newRow("zero byte among the first eight") << weak(7) << unsafe << "";
        QTest::newRow("settings cannot be written")
            << "新的口令" << QStringLiteral("设置出错") << "critical";
        QTest::newRow("port in use") << "password" << failed << "critical";
        QTest::newRow("port in use at start-up") << QString() << failed << "notify";
    }

    void startIsRefused()
    {
        QFETCH(QString, typed);
        QFETCH(QString, said);
        QFETCH(QString, box);
        QTcpServer blocker;
        QVERIFY(blocker.listen(QHostAddress::AnyIPv4, 0));
        const bool taken = said == "服务器启动失败";
        if (taken)
            ServerSettings::setPort(blocker.serverPort());
        ServerSettings::setStartWithProgram(typed.isNull());
        const int port = ServerSettings::port();
        MainWindow w;
        QCOMPARE(w.serverWidget()->passwordEdit->text(), QStringLiteral("password"));
        std::optional<Damaged> damage;
        if (said == "设置出错")
            QVERIFY(damage.emplace(settingsFile(), Damaged::Unwritable).ok);
        if (!typed.isNull())
            start(w, typed, taken ? port : freePort());
        QCOMPARE(m_dialogs->shown.size(), box.isEmpty() ? 0 : 1);
        if (box.isEmpty())
            QCOMPARE(w.statusBar()->currentMessage(), said);
        else
            QCOMPARE(m_dialogs->last().kind + m_dialogs->last().title, box + said);
        verifyListening(w, false);
        QCOMPARE(ServerSettings::passwordText(), field());
        QCOMPARE(ServerSettings::port(), port);
    }

    void serverWithoutPasswordSaysAnyoneCanConnect()
    {
        QSettings(ServerSettings::Organisation, ServerSettings::Application)
            .remove("server/password");
        MainWindow w;
        QLoggingCategory::setFilterRules(QStringLiteral("pelicard.*=false\n"
                                                        "pelicard.net.warning=true"));
        QTest::ignoreMessage(QtWarningMsg, "listening without a password: anyone can connect");
        start(w, QStringLiteral("password"), freePort()); // the placeholder stores nothing
        QLoggingCategory::setFilterRules(QStringLiteral("pelicard.*=false"));
        verifyListening(w, true);
        QCOMPARE(w.statusBar()->currentMessage(),
                 QStringLiteral("服务器已经启动: 正在监听, 没有密码, 任何人都可以连接!"));
    }

    void trayDoubleClickTogglesAndHelpOpensTheDocumentation()
    {
        MainWindow w;
        w.show();
        auto *tray = w.findChild<QSystemTrayIcon *>();
        emit tray->activated(QSystemTrayIcon::Trigger); // a single click does nothing
        QVERIFY(w.isVisible());
        emit tray->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(!w.isVisible());
        emit tray->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(w.isVisible());

        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "open");
        trigger(w, "documentationAction");
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QCOMPARE(catcher.url.scheme(), QStringLiteral("http"));
        QCOMPARE(catcher.url.path(), QStringLiteral("/products/pelicard/doc/"));
    }

    // Asked once, also when quitting closes the window; No changes nothing, Yes goes on.
    void askedWhileClientsAreCounted_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("quits");
        QTest::newRow("stop") << "stop" << false;
        QTest::newRow("quit") << "quit" << true;
        QTest::newRow("close without a tray") << "close" << true;
    }

    void askedWhileClientsAreCounted()
    {
        QFETCH(QString, how);
        QFETCH(bool, quits);
        auto w = std::make_unique<MainWindow>();
        const quint16 port = freePort();
        start(*w, QStringLiteral("password"), port); // the stored one
        w->show();
        // Counted a moment ago and not shown yet: the question comes all the same.
        const Reply hello = offThread(
            [=] { return TestClient::request(port, field(), RequestType::Hello, pingPayload()); });
        QCOMPARE(hello.message.payload, QByteArray("pong"));
        QCoreApplication::processEvents(); // the greeting's count was queued before the reply
        w->serverWidget()->startCheckBox->setChecked(true); // saved by quitting only
        const auto act = [&] {
            if (how == "stop")
                w->serverWidget()->stopButton->click();
            else if (how == "quit")
                w->serverWidget()->quitButton->click();
            else
                w->close();
        };
        m_dialogs->answers = {QMessageBox::No};
        QCOMPARE(quitsWhen(act), 42);
        QCOMPARE(m_dialogs->shown.size(), 1);
        QCOMPARE(m_dialogs->last().title, QStringLiteral("连接的客户端"));
        QCOMPARE(w->serverWidget()->countLabel->text(), QStringLiteral("1"));
        QVERIFY(w->isVisible());
        verifyListening(*w, true);
        QVERIFY(!ServerSettings::startWithProgram());

        m_dialogs->answers = {QMessageBox::Yes};
        QCOMPARE(quitsWhen(act), quits ? 0 : 42);
        QCOMPARE(m_dialogs->shown.size(), 2);
        QCOMPARE(ServerSettings::startWithProgram(), quits);
        if (!quits)
            verifyListening(*w, false);
    }

    // ".sqlite" is added unless the name contains it somewhere; an existing file is kept.
    void exportNames_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("written"); // empty: the export fails
        const auto row = [](const char *typed, const char *written) {
            QTest::newRow(typed) << QString::fromUtf8(typed) << QString::fromUtf8(written);
        };
        row("contacts", "contacts.sqlite");
        row("contacts.sqlite", "contacts.sqlite");
        row("a.sqlite.bak", "a.sqlite.bak");
        row("b.SQLITE", "b.SQLITE.sqlite");
        row("taken.sqlite", ""); // an existing file
    }

    void exportNames()
    {
        QFETCH(QString, typed);
        QFETCH(QString, written);
        QTemporaryDir dir;
        if (written.isEmpty()) {
            QFile existing(dir.filePath(typed));
            QVERIFY(existing.open(QIODevice::WriteOnly) && existing.write("keep me") == 7);
        }
        MainWindow w;
        m_dialogs->fileNames = {dir.filePath(typed)};
        trigger(w, "exportAction");
        QCOMPARE(m_dialogs->shown[0].kind, QStringLiteral("save"));
        if (written.isEmpty()) {
            QCOMPARE(m_dialogs->last().kind, QStringLiteral("critical"));
            QCOMPARE(m_dialogs->last().text, QStringLiteral("在导出数据库的过程产生了错误!"));
            QCOMPARE(TestClient::fileBytes(dir.filePath(typed)), QByteArray("keep me"));
            return;
        }
        QCOMPARE(m_dialogs->shown.size(), 1);
        QCOMPARE(TestClient::fileBytes(dir.filePath(written)),
                 TestClient::fileBytes(ServerDatabase::defaultPath()));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{written});
    }

    void reset_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("text"); // of the last box
        QTest::addColumn<bool>("present"); // the file, before the reset
        QTest::newRow("answered no")
            << int(QMessageBox::No) << "请确认从数据库中删除所有联系人?" << true;
        QTest::newRow("deleted") << int(QMessageBox::Yes) << "请重启程序!" << true;
        // Nothing to delete is a failed deletion; the counter still starts again.
        QTest::newRow("no file") << int(QMessageBox::Yes) << "无法删除数据库!" << false;
    }

    void reset()
    {
        QFETCH(int, answer);
        QFETCH(QString, text);
        QFETCH(bool, present);
        MainWindow w; // makes the database when it is missing
        if (!present)
            QVERIFY(QFile::remove(ServerDatabase::defaultPath()));
        Revision::add(5);
        m_dialogs->answers = {QMessageBox::StandardButton(answer)};
        trigger(w, "resetAction");
        QCOMPARE(m_dialogs->shown[0].title, QStringLiteral("确认数据库重置"));
        QCOMPARE(m_dialogs->last().text, text);
        QCOMPARE(QFile::exists(ServerDatabase::defaultPath()),
                 present && answer == QMessageBox::No);
        QCOMPARE(Revision::current(), answer == QMessageBox::No ? 5u : 0u);
    }

    // Only a contacts database is taken; the copy replaces the database whole or not at all,
    // and counts as one change.
    void import_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("text"); // of the last box
        const auto row = [](const char *name, const char *source, int answer, const char *text) {
            QTest::newRow(name) << QString::fromUtf8(source) << answer << QString::fromUtf8(text);
        };
        const char *question = "请确认将外部数据库替换掉当前的数据库?";
        const char *refusal = "所选文件不是联系人数据库!";
        row("imported", "contacts", QMessageBox::Yes, question);
        row("answered no", "contacts", QMessageBox::No, question);
        row("text file", "text", QMessageBox::Yes, refusal);
        row("database without contacts", "other table", QMessageBox::Yes, refusal);
        row("database cannot be written", "contacts, target damaged", QMessageBox::Yes,
            "无法写入数据库!");
    }

    void import()
    {
        QFETCH(QString, source);
        QFETCH(int, answer);
        QFETCH(QString, text);
        QTemporaryDir dir;
        const QString chosen = dir.filePath("chosen.sqlite");
        if (source.startsWith("contacts")) {
            QVERIFY(ServerDatabase(chosen).initialise());
            QVERIFY(ServerDatabase(chosen).addContact(encodeContact(Contact())).stored);
        } else if (source == "text") {
            QFile file(chosen);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("Li Lei, 010 1234\n") > 0);
        } else {
            {
                QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "other");
                db.setDatabaseName(chosen);
                QVERIFY(db.open() && db.exec("CREATE TABLE people (name TEXT)").isActive());
            }
            QSqlDatabase::removeDatabase("other");
        }
        MainWindow w;
        std::optional<Damaged> damage;
        if (source.endsWith("damaged"))
            QVERIFY(damage.emplace(ServerDatabase::defaultPath(), Damaged::Directory).ok);
        const QByteArray before = TestClient::fileBytes(ServerDatabase::defaultPath());
        const quint64 revision = Revision::current();
        m_dialogs->fileNames = {chosen};
        m_dialogs->answers = {QMessageBox::StandardButton(answer)};
        trigger(w, "importAction");
        const bool imported = source == "contacts" && answer == QMessageBox::Yes;
        QCOMPARE(m_dialogs->shown[0].kind, QStringLiteral("open"));
        QCOMPARE(m_dialogs->last().text, text);
        QCOMPARE(TestClient::fileBytes(ServerDatabase::defaultPath()),
                 imported ? TestClient::fileBytes(chosen) : before);
        QCOMPARE(Revision::current(), revision + (imported ? 1 : 0));
        QCOMPARE(w.statusBar()->currentMessage() == QStringLiteral("数据库导入成功!"), imported);
        QCOMPARE(QDir(ServerDatabase::dataDirectory()).entryList(QDir::Files),
                 QStringList{damage ? "server.sqlite.aside" : "server.sqlite"});
    }
};

PELICARD_TEST_MAIN(TestServer)
#include "tst_server.moc"
