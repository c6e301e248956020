#include "contactstore.h"
#include "databasefile.h"
#include "sqliteconnection.h"
#include "testclient.h"
#include "testhome.h"

#include <QDir>
#include <QSqlQuery>
#include <QTemporaryDir>

namespace {
bool write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool execute(const QString &path, const QString &sql)
{
    SqliteConnection connection(path, QStringLiteral("make"));
    return connection.open() && QSqlQuery(connection.db()).exec(sql);
}

// Makes a file of that kind at path; "missing" makes none.
bool make(const QString &path, const QString &kind)
{
    if (kind == "contacts") // a row, so that its bytes differ from a new database's
        return ContactStore::createDatabase(path) &&
               execute(path, "INSERT INTO contacts (name) VALUES ('Li')");
    if (kind == "no web column")
        return execute(path, QString(ContactStore::CreateTableSql).remove("\"web\" VARCHAR, "));
    if (kind == "people table")
        return execute(path, "CREATE TABLE people (name VARCHAR, firstName VARCHAR)");
    if (kind == "text" || kind == "empty")
        return write(path, kind == "text" ? "name,firstName\nLi,Lei\n" : "");
    return kind == "missing";
}

void addKinds()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("accepted");
    for (const char *kind :
         {"contacts", "no web column", "people table", "text", "empty", "missing"})
        QTest::newRow(kind) << kind << (QByteArray(kind) == "contacts");
}
} // namespace

class TestDatabaseFile : public QObject
{
    Q_OBJECT

private slots:
    void isContactsDatabase_data() { addKinds(); }

    void isContactsDatabase()
    {
        QFETCH(QString, kind);
        QFETCH(bool, accepted);
        QTemporaryDir dir;
        const QString path = dir.filePath("file");
        QVERIFY(make(path, kind));
        DatabaseFile file(path);
        QCOMPARE(file.isContactsDatabase(), accepted);
        QCOMPARE(file.errorString().isEmpty(), accepted);
    }

    // Whole or not at all, and nothing left beside the target.
    void replaceWith_data() { addKinds(); }

    void replaceWith()
    {
        QFETCH(QString, kind);
        QFETCH(bool, accepted);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("target"));
        const QString target = dir.filePath("target/server.sqlite");
        const QString source = dir.filePath("source");
        QVERIFY(ContactStore::createDatabase(target));
        QVERIFY(make(source, kind));
        const QByteArray before = TestClient::fileBytes(target);
        DatabaseFile file(target);
        QCOMPARE(file.replaceWith(source), accepted);
        QCOMPARE(file.errorString().isEmpty(), accepted);
        QCOMPARE(TestClient::fileBytes(target), accepted ? TestClient::fileBytes(source) : before);
        QCOMPARE(QDir(dir.filePath("target")).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"server.sqlite"});
    }

    void copyToKeepsAnExistingTarget()
    {
        QTemporaryDir dir;
        const QString source = dir.filePath("source");
        QVERIFY(make(source, "contacts"));
        DatabaseFile file(source);
        QVERIFY(file.copyTo(dir.filePath("copy")));
        QCOMPARE(TestClient::fileBytes(dir.filePath("copy")), TestClient::fileBytes(source));
        QVERIFY(write(dir.filePath("taken"), "keep"));
        QVERIFY(!file.copyTo(dir.filePath("taken")));
        QVERIFY(!file.errorString().isEmpty());
        QCOMPARE(TestClient::fileBytes(dir.filePath("taken")), QByteArray("keep"));
    }
};

PELICARD_TEST_GUILESS_MAIN(TestDatabaseFile)
#include "tst_databasefile.moc"
