#include "passwords.h"
#include "protocol.h"
#include "testclient.h"
#include "testhome.h"

#include <QProcess>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

using namespace Protocol;

class TestE2eServer : public QObject
{
    Q_OBJECT
private slots:
    // pelicard-server in a home of its own, on the offscreen platform, as on a machine without a
    // display, started by its settings alone.
    void headlessServerServesAndEndsOnTerminate()
    {
        QTemporaryDir home;
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::AnyIPv4, 0));
        const quint16 port = probe.serverPort();
        probe.close();
        const QByteArray digest = Passwords::sha1Digest(QStringLiteral("端到端"));
        QSettings settings(home.filePath(".config/brisvane/Pelicard-server.conf"),
                           QSettings::IniFormat);
        settings.setValue("server/password", digest);
        settings.setValue("server/port", port);
        settings.setValue("server/start", true);
        settings.sync();

        QProcess server;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.insert("XDG_CONFIG_HOME", home.filePath(".config"));
        env.remove("QT_QPA_PLATFORM");
        server.setProcessEnvironment(env);
        server.setProcessChannelMode(QProcess::ForwardedChannels);
        server.start(QStringLiteral(PELICARD_SERVER_BINARY), {"-platform", "offscreen"});
        QVERIFY(server.waitForStarted(10000));
        const QString field = Passwords::fieldText(digest);
        const auto ask = [&](RequestType type, const QByteArray &payload = QByteArray()) {
            return TestClient::request(port, field, type, payload);
        };
        // Nothing tells from outside when it listens; ask until it answers.
        QTRY_VERIFY_WITH_TIMEOUT(
            ask(RequestType::Hello, pingPayload()).message.is(RequestType::Hello), 10000);

        const QByteArray added = TestClient::contact(QStringLiteral("欧阳"), QStringLiteral("修"));
        QVERIFY(ask(RequestType::AddContact, added).message.is(RequestType::AddContact));
        QCOMPARE(ask(RequestType::RevisionQuery).message.payload, QByteArray("1"));

        QTcpSocket idle; // half a message: its thread would wait 30 seconds for the rest
        idle.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(idle.waitForConnected(5000));
        idle.write(encodeMessage(field, RequestType::Hello, pingPayload()).left(9));
        QVERIFY(idle.waitForBytesWritten(5000));
        server.terminate();
        QVERIFY(server.waitForFinished(15000));
        QCOMPARE(server.exitCode(), 0);
        QVERIFY(TestClient::readUntilClosed(idle, 5000).closedByServer);
        settings.sync();
        QCOMPARE(settings.value("server/serverRevision").toULongLong(), 1u);
        QCOMPARE(TestClient::viewFile(home.filePath(".pelicard/server/server.sqlite")).names,
                 QStringList{"欧阳 修"});
    }
};

PELICARD_TEST_GUILESS_MAIN(TestE2eServer)
#include "tst_e2e_server.moc"
