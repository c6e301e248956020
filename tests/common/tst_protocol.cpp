#include "contactfields.h"
#include "protocol.h"
#include "testhome.h"

#include <QBuffer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>

using namespace Protocol;

namespace {

// Every text two characters long, so each takes 8 bytes on the wire: texts 0..10 at 8 * i,
// the count at 88, custom text j at 92 + 8 * j, the id at 188, 196 bytes in all.
Contact twoCharacterContact()
{
    Contact c;
    int i = 0;
    for (const auto &[column, field] : textFields())
        field(c) = QString(QChar(u'a' + i++)) + QChar(u'字');
    c.customCount = 0x01020304;
    return c;
}

QByteArray withSizeField(QByteArray message, qint64 size)
{
    qToBigEndian<qint64>(size, message.data());
    return message;
}

} // namespace

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
        QCOMPARE(decodeMessage(
                     encodeMessage(QStringLiteral("pw"), RequestType::DeleteContact, payload), &m),
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
        QTest::newRow("just over the bound") << QByteArray::fromHex(
            QByteArray::number(MaxRequestSize + 1, 16).rightJustified(16, '0'));
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

    void contactPayloadRoundTrip()
    {
        Contact c = twoCharacterContact();
        c.notes = QStringLiteral("line one\nline two 😀");
        c.customCount = 3;
        const QByteArray plain = encodeContact(c);
        QCOMPARE(decodeContact(plain), c);

        const QByteArray withId = encodeContactWithId(c, Q_UINT64_C(0x0102030405060708));
        QCOMPARE(withId.left(plain.size()), plain);
        QCOMPARE(withId.mid(plain.size()).toHex(' '), QByteArray("01 02 03 04 05 06 07 08"));
        Contact expected = c;
        expected.id = 0x0102030405060708;
        QCOMPARE(decodeContactWithId(withId), expected);
    }

    void truncatedContactPayload_data()
    {
        QTest::addColumn<int>("cut");
        QTest::addColumn<int>("wholeTexts"); // texts complete before the cut, in column order
        QTest::addColumn<bool>("countKept");
        QTest::addColumn<bool>("idKept");
        QTest::newRow("empty") << 0 << 0 << false << false;
        QTest::newRow("in the first length") << 2 << 0 << false << false;
        QTest::newRow("in the first text") << 6 << 0 << false << false;
        QTest::newRow("after the name") << 8 << 1 << false << false;
        QTest::newRow("in the notes") << 87 << 10 << false << false;
        QTest::newRow("before the count") << 88 << 11 << false << false;
        QTest::newRow("in the count") << 90 << 11 << false << false;
        QTest::newRow("after the count") << 92 << 11 << true << false;
        QTest::newRow("after the first label") << 100 << 12 << true << false;
        QTest::newRow("in the last value") << 187 << 22 << true << false;
        QTest::newRow("before the id") << 188 << 23 << true << false;
        QTest::newRow("in the id") << 192 << 23 << true << false;
        QTest::newRow("whole") << 196 << 23 << true << true;
    }

    void truncatedContactPayload()
    {
        QFETCH(int, cut);
        QFETCH(int, wholeTexts);
        QFETCH(bool, countKept);
        QFETCH(bool, idKept);
        Contact sent = twoCharacterContact();
        const QByteArray payload = encodeContactWithId(sent, 42);
        QCOMPARE(payload.size(), 196);

        Contact got = decodeContactWithId(payload.left(cut));
        int i = 0;
        for (const auto &[column, field] : textFields()) {
            const QString expected = i++ < wholeTexts ? field(sent) : QStringLiteral("");
            QCOMPARE(field(got), expected);
            QVERIFY2(!field(got).isNull(), column);
        }
        QCOMPARE(got.customCount, countKept ? sent.customCount : 0);
        QCOMPARE(got.id, idKept ? 42 : 0);
    }

    void deletePayload_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("firstName");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("no given name") << QStringLiteral("A") << QStringLiteral("")
                                       << QByteArray("00 00 00 02 00 41 00 00 00 00");
        QTest::newRow("null texts travel as empty ones")
            << QString() << QString() << QByteArray("00 00 00 00 00 00 00 00");
        QTest::newRow("chinese") << QStringLiteral("王") << QStringLiteral("小 明")
                                 << QByteArray("00 00 00 02 73 8b 00 00 00 06 5c 0f 00 20 66 0e");
    }

    void deletePayload()
    {
        QFETCH(QString, name);
        QFETCH(QString, firstName);
        QFETCH(QByteArray, bytes);
        const QByteArray payload = encodeDelete(name, firstName);
        QCOMPARE(payload.toHex(' '), bytes);
        const auto [gotName, gotFirst] = decodeDelete(payload);
        QCOMPARE(gotName, name.isNull() ? QStringLiteral("") : name);
        QCOMPARE(gotFirst, firstName.isNull() ? QStringLiteral("") : firstName);
        QVERIFY(!gotName.isNull() && !gotFirst.isNull());
    }

    void truncatedDeletePayloadKeepsWhatArrived()
    {
        const QByteArray payload = encodeDelete(QStringLiteral("王"), QStringLiteral("小明"));
        QCOMPARE(decodeDelete(payload.left(6)),
                 std::make_pair(QStringLiteral("王"), QStringLiteral("")));
        QCOMPARE(decodeDelete(payload.left(9)),
                 std::make_pair(QStringLiteral("王"), QStringLiteral("")));
        for (const char *hex : {"", "ffffffffffffffff"}) { // nothing, or two null texts
            const auto [name, firstName] = decodeDelete(QByteArray::fromHex(hex));
            QVERIFY(name.isEmpty() && !name.isNull());
            QVERIFY(firstName.isEmpty() && !firstName.isNull());
        }
    }

    void revisionText_data()
    {
        QTest::addColumn<quint64>("revision");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("zero") << Q_UINT64_C(0) << QByteArray("0");
        QTest::newRow("one") << Q_UINT64_C(1) << QByteArray("1");
        QTest::newRow("32-bit max") << Q_UINT64_C(4294967295) << QByteArray("4294967295");
        QTest::newRow("past 32 bits") << Q_UINT64_C(4294967296) << QByteArray("4294967296");
        QTest::newRow("max") << std::numeric_limits<quint64>::max()
                             << QByteArray("18446744073709551615");
    }

    void revisionText()
    {
        QFETCH(quint64, revision);
        QFETCH(QByteArray, text);
        QCOMPARE(Protocol::revisionText(revision), text);
        bool ok = false;
        QCOMPARE(Protocol::parseRevision(text, &ok), revision);
        QVERIFY(ok);
    }

    void parseRevision_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<quint64>("revision");
        QTest::addColumn<bool>("valid");
        QTest::newRow("leading zeros") << QByteArray("007") << Q_UINT64_C(7) << true;
        QTest::newRow("zeros only") << QByteArray("000") << Q_UINT64_C(0) << true;
        QTest::newRow("empty") << QByteArray() << Q_UINT64_C(0) << false;
        QTest::newRow("letters") << QByteArray("pong") << Q_UINT64_C(0) << false;
        QTest::newRow("trailing letter") << QByteArray("12a") << Q_UINT64_C(0) << false;
        QTest::newRow("negative") << QByteArray("-1") << Q_UINT64_C(0) << false;
        QTest::newRow("fraction") << QByteArray("1.5") << Q_UINT64_C(0) << false;
        QTest::newRow("one past max")
            << QByteArray("18446744073709551616") << Q_UINT64_C(0) << false;
    }

    void parseRevision()
    {
        QFETCH(QByteArray, text);
        QFETCH(quint64, revision);
        QFETCH(bool, valid);
        bool ok = !valid;
        QCOMPARE(Protocol::parseRevision(text, &ok), revision);
        QCOMPARE(ok, valid);
    }

    void sizeSmallerThanTheFieldsIsMalformed_data()
    {
        QTest::addColumn<int>("shortBy"); // bytes the size field claims fewer than there are
        QTest::newRow("one byte") << 1;
        QTest::newRow("the payload's bytes") << 4;
        QTest::newRow("the payload") << 8;
        QTest::newRow("type and payload") << 10;
        QTest::newRow("everything") << 18;
    }

    void sizeSmallerThanTheFieldsIsMalformed()
    {
        QFETCH(int, shortBy);
        // password 4 + 4, type 2, payload 4 + 4
        const QByteArray whole =
            encodeMessage(QStringLiteral("pw"), RequestType::Hello, pingPayload());
        QCOMPARE(whole.size(), 8 + 18);
        Message m;
        QCOMPARE(decodeMessage(withSizeField(whole, 18 - shortBy), &m), MessageReader::Malformed);
    }

    void bytesBeyondThePayloadAreIgnored()
    {
        const QByteArray whole = encodeMessage(QStringLiteral("pw"), RequestType::RevisionQuery,
                                               Protocol::revisionText(12));
        const QByteArray padded = withSizeField(whole + "junk!", whole.size() - 8 + 5);
        for (const QByteArray &bytes : {padded, QByteArray(whole + "after the message")}) {
            Message m;
            QCOMPARE(decodeMessage(bytes, &m), MessageReader::Complete);
            QCOMPARE(m.password, QStringLiteral("pw"));
            QVERIFY(m.is(RequestType::RevisionQuery));
            QCOMPARE(m.payload, QByteArray("12"));
        }
    }

    void shortMessageIsMalformedInMemoryAndWaitedForOnADevice()
    {
        const QByteArray whole = encodeMessage(QString(), RequestType::Hello, pingPayload());
        Message m;
        QCOMPARE(decodeMessage(whole.chopped(1), &m), MessageReader::Malformed);
        QBuffer buffer;
        buffer.setData(whole.chopped(1));
        buffer.open(QIODevice::ReadOnly);
        MessageReader reader;
        QCOMPARE(reader.read(&buffer, &m), MessageReader::NeedMore);
        QCOMPARE(reader.declaredSize(), qint64(whole.size() - 8));
    }

    void repliesMayBeLargerThanRequests()
    {
        const QByteArray database(int(MaxRequestSize), 'd');
        const QByteArray reply =
            encodeMessage(QStringLiteral("pw"), RequestType::DatabaseTransfer, database);
        Message m;
        QCOMPARE(decodeMessage(reply, &m), MessageReader::SizeRefused);
        QCOMPARE(decodeMessage(reply, &m, MaxReplySize), MessageReader::Complete);
        QVERIFY(m.is(RequestType::DatabaseTransfer));
        QCOMPARE(m.payload.size(), database.size());
        QVERIFY(m.payload == database);

        // The largest reply is only announced here: nothing may be allocated for it yet.
        for (const qint64 size : {MaxReplySize, MaxReplySize + 1}) {
            QBuffer buffer;
            buffer.setData(withSizeField(QByteArray(64, '\0'), size));
            buffer.open(QIODevice::ReadOnly);
            MessageReader reader(MaxReplySize);
            QCOMPARE(reader.read(&buffer, &m),
                     size == MaxReplySize ? MessageReader::NeedMore : MessageReader::SizeRefused);
        }
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
