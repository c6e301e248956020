#include "passwords.h"
#include "testhome.h"

using namespace Passwords;

class TestPasswords : public QObject
{
    Q_OBJECT
private slots:
    void digestsOfTheGbBytes()
    {
        // Expected values computed elsewhere; 密码 is c3 dc c2 eb in GB2312.
        QCOMPARE(md5Digest(QStringLiteral("abc")).toHex(), "900150983cd24fb0d6963f7d28e17f72");
        QCOMPARE(sha1Digest(QStringLiteral("abc")).toHex(),
                 "a9993e364706816aba3e25717850c26c9cd0d89d");
        QCOMPARE(md5Digest(QStringLiteral("密码")).toHex(), "d2293e30f0c964c5f6242486aa8a483c");
        QCOMPARE(sha1Digest(QStringLiteral("密码")).toHex(),
                 "8cdbe84e176f93e25a0d05a03f2ac69f213d0ad2");
        // Only the bytes before the first zero count.
        QCOMPARE(md5Digest(QStringLiteral("abc\0def")), md5Digest(QStringLiteral("abc")));
        QCOMPARE(sha1Digest(QStringLiteral("密码\0x")), sha1Digest(QStringLiteral("密码")));
    }

    void fieldTextIsTheDigestUpToTheZero()
    {
        QCOMPARE(fieldText(QByteArray::fromHex("307600511f")), QStringLiteral("0v"));
        QCOMPARE(fieldText(QByteArray::fromHex("bdd50084296241b7")), QStringLiteral("秸"));
        QCOMPARE(fieldText(QByteArray::fromHex("00c3dc")), QStringLiteral(""));
        // A server without a password accepts a client without one, and the other way round.
        QVERIFY(fieldText(QVariant()).isNull());
        QCOMPARE(fieldText(QVariant()), fieldText(QByteArray()));
    }
};

PELICARD_TEST_GUILESS_MAIN(TestPasswords)
#include "tst_passwords.moc"
