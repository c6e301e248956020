#include "requestreader.h"
#include "testhome.h"

#include <QBuffer>
#include <QDataStream>
#include <QtEndian>

using R = RequestReader;

namespace {
// A size field, a password length field, then raw bytes: framings no sender makes.
QByteArray frame(qint64 size, quint32 passwordLength, const QByteArray &rest = QByteArray())
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << size << passwordLength;
    return bytes + rest;
}

const QString Password = QStringLiteral("secret"); // 12 bytes on the wire
const QByteArray PasswordBytes("\0s\0e\0c\0r\0e\0t", 12);
} // namespace

class TestRequestReader : public QObject
{
    Q_OBJECT

private slots:
    void read_data()
    {
        QTest::addColumn<QString>("password"); // the server's
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("piece"); // bytes fed per read; 0: all at once
        QTest::addColumn<int>("status");
        QTest::addColumn<qint64>("left"); // bytes the reader leaves in the device
        const auto message = [](const QString &password) {
            return Protocol::encodeMessage(password, qint16(3), "payload");
        };
        const auto row = [](const char *name, const QByteArray &bytes, int status, qint64 left = 0,
                            int piece = 0, const QString &server = Password) {
            QTest::newRow(name) << server << bytes << piece << status << left;
        };
        row("whole", message(Password), R::Complete);
        QByteArray inside = message(Password) + "trailing"; // not looked at
        qToBigEndian<qint64>(inside.size() - Protocol::SizeFieldBytes, inside.data());
        row("extra bytes inside the size", inside, R::Complete);
        row("byte by byte", message(Password), R::Complete, 0, 1);
        row("null server, null field", message(QString()), R::Complete, 0, 0, QString());
        row("empty server, null field", message(QString()), R::Complete, 0, 0, "");
        row("null server, empty field", message(""), R::Complete, 0, 0, QString());
        // Type, payload count and payload stay unread.
        row("wrong password", message("secreT"), R::WrongPassword, 2 + 4 + 7);
        row("wrong password byte by byte", message("secreT").left(24), R::WrongPassword, 0, 1);
        // A wrong length is judged no sooner than a right one.
        row("shorter password", message("secre").left(22), R::WrongPassword, 0, 1);
        row("longer password", message("secret!").left(26), R::WrongPassword, 0, 1);
        row("odd password length", frame(30, 13, QByteArray(26, 'x')), R::Malformed, 26);
        row("negative size", frame(-1, 12), R::SizeRefused, 4);
        row("size over the limit", frame(Protocol::MaxRequestSize + 1, 12), R::SizeRefused, 4);
        row("size under 4", frame(3, 12), R::Malformed, 4);
        row("password past the size", frame(14, 12, PasswordBytes), R::Malformed, 12);
        // Refused on the length alone, before a byte of the password is in.
        row("long password announced", frame(Protocol::MaxRequestSize, 512 * 1024),
            R::WrongPassword);
        QByteArray overrun = PasswordBytes;
        QDataStream(&overrun, QIODevice::Append) << qint16(3) << quint32(100);
        row("payload past the size", frame(4 + 12 + 2 + 4 + 3, 12, overrun + "abc"), R::Malformed);
    }

    void read()
    {
        QFETCH(QString, password);
        QFETCH(QByteArray, bytes);
        QFETCH(int, piece);
        QFETCH(int, status);
        QFETCH(qint64, left);
        QBuffer device;
        QVERIFY(device.open(QIODevice::ReadOnly));
        RequestReader reader(password);
        Protocol::Message message;
        const int step = piece ? piece : int(bytes.size());
        int got = R::NeedMore;
        for (int at = 0; at < bytes.size(); at += step) {
            QCOMPARE(got, int(R::NeedMore));
            device.buffer().append(bytes.mid(at, step));
            got = reader.read(&device, &message);
        }
        QCOMPARE(got, status);
        QCOMPARE(device.bytesAvailable(), left);
        if (status == R::Complete) {
            QCOMPARE(message.type, qint16(3));
            QCOMPARE(message.payload, QByteArray("payload"));
        }
    }
};

PELICARD_TEST_GUILESS_MAIN(TestRequestReader)
#include "tst_requestreader.moc"
