#include "eightbitcodec.h"
#include "testhome.h"

class TestEightBitCodec : public QObject
{
    Q_OBJECT
private slots:
    void bothWays_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("ascii") << "Li Lei:1;" << QByteArray("Li Lei:1;");
        QTest::newRow("gb2312") << "张三" << QByteArray::fromHex("d5c5c8fd");
        QTest::newRow("outside gb2312") << "€😀" << QByteArray::fromHex("a2e39439fc36");
        QTest::newRow("mixed") << "a𠀀李b" << QByteArray::fromHex("6195328236c0ee62");
        QTest::newRow("zero kept") << QStringLiteral("a\0b") << QByteArray("a\0b", 3);
        QTest::newRow("empty") << "" << QByteArray();
    }

    void bothWays()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(EightBitCodec::encode(text).toHex(), bytes.toHex());
        QCOMPARE(EightBitCodec::decode(bytes), text);
    }

    void illFormedBytesBecomeReplacements()
    {
        QCOMPARE(EightBitCodec::decode(QByteArray::fromHex("41ff42")), QStringLiteral("A\uFFFDB"));
    }
};

PELICARD_TEST_GUILESS_MAIN(TestEightBitCodec)
#include "tst_eightbitcodec.moc"
