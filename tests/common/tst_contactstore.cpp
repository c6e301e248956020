#include "contactfields.h"
#include "contactstore.h"
#include "testhome.h"

#include <QDateTime>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStandardPaths>
#include <QTimeZone>

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

Contact person(const QString &name, const QString &firstName, const QString &notes = QString())
{
    Contact c;
    c.name = name;
    c.firstName = firstName;
    c.notes = notes;
    c.normalise();
    return c;
}

// Every text distinct and recognisable, pairs beyond customCount included.
Contact everyFieldSet(const QString &tag)
{
    Contact c;
    for (const auto &[column, field] : textFields())
        field(c) = tag + QLatin1Char(' ') + QString::fromLatin1(column) + QStringLiteral(" 值");
    c.notes += QStringLiteral("\nsecond line");
    c.customCount = 2;
    return c;
}

QStringList pairTexts(const QList<ContactStore::NamePair> &pairs)
{
    QStringList texts;
    for (const auto &[name, firstName] : pairs)
        texts << name + QLatin1Char('|') + firstName;
    return texts;
}

QStringList pairTexts(const QList<Contact> &contacts)
{
    QList<ContactStore::NamePair> pairs;
    for (const Contact &c : contacts)
        pairs.append({c.name, c.firstName});
    return pairTexts(pairs);
}

} // namespace

class TestContactStore : public QObject
{
    Q_OBJECT

    QString m_path;
    QSqlDatabase m_db;
    int m_serial = 0;

    QString newPath()
    {
        return QDir::home().filePath(QStringLiteral("db-%1.sqlite").arg(++m_serial));
    }

    static QSqlDatabase open(const QString &path, const QString &connection = QString())
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"),
                                                    connection.isEmpty() ? path : connection);
        db.setDatabaseName(path);
        if (!db.open())
            qWarning() << "cannot open" << path << db.lastError().text();
        return db;
    }

    QVariant scalar(const QString &sql)
    {
        QSqlQuery q(m_db);
        if (!q.exec(sql) || !q.next())
            return QVariant();
        return q.value(0);
    }

    // The schema objects as SQLite keeps them, and the settings a new file gets.
    static QStringList describe(const QString &path)
    {
        QStringList rows;
        const QString connection = QStringLiteral("describe");
        {
            QSqlDatabase db = open(path, connection);
            QSqlQuery q(db);
            q.exec(QStringLiteral("SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY "
                                  "name"));
            while (q.next())
                rows << QStringList{q.value(0).toString(), q.value(1).toString(),
                                    q.value(2).toString(), q.value(3).toString()}
                            .join(QLatin1Char('|'));
            for (const char *pragma : {"page_size", "auto_vacuum", "encoding", "user_version",
                                       "application_id", "journal_mode"}) {
                q.exec(QStringLiteral("PRAGMA ") + QLatin1String(pragma));
                rows << QLatin1String(pragma) + QLatin1Char('=') +
                            (q.next() ? q.value(0).toString() : QStringLiteral("?"));
            }
        }
        QSqlDatabase::removeDatabase(connection);
        return rows;
    }

private slots:
    void init()
    {
        m_path = newPath();
        QString error;
        QVERIFY2(ContactStore::createDatabase(m_path, &error), qPrintable(error));
        m_db = open(m_path);
        QVERIFY(m_db.isOpen());
    }

    void cleanup()
    {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_path);
    }

    void schemaIsExactlyTheTwoStatements()
    {
        QCOMPARE(ContactStore::CreateTableSql, ExpectedCreateTable);
        QCOMPARE(ContactStore::CreateIndexSql, ExpectedCreateIndex);

        // SQLite keeps the statements' own text: any difference in what was run shows here.
        const QString reference = newPath();
        {
            QSqlDatabase db = open(reference);
            QSqlQuery q(db);
            QVERIFY2(q.exec(ExpectedCreateTable), qPrintable(q.lastError().text()));
            QVERIFY2(q.exec(ExpectedCreateIndex), qPrintable(q.lastError().text()));
        }
        QSqlDatabase::removeDatabase(reference);
        const QStringList expected = describe(reference);
        QCOMPARE(expected.size(), 3 + 6); // contacts, idx_contacts, sqlite_sequence
        m_db.close();
        QCOMPARE(describe(m_path), expected);
    }

    void sqliteToolReadsTheFile()
    {
        const QString tool = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
        if (tool.isEmpty())
            QSKIP("the sqlite3 command-line tool is not installed");
        ContactStore store(m_db);
        QVERIFY(store.insert(person(QStringLiteral("王"), QStringLiteral("小明"))));
        m_db.close();

        QProcess sqlite;
        sqlite.start(tool, {m_path, QStringLiteral(".schema"),
                            QStringLiteral("SELECT name || '/' || firstName FROM contacts")});
        QVERIFY(sqlite.waitForFinished(30000));
        QCOMPARE(sqlite.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sqlite.exitCode(), 0);
        QCOMPARE(sqlite.readAllStandardError(), QByteArray());
        const QString out = QString::fromUtf8(sqlite.readAllStandardOutput());
        QVERIFY2(out.contains(QStringLiteral(R"("id" INTEGER PRIMARY KEY  AUTOINCREMENT ,)")),
                 qPrintable(out));
        QVERIFY2(
            out.contains(QStringLiteral(
                R"(CREATE INDEX "idx_contacts" ON "contacts" ("name" ASC, "firstName" ASC);)")),
            qPrintable(out));
        QVERIFY2(out.endsWith(QStringLiteral("\n王/小明\n")), qPrintable(out));
    }

    void createDatabaseRefusesWhatItCannotUse()
    {
        QString error;
        const QString inMissingFolder = QDir::home().filePath(QStringLiteral("no/such/x.sqlite"));
        QVERIFY(!ContactStore::createDatabase(inMissingFolder, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!QFile::exists(inMissingFolder));

        // Not a database: refused, and the file keeps every byte.
        const QString other = QDir::home().filePath(QStringLiteral("notes.txt"));
        const QByteArray text = QByteArray("my notes, not a database\n").repeated(200);
        {
            QFile f(other);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(text);
        }
        error.clear();
        QVERIFY(!ContactStore::createDatabase(other, &error));
        QVERIFY(!error.isEmpty());
        QFile f(other);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), text);
    }

    void createDatabaseKeepsAnExistingDatabase()
    {
        ContactStore store(m_db);
        QVERIFY(store.insert(person(QStringLiteral("Li"), QStringLiteral("Lei"))));
        QVERIFY(ContactStore::createDatabase(m_path));
        QCOMPARE(pairTexts(store.names()), QStringList{QStringLiteral("Li|Lei")});
    }

    void everyValueSurvivesTheRoundTrip()
    {
        ContactStore store(m_db);
        const Contact c = everyFieldSet(QStringLiteral("A"));
        QVERIFY(store.insert(c));
        Contact expected = c;
        expected.id = 1;

        const std::optional<Contact> found = store.find(c.name, c.firstName);
        QVERIFY(found);
        QCOMPARE(*found, expected);
        QCOMPARE(store.all(), QList<Contact>{expected});
        QCOMPARE(store.search(QStringLiteral("值")), QList<Contact>{expected});
    }

    void noTextIsStoredAsNull()
    {
        ContactStore store(m_db);
        QVERIFY(store.insert(Contact())); // every text null
        QVERIFY(store.update(1, Contact()));
        QVERIFY(store.insert(person(QStringLiteral("王"), QString())));
        QStringList anyNull;
        for (const auto &[column, field] : textFields())
            anyNull << QLatin1String(column) + QStringLiteral(" IS NULL");
        QCOMPARE(scalar(QStringLiteral("SELECT count(*) FROM contacts WHERE ") +
                        anyNull.join(QStringLiteral(" OR ")))
                     .toInt(),
                 0);
        QCOMPARE(scalar(QStringLiteral("SELECT count(*) FROM contacts")).toInt(), 2);
    }

    void emptyFirstNameIsFoundAndDeleted()
    {
        ContactStore store(m_db);
        QVERIFY(
            store.insert(person(QStringLiteral("王"), QStringLiteral(""), QStringLiteral("a"))));
        QVERIFY(store.insert(person(QStringLiteral("王"), QStringLiteral("小明"))));

        const QList<ContactStore::NamePair> names = store.names();
        QCOMPARE(pairTexts(names), (QStringList{QStringLiteral("王|"), QStringLiteral("王|小明")}));
        const QString entry = Contact::displayText(names.first().first, names.first().second);
        QCOMPARE(entry, QStringLiteral("王 "));

        const auto [name, firstName] = Contact::splitDisplayText(entry);
        std::optional<Contact> found = store.find(name, firstName);
        QVERIFY(found);
        QCOMPARE(found->notes, QStringLiteral("a"));
        QVERIFY(!found->firstName.isNull());
        QVERIFY(store.find(name, QString())); // a null first name means the empty one

        QVERIFY(store.remove(name, firstName));
        QVERIFY(!store.find(name, firstName));
        QCOMPARE(pairTexts(store.names()), QStringList{QStringLiteral("王|小明")});
    }

    void idsAreNeverReused()
    {
        ContactStore store(m_db);
        for (const char *n : {"a", "b", "c"})
            QVERIFY(store.insert(person(QLatin1String(n), QStringLiteral("x"))));
        QVERIFY(store.remove(QStringLiteral("c"), QStringLiteral("x")));
        QVERIFY(store.insert(person(QStringLiteral("d"), QStringLiteral("x"))));
        QCOMPARE(store.find(QStringLiteral("d"), QStringLiteral("x"))->id, 4);

        for (const char *n : {"a", "b", "d"})
            QVERIFY(store.remove(QLatin1String(n), QStringLiteral("x")));
        QVERIFY(store.names().isEmpty());
        QVERIFY(store.insert(person(QStringLiteral("e"), QStringLiteral("x"))));
        QCOMPARE(store.find(QStringLiteral("e"), QStringLiteral("x"))->id, 5);
    }

    void namesAreCaseSensitive()
    {
        ContactStore store(m_db);
        QVERIFY(store.insert(person(QStringLiteral("Smith"), QStringLiteral("John"), "upper")));
        QVERIFY(store.insert(person(QStringLiteral("smith"), QStringLiteral("John"), "lower")));

        QCOMPARE(store.find(QStringLiteral("Smith"), QStringLiteral("John"))->notes,
                 QStringLiteral("upper"));
        QCOMPARE(store.find(QStringLiteral("smith"), QStringLiteral("John"))->notes,
                 QStringLiteral("lower"));
        QVERIFY(!store.find(QStringLiteral("SMITH"), QStringLiteral("John")));
        QVERIFY(!store.find(QStringLiteral("Smith"), QStringLiteral("john")));

        QVERIFY(store.remove(QStringLiteral("smith"), QStringLiteral("John")));
        QCOMPARE(pairTexts(store.names()), QStringList{QStringLiteral("Smith|John")});
    }

    void listsSortByNameThenFirstNameBytewise()
    {
        ContactStore store(m_db);
        const QList<std::pair<const char *, const char *>> scrambled = {
            {"王", "小明"},   {"adams", "Zoe"}, {"Adams", "amy"}, {"Ádám", "Eva"},
            {"Adams", "Bob"}, {"Zhang", "San"}, {"Adams", ""},    {"王", ""}};
        for (const auto &[name, first] : scrambled)
            QVERIFY(store.insert(person(QString::fromUtf8(name), QString::fromUtf8(first))));

        // Upper case before lower case, ASCII before everything else.
        const QStringList expected = {QStringLiteral("Adams|"),    QStringLiteral("Adams|Bob"),
                                      QStringLiteral("Adams|amy"), QStringLiteral("Zhang|San"),
                                      QStringLiteral("adams|Zoe"), QStringLiteral("Ádám|Eva"),
                                      QStringLiteral("王|"),       QStringLiteral("王|小明")};
        QCOMPARE(pairTexts(store.names()), expected);
        QCOMPARE(pairTexts(store.all()), expected);
    }

    void updateKeepsTheIdAndRenewsTheDate()
    {
        ContactStore store(m_db);
        const Contact before = everyFieldSet(QStringLiteral("old"));
        const Contact other = everyFieldSet(QStringLiteral("other"));
        QVERIFY(store.insert(before));
        QVERIFY(store.insert(other));
        const QString past = QStringLiteral("2000-01-01 00:00:00");
        QSqlQuery q(m_db);
        QVERIFY(q.exec(QStringLiteral("UPDATE contacts SET date='%1'").arg(past)));

        const QDateTime start = QDateTime::currentDateTimeUtc().addSecs(-2);
        Contact after = everyFieldSet(QStringLiteral("new"));
        after.customCount = 6;
        QVERIFY(store.update(1, after));
        after.id = 1;

        QVERIFY(!store.find(before.name, before.firstName));
        QCOMPARE(store.find(after.name, after.firstName), std::optional<Contact>(after));
        const QString date =
            scalar(QStringLiteral("SELECT date FROM contacts WHERE id=1")).toString();
        QVERIFY2(QRegularExpression(QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d$)"))
                     .match(date)
                     .hasMatch(),
                 qPrintable(date));
        QDateTime stamped = QDateTime::fromString(date, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        stamped.setTimeZone(QTimeZone::utc());
        QVERIFY2(stamped >= start && stamped <= QDateTime::currentDateTimeUtc().addSecs(2),
                 qPrintable(date));

        Contact untouched = other;
        untouched.id = 2;
        QCOMPARE(store.find(other.name, other.firstName), std::optional<Contact>(untouched));
        QCOMPARE(scalar(QStringLiteral("SELECT date FROM contacts WHERE id=2")).toString(), past);
    }

    void duplicatePairsGoTogether()
    {
        ContactStore store(m_db);
        QVERIFY(store.insert(person(QStringLiteral("Li"), QStringLiteral("Lei"), "first")));
        QVERIFY(store.insert(person(QStringLiteral("Li"), QStringLiteral("Lei Lei"))));
        QVERIFY(store.insert(person(QStringLiteral("Li"), QStringLiteral("Lei"), "second")));

        const std::optional<Contact> one = store.find(QStringLiteral("Li"), QStringLiteral("Lei"));
        QVERIFY(one);
        QVERIFY(one->notes == QLatin1String("first") || one->notes == QLatin1String("second"));

        QVERIFY(store.remove(QStringLiteral("Li"), QStringLiteral("Lei")));
        QCOMPARE(pairTexts(store.names()), QStringList{QStringLiteral("Li|Lei Lei")});
    }

    void searchLooksInEveryTextColumn_data()
    {
        QTest::addColumn<int>("column");
        for (int i = 0; i < textFields().size(); ++i)
            QTest::newRow(textFields().at(i).first) << i;
    }

    void searchLooksInEveryTextColumn()
    {
        QFETCH(int, column);
        const auto fields = textFields();
        Contact plain, marked;
        for (const auto &[name, field] : fields)
            field(plain) = field(marked) = QStringLiteral("filler");
        fields.at(column).second(marked) = QStringLiteral("a Needle here");
        marked.customCount = 0; // pairs beyond the count are searched all the same
        ContactStore store(m_db);
        QVERIFY(store.insert(plain));
        QVERIFY(store.insert(marked));
        marked.id = 2;
        QCOMPARE(store.search(QStringLiteral("needle")), QList<Contact>{marked});
    }

    void searchIgnoresCountIdAndDate_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("customCount") << QStringLiteral("5");
        QTest::newRow("id") << QStringLiteral("1");
        QTest::newRow("date") << QStringLiteral(":");
    }

    void searchIgnoresCountIdAndDate()
    {
        QFETCH(QString, text);
        ContactStore store(m_db);
        Contact c = person(QStringLiteral("filler"), QStringLiteral("filler"));
        c.customCount = 5;
        QVERIFY(store.insert(c));
        QVERIFY(store.search(text).isEmpty());
        QVERIFY(store.lastError().isEmpty());
    }

    void searchPatterns_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("found"); // notes of the rows found, sorted
        const QStringList all = {"a%c", "a_c", "abc", "ac", "axc", "it's", "ÄÖ"};
        QTest::newRow("underscore is any one character")
            << QStringLiteral("a_c") << QStringList{"a%c", "a_c", "abc", "axc"};
        QTest::newRow("percent is any run")
            << QStringLiteral("a%c") << QStringList{"a%c", "a_c", "abc", "ac", "axc"};
        QTest::newRow("percent alone") << QStringLiteral("%") << all;
        QTest::newRow("empty") << QStringLiteral("") << all;
        QTest::newRow("ascii case is ignored") << QStringLiteral("ABC") << QStringList{"abc"};
        QTest::newRow("other case is not") << QStringLiteral("ä") << QStringList{};
        QTest::newRow("other letters match") << QStringLiteral("Ä") << QStringList{"ÄÖ"};
        QTest::newRow("a quote") << QStringLiteral("'") << QStringList{"it's"};
        QTest::newRow("quote inside") << QStringLiteral("t's") << QStringList{"it's"};
        QTest::newRow("statement text") << QStringLiteral("x' OR '1'='1") << QStringList{};
        QTest::newRow("statement end")
            << QStringLiteral("'; DROP TABLE contacts; --") << QStringList{};
    }

    void searchPatterns()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, found);
        ContactStore store(m_db);
        int n = 0;
        for (const char *notes : {"axc", "a%c", "abc", "ÄÖ", "ac", "it's", "a_c"})
            QVERIFY(store.insert(person(QStringLiteral("n%1").arg(n++), QString(), notes)));

        QStringList got;
        for (const Contact &c : store.search(text))
            got << c.notes;
        got.sort();
        QCOMPARE(got, found);
        QCOMPARE(store.names().size(), 7);
    }

    void withoutTheTableNothingIsFoundAndNothingBreaks()
    {
        cleanup();
        m_path = newPath(); // a new, empty SQLite file
        m_db = open(m_path);
        ContactStore store(m_db);

        QVERIFY(!store.insert(person(QStringLiteral("a"), QStringLiteral("b"))));
        QVERIFY2(store.lastError().contains(QLatin1String("no such table")),
                 qPrintable(store.lastError()));
        QVERIFY(!store.update(1, person(QStringLiteral("a"), QStringLiteral("b"))));
        QVERIFY(!store.remove(QStringLiteral("a"), QStringLiteral("b")));
        QVERIFY(!store.find(QStringLiteral("a"), QStringLiteral("b")));
        QVERIFY(store.all().isEmpty());
        QVERIFY(store.search(QStringLiteral("a")).isEmpty());
        QVERIFY(store.names().isEmpty());
        QVERIFY2(store.lastError().contains(QLatin1String("no such table")),
                 qPrintable(store.lastError()));
        QVERIFY(m_db.tables().isEmpty());
    }
};

PELICARD_TEST_GUILESS_MAIN(TestContactStore)
#include "tst_contactstore.moc"
