#include "contactfields.h"
#include "contactstore.h"
#include "testhome.h"

#include <QDir>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>

namespace {

// The two statements exactly as every contacts database of both programs is made with.
const QString ExpectedCreateTable = QStringLiteral(
    R"(CREATE  TABLE "main"."contacts" ("name" VARCHAR, "firstName" VARCHAR, "work" VARCHAR, )"
    R"("home" VARCHAR, "mobile" VARCHAR, "address" VARCHAR, "zip" VARCHAR, "town" VARCHAR, )"
    R"("email" VARCHAR, "web" VARCHAR, "notes" VARCHAR, "customCount" INTEGER DEFAULT 0, )"
    R"("customLabel1" VARCHAR, "customValue1" VARCHAR, "customLabel2" VARCHAR, )"
    R"("customValue2" VARCHAR, "customLabel3" VARCHAR, "customValue3" VARCHAR, )"
    R"("customLabel4" VARCHAR, "customValue4" VARCHAR, "customLabel5" VARCHAR, )"
    R"("customValue5" VARCHAR, "customLabel6" VARCHAR, "customValue6" VARCHAR, )"
    R"("id" INTEGER PRIMARY KEY  AUTOINCREMENT , "date" DATETIME DEFAULT CURRENT_TIMESTAMP))");
const QString ExpectedCreateIndex = QStringLiteral(
    R"(CREATE  INDEX "main"."idx_contacts" ON "contacts" ("name" ASC, "firstName" ASC))");

// A contact with only its two names set, given as "name|firstName".
Contact person(const QString &pair)
{
    Contact c;
    c.name = pair.section(QLatin1Char('|'), 0, 0);
    c.firstName = pair.section(QLatin1Char('|'), 1);
    return c;
}

// The first value of the first row, as text.
QString scalar(const QSqlDatabase &db, const QString &sql)
{
    QSqlQuery q(db);
    return q.exec(sql) && q.next() ? q.value(0).toString() : q.lastError().text();
}

} // namespace

class TestContactStore : public QObject
{
    Q_OBJECT

    QString m_path;
    QSqlDatabase m_db;
    ContactStore m_store{QSqlDatabase()};

    QStringList names() const // as "name|firstName"
    {
        QStringList pairs;
        for (const auto &[name, firstName] : m_store.names())
            pairs << name + QLatin1Char('|') + firstName;
        return pairs;
    }

    qint64 idOf(const QString &name, const QString &firstName) const
    {
        return m_store.find(name, firstName).value_or(Contact()).id; // -1 when not found
    }

private slots:
    void init()
    {
        m_path = QDir::home().filePath(QStringLiteral("contacts.sqlite"));
        QFile::remove(m_path);
        QString error;
        QVERIFY2(ContactStore::createDatabase(m_path, &error), qPrintable(error));
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_path);
        m_db.setDatabaseName(m_path);
        QVERIFY(m_db.open());
        m_store = ContactStore(m_db);
    }

    void cleanup()
    {
        m_store = ContactStore(QSqlDatabase());
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_path);
    }

    void schemaIsExactlyTheTwoStatements()
    {
        // SQLite keeps the statements' own text: any difference in what was run shows here.
        QSqlDatabase reference = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
        reference.setDatabaseName(QDir::home().filePath(QStringLiteral("reference.sqlite")));
        QVERIFY(reference.open());
        QSqlQuery create(reference);
        QVERIFY(create.exec(ExpectedCreateTable) && create.exec(ExpectedCreateIndex));
        const QString master = QStringLiteral(
            "SELECT group_concat(type || '|' || name || '|' || tbl_name || '|' || sql, '\n') "
            "FROM (SELECT * FROM sqlite_master ORDER BY name)");
        const QString expected = scalar(reference, master);
        QCOMPARE(expected.count(QLatin1Char('\n')), 2); // contacts, idx_contacts, sqlite_sequence
        QCOMPARE(scalar(m_db, master), expected);
    }

    void fileThatIsNotADatabaseIsRefusedAndKept()
    {
        const QByteArray text = QByteArray("my notes, not a database\n").repeated(200);
        QFile file(QDir::home().filePath(QStringLiteral("notes.txt")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
        file.close();
        QString error;
        QVERIFY(!ContactStore::createDatabase(file.fileName(), &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), text);
    }

    void idsAreNeverReused()
    {
        QVERIFY(m_store.insert(person(QStringLiteral("a|x"))));
        QVERIFY(m_store.remove(QStringLiteral("a"), QStringLiteral("x"))); // the highest id
        QVERIFY(m_store.insert(person(QStringLiteral("b|x"))));
        QCOMPARE(idOf(QStringLiteral("b"), QStringLiteral("x")), 2);
    }

    void findAndRemoveMatchTheExactPair()
    {
        for (const QString &pair : QStringList{"Smith|John", "smith|John", "smith|John", "smith|"})
            QVERIFY(m_store.insert(person(pair)));
        QCOMPARE(idOf(QStringLiteral("SMITH"), QStringLiteral("John")), -1);
        QCOMPARE(idOf(QStringLiteral("Smith"), QStringLiteral("john")), -1);
        QCOMPARE(idOf(QStringLiteral("smith"), QStringLiteral("")), 4);
        QCOMPARE(idOf(QStringLiteral("smith"), QString()), 4);

        QVERIFY(m_store.remove(QStringLiteral("smith"), QStringLiteral("John"))); // both copies
        QCOMPARE(names(), (QStringList{"Smith|John", "smith|"}));
        QVERIFY(m_store.remove(QStringLiteral("smith"), QStringLiteral("")));
        QCOMPARE(names(), QStringList{"Smith|John"});
    }

    void listsSortByNameThenFirstNameBytewise()
    {
        for (const QString &pair : QStringList{"王|小明", "adams|Zoe", "Adams|amy", "Ádám|Eva",
                                               "Adams|Bob", "Zhang|San", "Adams|", "王|"})
            QVERIFY(m_store.insert(person(pair)));
        // Upper case before lower case, ASCII before everything else.
        QCOMPARE(names(), (QStringList{"Adams|", "Adams|Bob", "Adams|amy", "Zhang|San", "adams|Zoe",
                                       "Ádám|Eva", "王|", "王|小明"}));
    }

    void updateKeepsTheIdAndRenewsTheDate()
    {
        Contact before = distinctContact('A'), after = distinctContact('a');
        QVERIFY(m_store.insert(before));
        QVERIFY(m_store.insert(person(QStringLiteral("other|x"))));
        before.id = 1;
        QCOMPARE(m_store.find(before.name, before.firstName).value_or(Contact()), before);
        QVERIFY(QSqlQuery(m_db).exec(QStringLiteral("UPDATE contacts SET date='2000-01-01'")));

        QVERIFY(m_store.update(1, after));
        after.id = 1;
        QCOMPARE(m_store.find(after.name, after.firstName).value_or(Contact()), after);
        // Only the updated row has a new date, in SQLite's own format.
        QCOMPARE(scalar(m_db, "SELECT group_concat(date = datetime(date) AND date >= "
                              "datetime('now', '-10 seconds')) FROM (SELECT date FROM contacts "
                              "ORDER BY id)"),
                 "1,0");
    }

    void search_data()
    {
        QTest::addColumn<QString>("column");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("found");
        const auto row = [](const char *tag, const char *column, const char *value,
                            const char *text, bool found) {
            QTest::newRow(tag) << QString::fromUtf8(column) << QString::fromUtf8(value)
                               << QString::fromUtf8(text) << found;
        };
        // Every text column, the custom pairs beyond customCount (0 here) among them; ASCII
        // letters match without regard to case.
        auto columns = QRegularExpression(QStringLiteral(R"re("(\w+)" VARCHAR)re"))
                           .globalMatch(ExpectedCreateTable);
        while (columns.hasNext()) {
            const QByteArray column = columns.next().captured(1).toLatin1();
            row(column.constData(), column.constData(), "a Needle here", "needle", true);
        }
        row("customCount is not searched", "customCount", "5", "5", false);
        row("id is not searched", "id", "7", "7", false);
        row("date is not searched", "date", "2000-01-01 10:20:30", ":", false);
        row("underscore is one character", "notes", "abc", "a_c", true);
        row("percent is any run", "notes", "axyc", "a%c", true);
        row("other letters keep their case", "notes", "ä", "Ä", false);
        row("a quote does no harm", "notes", "it's", "t's", true);
    }

    void search()
    {
        QFETCH(QString, column);
        QFETCH(QString, value);
        QFETCH(QString, text);
        QFETCH(bool, found);
        QVERIFY(m_store.insert(Contact()));
        QSqlQuery set(m_db);
        QVERIFY(set.prepare(QStringLiteral("UPDATE contacts SET %1=:v").arg(column)));
        set.bindValue(QStringLiteral(":v"), value);
        QVERIFY2(set.exec(), qPrintable(set.lastError().text()));
        QCOMPARE(m_store.search(text).size(), found ? 1 : 0);
    }

    // SQLite takes a leading U+FEFF or U+FFFE of a bound UTF-16 text for a byte-order mark.
    void textsAreStoredAsSent_data()
    {
        QTest::addColumn<QString>("column");
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("text");
        QTest::newRow("mark") << "name" << 0 << QStringLiteral("\uFEFF王小明");
        QTest::newRow("swapped mark") << "firstName" << 1 << QStringLiteral("\uFFFEabc");
        QTest::newRow("two marks") << "notes" << 10 << QStringLiteral("\uFEFF\uFEFFx");
        QTest::newRow("both, custom value")
            << "customValue6" << 22 << QStringLiteral("\uFFFE\uFEFF值");
    }

    void textsAreStoredAsSent()
    {
        QFETCH(QString, column);
        QFETCH(int, field);
        QFETCH(QString, text);
        Contact sent = distinctContact(), changed = distinctContact('a');
        textField(sent, field) = text;
        textField(changed, field) = text + text;
        QVERIFY(m_store.insert(sent, &sent.id));
        QCOMPARE(scalar(m_db, "SELECT hex(" + column + ") FROM contacts"),
                 QString::fromLatin1(text.toUtf8().toHex().toUpper()));
        QCOMPARE(m_store.findById(sent.id).value_or(Contact()), sent);

        QVERIFY(m_store.update(quint64(sent.id), changed));
        changed.id = sent.id;
        QCOMPARE(m_store.find(changed.name, changed.firstName).value_or(Contact()), changed);
        QCOMPARE(m_store.all(), QList{changed});
        QCOMPARE(m_store.search(text), QList{changed});
        QVERIFY(m_store.remove(changed.name, changed.firstName));
        QVERIFY(m_store.all().isEmpty());
    }

    // A table made elsewhere may hold every column in another order.
    void columnsAreReadByName()
    {
        const QString definitions = ExpectedCreateTable.section(QLatin1Char('('), 1).chopped(1);
        QStringList columns = definitions.split(QRegularExpression(QStringLiteral(", (?=\")")));
        QCOMPARE(columns.size(), 26);
        std::reverse(columns.begin(), columns.end());
        QSqlQuery sql(m_db);
        QVERIFY(sql.exec(QStringLiteral("DROP TABLE contacts")) &&
                sql.exec(QStringLiteral("CREATE TABLE contacts (%1)").arg(columns.join(", "))));

        Contact first = distinctContact('A'), second = distinctContact('a');
        QVERIFY(m_store.insert(first, &first.id) && m_store.insert(second, &second.id));
        QCOMPARE(m_store.find(first.name, first.firstName).value_or(Contact()), first);
        QCOMPARE(m_store.search(QStringLiteral("字")), (QList{first, second}));
        // Saved unchanged, as the form does: nothing else may change.
        const Contact read = m_store.findById(first.id).value_or(Contact());
        QVERIFY(m_store.update(quint64(read.id), read));
        QCOMPARE(m_store.all(), (QList{first, second}));
    }
};

PELICARD_TEST_GUILESS_MAIN(TestContactStore)
#include "tst_contactstore.moc"
