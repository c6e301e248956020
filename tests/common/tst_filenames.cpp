#include "filenames.h"
#include "testhome.h"

class TestFileNames : public QObject
{
    Q_OBJECT
private slots:
    void withSuffix_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QString>("used");
        const auto row = [](const char *name, const char *chosen, const char *suffix,
                            const char *used) {
            QTest::newRow(name) << QString(chosen) << QString(suffix) << QString(used);
        };
        row("none", "/h/cards", ".vcf", "/h/cards.vcf");
        row("at the end", "/h/cards.vcf", ".vcf", "/h/cards.vcf");
        row("upper case", "/h/list.PDF", ".pdf", "/h/list.PDF.pdf");
        row("inside", "/h/my.pdf.txt", ".pdf", "/h/my.pdf.txt");
        row("another suffix", "/h/db.vcf", ".sqlite", "/h/db.vcf.sqlite");
    }

    void withSuffix()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, suffix);
        QFETCH(QString, used);
        QCOMPARE(FileNames::withSuffix(chosen, suffix), used);
    }
};

PELICARD_TEST_GUILESS_MAIN(TestFileNames)
#include "tst_filenames.moc"
