#include "contactfields.h"
#include "framereader.h"
#include "testhome.h"

#include <QBuffer>
#include <QtEndian>

using namespace Protocol;

namespace {

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
    void fixedMessagesAreExactBytes()
    {
        QCOMPARE(encodeMessage(QString(), RequestType::Hello, pingPayload()).toHex(' '),
                 QByteArray("00 00 00 00 00 00 00 0e ff ff ff ff 00 00 00 00 00 04 70 69 6e 67"));
        QCOMPARE(wrongPasswordPayload().toHex(' '), QByteArray("c3 dc c2 eb b4 ed ce f3 21"));
        QCOMPARE(payloadText(wrongPasswordPayload()), QStringLiteral("密码错误!"));
    }

    void sizeFieldIsChecked_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<FrameReader::Status>("status");
        // After the size field: password 4 + 4, type 2, payload 4 + 4.
        const QByteArray msg =
            encodeMessage(QStringLiteral("pw"), RequestType::Hello, pingPayload());
        QTest::newRow("2^62") << withSizeField(msg, qint64(1) << 62) << FrameReader::SizeRefused;
        QTest::newRow("-1") << withSizeField(msg, -1) << FrameReader::SizeRefused;
        QTest::newRow("payload cut short") << withSizeField(msg, 14) << FrameReader::Malformed;
        QTest::newRow("0") << withSizeField(msg, 0) << FrameReader::Malformed;
    }

    void sizeFieldIsChecked()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(FrameReader::Status, status);
        Message m;
        QCOMPARE(decodeMessage(bytes, &m), status);
    }

    void messageInPiecesIsReadWhole()
    {
        const QByteArray whole = encodeMessage(QStringLiteral("secret"), RequestType::AddContact,
                                               encodeContact(distinctContact()));
        QBuffer buffer;
        buffer.open(QIODevice::ReadOnly);
        FrameReader reader;
        Message m;
        for (int at = 0; at < whole.size(); at += 7) { // the size field comes in two pieces
            QCOMPARE(reader.read(&buffer, &m), FrameReader::NeedMore);
            buffer.buffer().append(whole.mid(at, 7));
        }
        QCOMPARE(reader.read(&buffer, &m), FrameReader::Complete);
        QCOMPARE(m.password, QStringLiteral("secret"));
        QVERIFY(m.is(RequestType::AddContact));
        QCOMPARE(decodeContact(m.payload), distinctContact());
    }

    void contactPayloadLayout()
    {
        // Texts in column order, each 4 + 4 bytes, the count after the notes, then the id.
        QByteArray expected;
        for (int i = 0; i < 23; ++i) {
            if (i == 11)
                expected += QByteArray::fromHex("01020304");
            expected += QByteArray::fromHex("00000004 00") + char('A' + i) + "\x5b\x57";
        }
        Contact c = distinctContact();
        QCOMPARE(encodeContact(c).toHex(' '), expected.toHex(' '));
        expected += QByteArray::fromHex("0102030405060708");
        c.id = 0x0102030405060708;
        QCOMPARE(encodeContactWithId(c, quint64(c.id)).toHex(' '), expected.toHex(' '));
        QCOMPARE(decodeContactWithId(expected), c);
        // A null text would be ff ff ff ff; the peer relies on empty ones.
        QCOMPARE(encodeContact(Contact()), QByteArray(24 * 4, '\0'));
    }

    void truncatedContactPayload_data()
    {
        QTest::addColumn<int>("cut");
        QTest::addColumn<int>("wholeTexts"); // texts complete before the cut, in column order
        QTest::addColumn<bool>("countKept");
        QTest::newRow("in the first text") << 6 << 0 << false;
        QTest::newRow("in the notes") << 87 << 10 << false;
        QTest::newRow("in the count") << 90 << 11 << false;
        QTest::newRow("in the last value") << 187 << 22 << true;
    }

    void truncatedContactPayload()
    {
        QFETCH(int, cut);
        QFETCH(int, wholeTexts);
        QFETCH(bool, countKept);
        Contact sent = distinctContact();
        Contact got = decodeContactWithId(encodeContactWithId(sent, 42).left(cut));
        for (int i = 0; i < 23; ++i) {
            QCOMPARE(textField(got, i), i < wholeTexts ? textField(sent, i) : QStringLiteral(""));
            QVERIFY(!textField(got, i).isNull());
        }
        QCOMPARE(got.customCount, countKept ? sent.customCount : 0);
        QCOMPARE(got.id, 0);
    }

    void revisionText()
    {
        const quint64 max = std::numeric_limits<quint64>::max();
        QCOMPARE(Protocol::revisionText(max), QByteArray("18446744073709551615"));
        bool ok = false;
        QCOMPARE(parseRevision("18446744073709551615", &ok), max);
        QVERIFY(ok);
        for (const char *garbage : {"pong", "-1", "18446744073709551616", ""}) {
            QCOMPARE(parseRevision(garbage, &ok), Q_UINT64_C(0));
            QVERIFY2(!ok, garbage);
        }
    }

    void displayTextSplitsBack()
    {
        using Pair = std::pair<QString, QString>;
        QCOMPARE(Contact::displayText(QStringLiteral("王"), QStringLiteral("")),
                 QStringLiteral("王 "));
        const Pair noFirstName = Contact::splitDisplayText(QStringLiteral("王 "));
        QCOMPARE(noFirstName, Pair(QStringLiteral("王"), QStringLiteral("")));
        QVERIFY(!noFirstName.second.isNull());
        QCOMPARE(Contact::splitDisplayText(QStringLiteral(" Smith  Mary   Ann ")),
                 Pair(QStringLiteral("Smith"), QStringLiteral("Mary Ann")));
    }
};

PELICARD_TEST_GUILESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
