#include "../common/contactfields.h"
#include "eightbitcodec.h"
#include "testhome.h"
#include "vcard.h"

#include <QBuffer>
#include <QDir>
#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>

namespace {

Contact person(const QString &name, const QString &firstName = QString())
{
    Contact c;
    c.name = name;
    c.firstName = firstName;
    c.normalise();
    return c;
}

// The contacts of data/layout.vcf, as written.
QList<Contact> layoutContacts()
{
    Contact a = person("张", "Da Wei");
    a.work = "010-1234", a.home = "020-5678", a.mobile = "13800000000";
    a.address = "长安街1号", a.zip = "100000", a.town = "北京";
    a.email = "dw@example.com", a.web = "http://example.com/", a.notes = "line one\nline two";
    a.customCount = 3;
    a.customLabel = {"QQ:号", "", "生日", "", "", "a:b"};
    a.customValue = {"12:34", "hidden", "1.1", "", "", "x:y"};
    Contact b = person("Li");
    b.customLabel[0] = "stored, but the count is 0";
    return {a, b};
}

// data/layout.vcf, written by hand in UTF-8, in the 8-bit codec.
QByteArray layoutFile()
{
    QFile file(QFINDTESTDATA("data/layout.vcf"));
    return file.open(QIODevice::ReadOnly) ? EightBitCodec::encode(QString::fromUtf8(file.readAll()))
                                          : QByteArray();
}

QList<Contact> readAll(const QByteArray &bytes, VCardReader::Result *end)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    VCardReader reader(&buffer);
    QList<Contact> cards;
    Contact c;
    while ((*end = reader.next(&c)) == VCardReader::Card)
        cards << c;
    return cards;
}

QByteArray card(const QByteArray &lines)
{
    return "BEGIN:VCARD\nVERSION:3.0\n" + lines + "END:VCARD\n";
}

// As other address books write: CRLF, and lines folded every 20 bytes, even inside a character.
QByteArray foldedCrlf(const QByteArray &bytes)
{
    QByteArrayList lines = bytes.split('\n');
    for (QByteArray &line : lines)
        for (qsizetype at = 20; at < line.size(); at += 23)
            line.insert(at, at % 2 ? "\r\n\t" : "\r\n ");
    return lines.join("\r\n");
}

} // namespace

class TestVCard : public QObject
{
    Q_OBJECT
private slots:
    void exportWritesTheLayout_data()
    {
        QTest::addColumn<int>("ending");
        QTest::addColumn<int>("chop");
        QTest::newRow("all contacts") << int(VCardWriter::LineBreakAfterLast) << 0;
        QTest::newRow("selected contact") << int(VCardWriter::NoLineBreakAfterLast) << 1;
    }

    void exportWritesTheLayout()
    {
        QFETCH(int, ending);
        QFETCH(int, chop);
        QByteArray expected = layoutFile();
        QVERIFY(!expected.isEmpty());
        expected.chop(chop);
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        VCardWriter writer(&out, VCardWriter::Ending(ending));
        for (const Contact &c : layoutContacts())
            QVERIFY(writer.write(c));
        QVERIFY(writer.finish());
        QCOMPARE(out.data(), expected);
    }

    // The vocabulary on our own layout: a web address keeps its scheme, the count is that of
    // the label lines, an empty account gives an empty file.
    void importReadsTheLayout()
    {
        QList<Contact> expected = layoutContacts();
        expected[0].notes = "line one line two";
        expected[0].customLabel = {"QQ号", "", "生日", "", "", "ab"};
        expected[0].customValue = {"12:34", "", "1.1", "", "", "xy"};
        expected[1].customLabel[0] = "";
        VCardReader::Result end;
        QCOMPARE(readAll(layoutFile(), &end), expected);
        QCOMPARE(end, VCardReader::Finished);
    }

    void roundTrip()
    {
        Contact wide = person("𠀀王", "Xiao Ming"); // outside GB2312 and two words
        wide.work = "010-1", wide.home = "020-2", wide.mobile = "139";
        wide.address = "长安街 1 号", wide.zip = "100000", wide.town = "䶮城";
        wide.email = "li@example.cn", wide.notes = "第一行\r\n€ 😀\n第二行";
        wide.customCount = 6;
        wide.customLabel = {"QQ", "微信", "生日", "公司", "职位", "传真"};
        wide.customValue = {"12345", "wx_li", "1990年1月1日", "澄岚有限公司", "工程师", "8888"};
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        VCardWriter writer(&out);
        QVERIFY(writer.write(wide) && writer.write(person("Wang")) && writer.finish());
        wide.notes = "第一行 € 😀 第二行";
        VCardReader::Result end;
        QCOMPARE(readAll(out.data(), &end), QList<Contact>({wide, person("Wang")}));
        QCOMPARE(end, VCardReader::Finished);
    }

    void codecsAndLineEnds_data()
    {
        const QString text = "BEGIN:VCARD\nVERSION:3.0\nN:王;小明;;;\nFN:小明 王\nORG:澄岚\n"
                             "TITLE:工程师\nX-QQ:123\nitem1.X-ABLabel:TEL\nTEL;TYPE=CELL:139\n"
                             "TEL:8888\nEMAIL;TYPE=INTERNET:wang@example.cn\n"
                             "ADR;TYPE=HOME:;;人民路 8 号;上海;;200000;中国\n"
                             "NOTE:很长的备注，写满一整行也不止，还要再写一些字\nEND:VCARD\n";
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("utf-8 with bom") << "\xEF\xBB\xBF" + text.toUtf8();
        QTest::newRow("utf-8") << text.toUtf8();
        QTest::newRow("gb18030") << EightBitCodec::encode(text);
        QTest::newRow("utf-8, crlf, folded") << foldedCrlf(text.toUtf8());
        QTest::newRow("gb18030, crlf, folded") << foldedCrlf(EightBitCodec::encode(text));
    }

    void codecsAndLineEnds()
    {
        QFETCH(QByteArray, bytes);
        Contact expected = person("王", "小明");
        expected.mobile = "139", expected.home = "8888", expected.email = "wang@example.cn";
        expected.address = "人民路 8 号", expected.town = "上海", expected.zip = "200000";
        expected.notes = "很长的备注，写满一整行也不止，还要再写一些字";
        VCardReader::Result end;
        QCOMPARE(readAll(bytes, &end), QList<Contact>{expected});
        QCOMPARE(end, VCardReader::Finished);
    }

    void cardsUntilTheEnd_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QList<Contact>>("cards");
        QTest::addColumn<int>("end");
        const QByteArray a = card("N:A;a\n");
        const QList<Contact> justA{person("A", "a")};
        QTest::newRow("empty") << QByteArray() << QList<Contact>() << int(VCardReader::Finished);
        QTest::newRow("version 2.1 ends the import")
            << a + "BEGIN:VCARD\nVERSION:2.1\nN:B\nEND:VCARD\n" + card("N:C\n") << justA
            << int(VCardReader::Stopped);
        QTest::newRow("data ends inside a card") << a + "BEGIN:VCARD\nVERSION:3.0\nN:B\n"
                                                 << justA << int(VCardReader::Stopped);
        QTest::newRow("lines between cards skipped")
            << "junk\n\n" + a + "BEGIN:VCARD \n" + card("N:C\n")
            << QList<Contact>{person("A", "a"), person("C")} << int(VCardReader::Finished);
        QTest::newRow("too long a line")
            << a + card("NOTE:" + QByteArray(VCardReader::MaxLineBytes, 'x') + "\n") << justA
            << int(VCardReader::Failed);

        Contact full = person("A", "a");
        full.work = "1", full.email = "m", full.zip = "z", full.notes = "n";
        full.customLabel[0] = "l", full.customValue[0] = "v", full.customCount = 1;
        Contact shortLines = person("Wang");
        shortLines.address = "Road";
        QTest::newRow("nothing carries over; short lines give empty texts")
            << card("N:A;a\nTEL;WORK:1\nEMAIL:m\nADR:;;;;;z\nNOTE:n\nLabel1:l\nValue1:v\n") +
                   card("N:Wang\nADR:;;Road\nEMAIL\n")
            << QList<Contact>{full, shortLines} << int(VCardReader::Finished);
    }

    void cardsUntilTheEnd()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QList<Contact>, cards);
        QFETCH(int, end);
        VCardReader::Result result;
        QCOMPARE(readAll(bytes, &result), cards);
        QCOMPARE(int(result), end);
    }

    // A full disk, as a file size limit: no file takes the chosen name, none is left beside it.
    void failedFileWriteLeavesNothing()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("cards.vcf");
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
        old.close();
        rlimit saved;
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit small = saved;
        small.rlim_cur = 4096;
        std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        VCardFileWriter out(path, VCardWriter::LineBreakAfterLast);
        bool ok = out.open();
        for (int i = 0; ok && i < 1000; ++i)
            ok = out.write(layoutContacts().first());
        ok = ok && out.commit();
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &saved), 0);
        QVERIFY(!ok);
        QVERIFY(!out.errorString().isEmpty());
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), "old");
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"cards.vcf"});
    }
};

PELICARD_TEST_GUILESS_MAIN(TestVCard)
#include "tst_vcard.moc"
