#include "passwords.h"
#include "protocol.h"
#include "testclient.h"
#include "testhome.h"

#include <QDataStream>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtEndian>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Protocol;

namespace {
const QString Password = QStringLiteral("端到端");

QString field()
{
    return Passwords::fieldText(Passwords::sha1Digest(Password));
}

// pelicard-server in a home of its own, on the offscreen platform, as on a machine without a
// display, started by its settings alone.
class ServerHome
{
public:
    ServerHome()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::AnyIPv4, 0);
        port = probe.serverPort();
        probe.close();
        QSettings settings(settingsPath(), QSettings::IniFormat);
        settings.setValue("server/password", Passwords::sha1Digest(Password));
        settings.setValue("server/port", port);
        settings.setValue("server/start", true);
    }

    QString settingsPath() const
    {
        return m_home.filePath(".config/brisvane/Pelicard-server.conf");
    }
    QString dataPath() const { return m_home.filePath(".pelicard/server"); }
    QString databasePath() const { return dataPath() + "/server.sqlite"; }

    void start(QProcess &server,
               QProcess::ProcessChannelMode channels = QProcess::ForwardedChannels)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", m_home.path());
        env.insert("XDG_CONFIG_HOME", m_home.filePath(".config"));
        env.remove("QT_QPA_PLATFORM");
        server.setProcessEnvironment(env);
        server.setProcessChannelMode(channels);
        server.start(QStringLiteral(PELICARD_SERVER_BINARY), {"-platform", "offscreen"});
    }

    TestClient::Reply ask(RequestType type, const QByteArray &payload = QByteArray()) const
    {
        return TestClient::request(port, field(), type, payload);
    }
    bool serves() const
    {
        return ask(RequestType::Hello, pingPayload()).message.is(RequestType::Hello);
    }

    quint16 port = 0;

private:
    QTemporaryDir m_home;
};

qint64 residentBytes(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (QByteArray line; !(line = status.readLine()).isEmpty();)
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
    return -1;
}

// A non-blocking connection to the server from another loopback address.
int connectFrom(quint32 from, quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(from);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        return -1;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 &&
        errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}
} // namespace

class TestE2eServer : public QObject
{
    Q_OBJECT
private slots:
    void headlessServerServesAndEndsOnTerminate()
    {
        ServerHome home;
        QProcess server;
        home.start(server);
        QVERIFY(server.waitForStarted(10000));
        // Nothing tells from outside when it listens; ask until it answers.
        QTRY_VERIFY_WITH_TIMEOUT(home.serves(), 10000);

        const QByteArray added = TestClient::contact(QStringLiteral("欧阳"), QStringLiteral("修"));
        QVERIFY(home.ask(RequestType::AddContact, added).message.is(RequestType::AddContact));
        QCOMPARE(home.ask(RequestType::RevisionQuery).message.payload, QByteArray("1"));

        QTcpSocket idle; // half a message: its thread would wait 30 seconds for the rest
        idle.connectToHost(QHostAddress::LocalHost, home.port);
        QVERIFY(idle.waitForConnected(5000));
        idle.write(encodeMessage(field(), RequestType::Hello, pingPayload()).left(9));
        QVERIFY(idle.waitForBytesWritten(5000));
        server.terminate();
        QVERIFY(server.waitForFinished(15000));
        QCOMPARE(server.exitCode(), 0);
        QVERIFY(TestClient::readUntilClosed(idle, 5000).closedByServer);
        QSettings settings(home.settingsPath(), QSettings::IniFormat);
        QCOMPARE(settings.value("server/serverRevision").toULongLong(), 1u);
        QCOMPARE(TestClient::viewFile(home.databasePath()).names, QStringList{"欧阳 修"});
    }

    // Two servers on one home would both count revisions and write the database. The second
    // refuses to start and names the process holding the folder, until that has gone.
    void secondServerOnOneHomeIsRefused()
    {
        ServerHome home;
        QProcess first;
        home.start(first);
        QVERIFY(first.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(home.serves(), 10000);

        QProcess second;
        home.start(second, QProcess::SeparateChannels);
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 1);
        const QString why =
            QStringLiteral("数据文件夹 %1 正由另一个服务器使用 (进程 %2), 不能再启动一个!")
                .arg(home.dataPath())
                .arg(first.processId());
        const QString said = QString::fromUtf8(second.readAllStandardError());
        QVERIFY2(said.contains(why), qPrintable(said));
        QVERIFY(home.serves());

        // Killed, the first leaves its lock behind; the next server takes it over.
        first.kill();
        QVERIFY(first.waitForFinished(10000));
        QProcess third;
        home.start(third);
        QVERIFY(third.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(home.serves(), 10000);
        third.terminate();
        QVERIFY(third.waitForFinished(15000));
        QCOMPARE(third.exitCode(), 0);
    }

    // Clients without the password, 32 from each of eight addresses, announce large requests,
    // send a wrong password in two pieces and then as much payload as the server takes. The
    // server (37 MB at rest) must hold none of it.
    void hostileConnectionsKeepMemoryBounded_data()
    {
        QTest::addColumn<qint64>("announced");
        QTest::newRow("16 MiB each") << (qint64(16) << 20);
        QTest::newRow("1 MiB each") << (qint64(1) << 20);
    }

    void hostileConnectionsKeepMemoryBounded()
    {
        QFETCH(qint64, announced);
        constexpr int Connections = 256, PerAddress = 32;
        // Half of the 300 MB allowed: holding even the 1 MiB ones would take it past 290 MB.
        constexpr qint64 Limit = 150 * 1000 * 1000;
        ServerHome home;
        QProcess server;
        home.start(server);
        QVERIFY(server.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(home.serves(), 10000);

        QByteArray head(SizeFieldBytes, '\0');
        qToBigEndian<qint64>(announced, head.data());
        {
            QDataStream out(&head, QIODevice::Append);
            out.setVersion(StreamVersion);
            out << QString(field()).replace(0, 1, QLatin1Char('x'));
        }
        const qsizetype firstPiece = SizeFieldBytes + 4 + field().size();
        static const QByteArray payload(64 * 1024, '\0');
        struct Connection
        {
            int fd;
            qint64 sent = 0;
            QElapsedTimer since;
        };
        std::vector<Connection> connections;
        for (int i = 0; i < Connections; ++i) {
            const int fd = connectFrom(INADDR_LOOPBACK + quint32(i / PerAddress), home.port);
            QVERIFY(fd >= 0);
            connections.push_back({fd, 0, {}});
        }

        qint64 peak = 0;
        int closedByServer = 0;
        QElapsedTimer running;
        running.start();
        while (closedByServer < Connections && peak < Limit && !running.hasExpired(20000)) {
            std::vector<pollfd> polled;
            for (const Connection &c : connections)
                if (c.fd >= 0)
                    polled.push_back({c.fd, short(POLLIN | POLLOUT), 0});
            ::poll(polled.data(), polled.size(), 20);
            for (const pollfd &p : polled) {
                auto c = std::find_if(connections.begin(), connections.end(),
                                      [&](const Connection &c) { return c.fd == p.fd; });
                char discard[256];
                bool closed = (p.revents & (POLLERR | POLLHUP)) != 0;
                if (!closed && (p.revents & POLLIN))
                    closed = ::recv(c->fd, discard, sizeof discard, 0) <= 0;
                if (!closed && (p.revents & POLLOUT)) {
                    // The password's second half comes a moment after the first.
                    QByteArray piece;
                    if (c->sent == 0)
                        piece = head.left(firstPiece);
                    else if (c->sent < head.size() && c->since.hasExpired(100))
                        piece = head.mid(firstPiece);
                    else if (c->sent >= head.size() && c->sent < announced + SizeFieldBytes)
                        piece = payload.left(announced + SizeFieldBytes - c->sent);
                    const ssize_t n = piece.isEmpty() ? 0
                                                      : ::send(c->fd, piece.constData(),
                                                               size_t(piece.size()), MSG_NOSIGNAL);
                    if (n > 0 && c->sent == 0)
                        c->since.start();
                    c->sent += qMax<ssize_t>(n, 0);
                    closed = n < 0 && errno != EAGAIN;
                }
                if (closed) {
                    ::close(c->fd);
                    c->fd = -1;
                    ++closedByServer;
                }
            }
            peak = qMax(peak, residentBytes(server.processId()));
        }
        for (const Connection &c : connections)
            if (c.fd >= 0)
                ::close(c.fd);
        QVERIFY2(peak > 0 && peak < Limit, qPrintable(QString::number(peak)));
        QCOMPARE(closedByServer, Connections);
        QTRY_VERIFY_WITH_TIMEOUT(home.serves(), 10000);
        server.terminate();
        QVERIFY(server.waitForFinished(15000));
    }
};

PELICARD_TEST_GUILESS_MAIN(TestE2eServer)
#include "tst_e2e_server.moc"
