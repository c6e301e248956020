#include "../common/contactfields.h"
#include "contactprinter.h"
#include "testhome.h"

#include <QDir>
#include <QGuiApplication>
#include <QPdfWriter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextDocument>
#include <functional>

namespace {

Contact contact(const std::function<void(Contact &)> &fill, const QString &name = "Li")
{
    Contact c;
    c.name = name;
    c.firstName = "Lei";
    c.normalise();
    fill(c);
    return c;
}

Contact zhang()
{
    return contact(
        [](Contact &c) {
            c.firstName = "三丰";
            c.work = "010-1234", c.home = "020-5678", c.mobile = "13800000000";
            c.address = "长安街1号", c.zip = "100000", c.town = "北京";
            c.email = "dw@example.com", c.web = "http://example.com/", c.notes = "a<b & c";
            c.customCount = 1, c.customLabel[0] = "QQ", c.customValue[0] = "12345";
        },
        "张");
}

} // namespace

class TestContactPrinter : public QObject
{
    Q_OBJECT
private slots:
    void block_data()
    {
        QTest::addColumn<Contact>("person");
        QTest::addColumn<QString>("lines");
        QTest::newRow("nothing") << contact([](Contact &) {}) << "";
        QTest::newRow("only mobile") << contact([](Contact &c) { c.mobile = "139"; }) << "139<br>";
        QTest::newRow("phones") << contact([](Contact &c) {
            c.work = "1", c.home = "2", c.mobile = "3";
        }) << "1 | 2 | 3<br>";
        QTest::newRow("address and town")
            << contact([](Contact &c) { c.address = "长安街", c.town = "北京"; })
            << "长安街 北京<br>";
        QTest::newRow("address, zip, town")
            << contact([](Contact &c) { c.address = "长安街", c.zip = "100", c.town = "北京"; })
            << "长安街  | 100 北京<br>";
        QTest::newRow("mail and web")
            << contact([](Contact &c) { c.email = "m", c.web = "w"; }) << "m w<br>";
        QTest::newRow("custom rows with a label") << contact([](Contact &c) {
            c.customCount = 1;
            c.customLabel = {"QQ", "", "生日", "", "", ""};
            c.customValue = {"1", "hidden", "2", "", "", ""};
        }) << "QQ 1<br>生日 2<br>";
        QTest::newRow("count 0 prints no custom row")
            << contact([](Contact &c) { c.customLabel[0] = "QQ", c.customValue[0] = "1"; }) << "";
        QTest::newRow("markup as text")
            << contact(
                   [](Contact &c) {
                       c.notes = "a<b & \"c\"", c.customCount = 1, c.customLabel[0] = "<i>";
                   },
                   "<b>")
            << "a&lt;b &amp; &quot;c&quot;<br>&lt;i&gt; <br>";
    }

    void block()
    {
        QFETCH(Contact, person);
        QFETCH(QString, lines);
        QCOMPARE(ContactPrinter::html({person}),
                 "<table width=\"100%\" border=1 cellspacing=0 cellpadding=\"5\">\n"
                 "<tr><td><font size=\"18px\"><b>" +
                     person.name.toHtmlEscaped() + " Lei</b></font>\n<tr><td><font size=\"15px\">" +
                     lines + "\n</font></table>\n<br>\n");
    }

    void documentShowsTheTextAsTyped()
    {
        const QString text =
            ContactPrinter::document({zhang(), contact([](Contact &) {})})->toPlainText();
        for (const char *field : {"张 三丰", "010-1234 | 020-5678 | 13800000000",
                                  "长安街1号 | 100000 北京", "a<b & c", "QQ 12345", "Li Lei"})
            QVERIFY2(text.contains(QString::fromUtf8(field)), field);
    }

    void pdf_data()
    {
        QTest::addColumn<int>("count");
        QTest::newRow("selected contact") << 1;
        QTest::newRow("all contacts, several pages") << 60;
    }

    void pdf()
    {
        QFETCH(int, count);
        const QString pdftotext = QStandardPaths::findExecutable("pdftotext");
        if (pdftotext.isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
        QList<Contact> contacts{zhang()};
        for (int i = 1; i < count; ++i)
            contacts << contact([](Contact &c) { c.mobile = "139"; }, "Wang" + QString::number(i));
        QTemporaryDir dir;
        const QString path = dir.filePath("contacts.pdf");
        QList<int> pages;
        ContactPrinter printer;
        QVERIFY2(printer.writePdf(contacts, path,
                                  [&](int done, int total) {
                                      pages << done << total;
                                      return true;
                                  }),
                 qPrintable(printer.errorString()));
        QVERIFY(pages.size() >= 2 && pages.size() % 2 == 0);
        QCOMPARE(pages.mid(pages.size() - 2), QList<int>({pages.last(), pages.last()}));
        QCOMPARE(pages.last() > 1, count > 1);

        QProcess process;
        process.start(pdftotext, {"-enc", "UTF-8", path, "-"});
        QVERIFY(process.waitForFinished(20000));
        const QString text = QString::fromUtf8(process.readAllStandardOutput());
        for (const char *field : {"张 三丰", "13800000000", "长安街1号", "北京", "dw@example.com",
                                  "a<b & c", "QQ 12345"})
            QVERIFY2(text.contains(QString::fromUtf8(field)),
                     qPrintable(field + ("\nnot in:\n" + text)));
        QCOMPARE(text.contains("Wang59 Lei"), count == 60);
    }

    // A PDF written beside its name, or a device that cannot start: false with the reason, and
    // no file left.
    void failureWritesNothing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<bool>("onDevice");
        QTest::newRow("missing folder") << "missing/contacts.pdf" << false << false;
        QTest::newRow("cancelled") << "contacts.pdf" << true << false;
        QTest::newRow("printing, device cannot start") << "missing/contacts.pdf" << false << true;
    }

    void failureWritesNothing()
    {
        QFETCH(QString, name);
        QFETCH(bool, cancel);
        QFETCH(bool, onDevice);
        QTemporaryDir dir;
        ContactPrinter printer;
        const auto progress = [&](int, int) { return !cancel; };
        if (onDevice) {
            QPdfWriter device(dir.filePath(name));
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("begin"));
            QVERIFY(!printer.print({zhang()}, &device, progress));
        } else {
            QVERIFY(!printer.writePdf({zhang()}, dir.filePath(name), progress));
        }
        QVERIFY(!printer.errorString().isEmpty());
        QVERIFY(QDir(dir.path()).isEmpty());
    }
};

PELICARD_TEST_MAIN_IMPL(QGuiApplication, TestContactPrinter)
#include "tst_contactprinter.moc"
