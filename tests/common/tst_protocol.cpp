#include "protocol.h"
#include "testhome.h"

#include <QBuffer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

using namespace Protocol;

class TestProtocol : public QObject
{
    Q_OBJECT
private slots:
    void helloWithNullPasswordIsTwentyTwoBytes()
    {
        const QByteArray bytes = encodeMessage(QString(), RequestType::Hello, pingPayload());
        QCOMPARE(bytes.toHex(' '),
                 QByteArray("00 00 00 00 00 00 00 0e ff ff ff ff 00 00 00 00 00 04 70 69 6e 67"));
    }

    void wrongPasswordPayloadIsGbBytes()
    {
        QCOMPARE(wrongPasswordPayload().toHex(' '), QByteArray("c3 dc c2 eb b4 ed ce f3 21"));
        QCOMPARE(payloadText(wrongPasswordPayload()), QStringLiteral("密码错误!"));
    }

    void messageRoundTrip()
    {
        const QByteArray payload = encodeDelete(QStringLiteral("王"), QStringLiteral("小 明"));
        Message m;
        QCOMPARE(decodeMessage(encodeMessage(QStringLiteral("pw"), RequestType::DeleteContact,
                                             payload),
                               &m),
                 MessageReader::Complete);
        QCOMPARE(m.password, QStringLiteral("pw"));
        QVERIFY(m.is(RequestType::DeleteContact));
        QCOMPARE(decodeDelete(m.payload),
                 std::make_pair(QStringLiteral("王"), QStringLiteral("小 明")));
    }

    void sizeOutOfBoundsIsRefused_data()
    {
        QTest::addColumn<QByteArray>("sizeField");
        QTest::newRow("2^62") << QByteArray::fromHex("4000000000000000");
        QTest::newRow("-1") << QByteArray::fromHex("ffffffffffffffff");
        QTest::newRow("just over the bound")
            << QByteArray::fromHex(QByteArray::number(MaxRequestSize + 1, 16).rightJustified(16, '0'));
    }

    void sizeOutOfBoundsIsRefused()
    {
        QFETCH(QByteArray, sizeField);
        QBuffer buffer;
        buffer.setData(sizeField + QByteArray(16, 'x'));
        buffer.open(QIODevice::ReadOnly);
        MessageReader reader;
        Message m;
        QCOMPARE(reader.read(&buffer, &m), MessageReader::SizeRefused);
    }

    void messageInPiecesIsReadWhole()
    {
        const QByteArray whole = encodeMessage(QStringLiteral("secret"), RequestType::AddContact,
                                               encodeContact(Contact()));
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, server.serverPort());
        QVERIFY(server.waitForNewConnection(5000));
        QTcpSocket *peer = server.nextPendingConnection();
        QVERIFY(client.waitForConnected(5000));

        MessageReader reader;
        Message m;
        for (int at = 0; at < whole.size(); at += 7) {
            QCOMPARE(reader.read(peer, &m), MessageReader::NeedMore);
            client.write(whole.mid(at, 7));
            QVERIFY(client.waitForBytesWritten(5000));
            const qint64 before = peer->bytesAvailable();
            QTRY_VERIFY(peer->bytesAvailable() > before || peer->waitForReadyRead(50));
        }
        QCOMPARE(reader.read(peer, &m), MessageReader::Complete);
        QCOMPARE(m.password, QStringLiteral("secret"));
        QVERIFY(m.is(RequestType::AddContact));
    }
};

PELICARD_TEST_GUILESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
