#include "passwords.h"
#include "testhome.h"

#include <QSettings>

using namespace Passwords;

class TestPasswords : public QObject
{
    Q_OBJECT
private slots:
    // Expected digests computed elsewhere from the GB2312 bytes of each text.
    void digests_data()
    {
        QTest::addColumn<QString>("clear");
        QTest::addColumn<QByteArray>("md5");
        QTest::addColumn<QByteArray>("sha1");
        QTest::newRow("empty") << QStringLiteral("")
                               << QByteArray("d41d8cd98f00b204e9800998ecf8427e")
                               << QByteArray("da39a3ee5e6b4b0d3255bfef95601890afd80709");
        QTest::newRow("null") << QString() << QByteArray("d41d8cd98f00b204e9800998ecf8427e")
                              << QByteArray("da39a3ee5e6b4b0d3255bfef95601890afd80709");
        QTest::newRow("ascii") << QStringLiteral("abc")
                               << QByteArray("900150983cd24fb0d6963f7d28e17f72")
                               << QByteArray("a9993e364706816aba3e25717850c26c9cd0d89d");
        QTest::newRow("chinese, bytes c3 dc c2 eb")
            << QStringLiteral("密码") << QByteArray("d2293e30f0c964c5f6242486aa8a483c")
            << QByteArray("8cdbe84e176f93e25a0d05a03f2ac69f213d0ad2");
        QTest::newRow("cut at the zero") << QStringLiteral("abc") + QChar(0) + QStringLiteral("def")
                                         << QByteArray("900150983cd24fb0d6963f7d28e17f72")
                                         << QByteArray("a9993e364706816aba3e25717850c26c9cd0d89d");
    }

    void digests()
    {
        QFETCH(QString, clear);
        QFETCH(QByteArray, md5);
        QFETCH(QByteArray, sha1);
        QCOMPARE(md5Digest(clear).toHex(), md5);
        QCOMPARE(sha1Digest(clear).toHex(), sha1);
    }

    void eightBitCodec_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("gb2312") << QStringLiteral("密码错误!") << QByteArray("c3dcc2ebb4edcef321");
        // Outside GB2312 nothing may turn into '?': every account password must stay distinct.
        QTest::newRow("euro sign") << QStringLiteral("€") << QByteArray("a2e3");
        QTest::newRow("emoji") << QStringLiteral("😀") << QByteArray("9439fc36");
        QTest::newRow("cut at the zero")
            << QStringLiteral("密") + QChar(0) + QStringLiteral("码") << QByteArray("c3dc");
    }

    void eightBitCodec()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(toEightBit(text).toHex(), bytes);
        QCOMPARE(fromEightBit(QByteArray::fromHex(bytes)), text.section(QChar(0), 0, 0));
    }

    void fromEightBitStopsAtTheZeroAndIsNeverNull()
    {
        QCOMPARE(fromEightBit(QByteArray::fromHex("c3dc00c2eb")), QStringLiteral("密"));
        QVERIFY(!fromEightBit(QByteArray()).isNull());
        QVERIFY(!fromEightBit(QByteArray("\0abc", 4)).isNull());
        QVERIFY(fromEightBit(QByteArray("\0abc", 4)).isEmpty());
    }

    void fieldText_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("text");
        QTest::newRow("ascii digest bytes")
            << QVariant(QByteArray::fromHex("307600511f")) << QStringLiteral("0v");
        QTest::newRow("gb2312 pair before the zero")
            << QVariant(QByteArray::fromHex("bdd50084296241b7")) << QStringLiteral("秸");
        QTest::newRow("zero first")
            << QVariant(QByteArray::fromHex("00c3dc")) << QStringLiteral("");
        QTest::newRow("no zero") << QVariant(QByteArray::fromHex("c3dcc2eb"))
                                 << QStringLiteral("密码");
    }

    void fieldText()
    {
        QFETCH(QVariant, stored);
        QFETCH(QString, text);
        QCOMPARE(Passwords::fieldText(stored), text);
    }

    void fieldTextThroughTheSettingsStore()
    {
        // sha1("clx") = bd d5 00 ...: the field is the one character before the zero byte.
        QSettings settings(QStringLiteral("brisvane-test"), QStringLiteral("passwords"));
        settings.setValue(QStringLiteral("server/password"), sha1Digest(QStringLiteral("clx")));
        settings.sync();
        QSettings reread(QStringLiteral("brisvane-test"), QStringLiteral("passwords"));
        QCOMPARE(Passwords::fieldText(reread.value(QStringLiteral("server/password"))),
                 QStringLiteral("秸"));

        const QString missing = Passwords::fieldText(reread.value(QStringLiteral("server/none")));
        QVERIFY(missing.isNull());
        // A server without a password accepts a client without one, and the other way round.
        QCOMPARE(missing, Passwords::fieldText(QVariant(QByteArray())));
        QCOMPARE(missing, QStringLiteral(""));
    }
};

PELICARD_TEST_GUILESS_MAIN(TestPasswords)
#include "tst_passwords.moc"
