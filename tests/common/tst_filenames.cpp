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
        QTest::newRow("none") << "/h/cards"
                              << ".vcf"
                              << "/h/cards.vcf";
        QTest::newRow("at the end") << "/h/cards.vcf"
                                    << ".vcf"
                                    << "/h/cards.vcf";
        QTest::newRow("upper case") << "/h/list.PDF"
                                    << ".pdf"
                                    << "/h/list.PDF.pdf";
        QTest::newRow("inside") << "/h/my.pdf.txt"
                                << ".pdf"
                                << "/h/my.pdf.txt";
        QTest::newRow("in a folder") << "/h/x.sqlite/db"
                                     << ".sqlite"
                                     << "/h/x.sqlite/db";
        QTest::newRow("another suffix") << "/h/db.vcf"
                                        << ".sqlite"
                                        << "/h/db.vcf.sqlite";
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
