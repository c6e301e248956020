#include "contact.h"
#include "contactfields.h"
#include "testhome.h"

#include <QtEndian>

namespace {

QByteArray streamed(const Contact &c)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_4_5);
    out << c;
    return bytes;
}

Contact unstreamed(const QByteArray &bytes)
{
    QDataStream in(bytes);
    in.setVersion(QDataStream::Qt_4_5);
    Contact c;
    in >> c;
    return c;
}

// A text as the stream carries it: byte count, then UTF-16 big-endian.
QByteArray wireText(const QString &s)
{
    QByteArray bytes(4, '\0');
    qToBigEndian<quint32>(quint32(s.size() * 2), bytes.data());
    for (QChar ch : s) {
        bytes.append(char(ch.unicode() >> 8));
        bytes.append(char(ch.unicode() & 0xFF));
    }
    return bytes;
}

} // namespace

class TestContact : public QObject
{
    Q_OBJECT
private slots:
    void streamCarriesTheValuesInColumnOrder()
    {
        // Each text gets a letter of its own, so any two fields swapped show in the bytes.
        Contact c;
        QByteArray expected;
        int i = 0;
        const auto fields = textFields();
        for (const auto &[column, field] : fields) {
            field(c) = QString(QChar(u'A' + i)) + QChar(u'中');
            if (i == 11)
                expected += QByteArray::fromHex("fffffffe"); // customCount sits after notes
            expected += wireText(field(c));
            ++i;
        }
        c.customCount = -2;
        c.id = 77; // never part of the stream
        QCOMPARE(streamed(c).toHex(' '), expected.toHex(' '));
    }

    void roundTrip()
    {
        Contact c;
        c.name = QStringLiteral("欧阳");
        c.firstName = QStringLiteral("Mary  Ann");
        c.notes = QStringLiteral("line 1\nline 2\n\n😀");
        c.customCount = 2;
        c.customLabel[0] = QStringLiteral("QQ");
        c.customValue[0] = QStringLiteral("12345");
        c.customLabel[5] = QStringLiteral("leftover beyond the count");
        c.normalise();
        QCOMPARE(unstreamed(streamed(c)), c);
    }

    void nullTextsTravelAsEmptyTexts()
    {
        // A null text would be ff ff ff ff; the peer relies on empty ones.
        QCOMPARE(streamed(Contact()), QByteArray(24 * 4, '\0'));

        QByteArray nulls;
        for (int i = 0; i < 11; ++i)
            nulls += QByteArray::fromHex("ffffffff");
        nulls += QByteArray::fromHex("00000003");
        for (int i = 0; i < 12; ++i)
            nulls += QByteArray::fromHex("ffffffff");
        Contact read = unstreamed(nulls);
        QCOMPARE(read.customCount, 3);
        for (const auto &[column, field] : textFields()) {
            QVERIFY2(!field(read).isNull() && field(read).isEmpty(), column);
        }
    }

    void equality_data()
    {
        QTest::addColumn<int>("changed"); // index into textFields(), or -1 count, -2 id
        for (int i = 0; i < textFields().size(); ++i)
            QTest::newRow(textFields().at(i).first) << i;
        QTest::newRow("customCount") << -1;
        QTest::newRow("id") << -2;
    }

    void equality()
    {
        QFETCH(int, changed);
        Contact a;
        a.normalise();
        for (const auto &[column, field] : textFields())
            field(a) = QString::fromLatin1(column);
        a.customCount = 3;
        a.id = 9;
        Contact b = a;
        QVERIFY(a == b);
        QVERIFY(!(a != b));
        if (changed >= 0)
            textFields().at(changed).second(b) += QLatin1Char('x');
        else if (changed == -1)
            b.customCount = 4;
        else
            b.id = 10;
        QVERIFY(!(a == b));
        QVERIFY(a != b);
    }

    void normaliseMakesNullTextsEmptyAndKeepsTheRest()
    {
        Contact c;
        c.town = QStringLiteral("北京");
        c.customValue[3] = QStringLiteral("v");
        c.customCount = 7;
        c.id = 5;
        c.normalise();
        for (const auto &[column, field] : textFields())
            QVERIFY2(!field(c).isNull(), column);
        QCOMPARE(c.town, QStringLiteral("北京"));
        QCOMPARE(c.customValue[3], QStringLiteral("v"));
        QCOMPARE(c.customCount, 7);
        QCOMPARE(c.id, 5);
    }

    void shownCustomCount_data()
    {
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("shown");
        QTest::newRow("negative") << -1 << 0;
        QTest::newRow("none") << 0 << 0;
        QTest::newRow("some") << 4 << 4;
        QTest::newRow("all") << 6 << 6;
        QTest::newRow("too many") << 7 << 6;
    }

    void shownCustomCount()
    {
        QFETCH(int, stored);
        QFETCH(int, shown);
        Contact c;
        c.customCount = stored;
        QCOMPARE(c.shownCustomCount(), shown);
    }

    void displayText_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("firstName");
        QTest::addColumn<QString>("text");
        QTest::newRow("both") << QStringLiteral("王") << QStringLiteral("小明")
                              << QStringLiteral("王 小明");
        QTest::newRow("no given name")
            << QStringLiteral("王") << QStringLiteral("") << QStringLiteral("王 ");
        QTest::newRow("given name with a space")
            << QStringLiteral("Smith") << QStringLiteral("Mary Ann")
            << QStringLiteral("Smith Mary Ann");
    }

    void displayText()
    {
        QFETCH(QString, name);
        QFETCH(QString, firstName);
        QFETCH(QString, text);
        Contact c;
        c.name = name;
        c.firstName = firstName;
        QCOMPARE(c.displayText(), text);
        const auto [splitName, splitFirst] = Contact::splitDisplayText(text);
        QCOMPARE(splitName, name);
        QCOMPARE(splitFirst, firstName);
        QVERIFY(!splitFirst.isNull());
    }

    void splitDisplayText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("firstName");
        QTest::newRow("spaces collapse") << QStringLiteral("Smith  Mary   Ann ")
                                         << QStringLiteral("Smith") << QStringLiteral("Mary Ann");
        QTest::newRow("leading spaces")
            << QStringLiteral("  王 小明") << QStringLiteral("王") << QStringLiteral("小明");
        QTest::newRow("name only")
            << QStringLiteral("王") << QStringLiteral("王") << QStringLiteral("");
        QTest::newRow("empty") << QStringLiteral("") << QStringLiteral("") << QStringLiteral("");
        QTest::newRow("blanks") << QStringLiteral("   ") << QStringLiteral("")
                                << QStringLiteral("");
        QTest::newRow("tab is not a separator")
            << QStringLiteral("a\tb c") << QStringLiteral("a\tb") << QStringLiteral("c");
    }

    void splitDisplayText()
    {
        QFETCH(QString, text);
        QFETCH(QString, name);
        QFETCH(QString, firstName);
        const auto [gotName, gotFirst] = Contact::splitDisplayText(text);
        QCOMPARE(gotName, name);
        QCOMPARE(gotFirst, firstName);
        QVERIFY(!gotName.isNull());
        QVERIFY(!gotFirst.isNull());
    }
};

PELICARD_TEST_GUILESS_MAIN(TestContact)
#include "tst_contact.moc"
