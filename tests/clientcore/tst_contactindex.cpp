#include "contactindex.h"
#include "contactstore.h"
#include "sqliteconnection.h"
#include "testhome.h"

#include <QRandomGenerator>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <memory>

namespace {

const QStringList SearchedColumns =
    QStringLiteral("name firstName work home mobile address zip town email web notes "
                   "customLabel1 customValue1 customLabel2 customValue2 customLabel3 "
                   "customValue3 customLabel4 customValue4 customLabel5 customValue5 "
                   "customLabel6 customValue6")
        .split(QLatin1Char(' '));

// Few symbols, so that random texts often match: letters in both cases, characters outside
// ASCII that a case-folding search would confuse, one outside the BMP, code points SQLite
// reads as U+FFFD, byte-order marks (which SQLite drops from the start of a bound text), an
// unpaired surrogate, and the characters with a meaning in LIKE or SQL.
const QStringList Alphabet =
    QStringLiteral("a A b B z Z 中 é É 😀 \uffff \ufffe \ufeff %").split(QLatin1Char(' '))
    << QString(QChar(0xD800)) << QStringLiteral("_") << QStringLiteral("'") << QStringLiteral("\\")
    << QStringLiteral(" ");

// Values a file made elsewhere may hold, as blobs or texts: ill-formed UTF-8, a zero byte, a
// leading byte-order mark, nothing at all.
QList<QByteArray> blobs()
{
    QList<QByteArray> out;
    for (const QByteArray &hex :
         QByteArray("c181 410062 fffe61 eda080 e4b8 efbfbf42 6280807a efbbbf41").split(' '))
        out << QByteArray::fromHex(hex);
    return out << QByteArray();
}
const QList<QByteArray> Blobs = blobs();

// A search text is empty now and then, and holds more wildcards than stored texts.
QString randomText(QRandomGenerator &rng, int maxLength, bool search = false)
{
    QString s;
    for (int n = rng.bounded(search ? 0 : 1, maxLength + 1); n > 0; --n) {
        const int pick = rng.bounded(int(Alphabet.size()) + (search ? 4 : 0));
        s += pick < Alphabet.size() ? Alphabet.at(pick) : QString(pick % 2 ? "%" : "_");
    }
    return s;
}

QVariant randomValue(QRandomGenerator &rng)
{
    const int kind = rng.bounded(100);
    if (kind < 12)
        return QVariant(QMetaType::fromType<QString>());
    if (kind < 20)
        return QStringLiteral("");
    if (kind < 24)
        return rng.bounded(100);
    if (kind < 27)
        return Blobs.at(rng.bounded(int(Blobs.size())));
    return randomText(rng, 5);
}

Contact randomContact(QRandomGenerator &rng)
{
    Contact c;
    QString *texts[] = {&c.name, &c.firstName, &c.work,  &c.home, &c.mobile, &c.address,
                        &c.zip,  &c.town,      &c.email, &c.web,  &c.notes};
    for (QString *s : texts)
        *s = rng.bounded(4) ? randomText(rng, 4) : QStringLiteral("");
    c.customCount = rng.bounded(7);
    for (int k = 0; k < Contact::CustomSlots; ++k) {
        c.customLabel[k] = rng.bounded(3) ? QStringLiteral("") : randomText(rng, 3);
        c.customValue[k] = rng.bounded(3) ? QStringLiteral("") : randomText(rng, 3);
    }
    return c;
}

// The text as QtTest shows one: escaped, and cut when long.
QString describe(const QString &text)
{
    return QString::fromLatin1(std::unique_ptr<char[]>(QTest::toString(text)).get());
}

} // namespace

char *toString(const ContactEntry &e)
{
    return QTest::toString(QString::number(e.id) + QLatin1Char(' ') + e.text);
}

class TestContactIndex : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_files = 0;

    // A new database file and an open connection to it; a file made elsewhere may store its
    // texts as UTF-16.
    std::unique_ptr<SqliteConnection> newDatabase(const QString &encoding = QString())
    {
        const QString path = m_dir.filePath(QStringLiteral("c%1.db").arg(++m_files));
        if (encoding.isEmpty() && !ContactStore::createDatabase(path))
            return nullptr;
        auto connection = std::make_unique<SqliteConnection>(path, QStringLiteral("test"));
        if (!connection->open())
            return nullptr;
        if (!encoding.isEmpty()) {
            QSqlQuery(connection->db())
                .exec(QStringLiteral("PRAGMA encoding = '%1'").arg(encoding));
            ContactStore::createSchema(connection->db());
        }
        return connection;
    }

    // The index's answer must be the database's rows, in list order, with their texts.
    static QString disagreement(const ContactIndex &index, const ContactStore &store,
                                const QString &text)
    {
        QSet<qint64> expected;
        for (const Contact &c : store.search(text))
            expected.insert(c.id);
        QList<ContactEntry> wanted = index.entries();
        wanted.removeIf([&](const ContactEntry &e) { return !expected.contains(e.id); });
        const QList<ContactEntry> found = index.search(text);
        if (found == wanted)
            return QString();
        return QStringLiteral("search %1: %2 rows, database %3")
            .arg(describe(text))
            .arg(found.size())
            .arg(expected.size());
    }

    // Every row of the database as a list entry, in list order.
    static QList<ContactEntry> databaseEntries(const ContactStore &store)
    {
        QList<ContactEntry> entries;
        for (const Contact &c : store.all())
            entries.append({c.id, c.displayText()});
        std::sort(entries.begin(), entries.end(), entryBefore);
        return entries;
    }

private slots:
    void searchAgreesWithDatabase_data()
    {
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<int>("count");
        QTest::newRow("UTF-8") << QString() << 2000;
        QTest::newRow("UTF-16 file") << QStringLiteral("UTF-16le") << 500;
    }

    void searchAgreesWithDatabase()
    {
        QFETCH(QString, encoding);
        QFETCH(int, count);
        auto connection = newDatabase(encoding);
        QVERIFY(connection);
        QSqlDatabase &db = connection->db();
        ContactStore store(db);
        QRandomGenerator rng(20240613);

        QStringList marks(ContactIndex::ColumnCount, QStringLiteral("?"));
        QSqlQuery insert(db);
        QVERIFY(insert.prepare(
            QStringLiteral("INSERT INTO contacts (%1) VALUES (%2)")
                .arg(SearchedColumns.join(QLatin1Char(',')), marks.join(QLatin1Char(',')))));
        QVERIFY(db.transaction());
        for (int i = 0; i < count; ++i) {
            const bool allNull = rng.bounded(50) == 0;
            for (int column = 0; column < ContactIndex::ColumnCount; ++column)
                insert.bindValue(column, allNull ? QVariant(QMetaType::fromType<QString>())
                                                 : randomValue(rng));
            QVERIFY2(insert.exec(), qPrintable(insert.lastError().text()));
        }
        QVERIFY(db.commit());
        // Half of the blobs become texts that are not well-formed UTF-8.
        for (const QString &column : SearchedColumns) {
            QSqlQuery cast(db);
            QVERIFY(cast.exec(QStringLiteral("UPDATE contacts SET %1 = CAST(%1 AS TEXT) WHERE "
                                             "typeof(%1) = 'blob' AND id % 2 = 0")
                                  .arg(column)));
        }

        ContactIndex index;
        QString error;
        QVERIFY2(index.load(db, &error), qPrintable(error));
        QCOMPARE(index.size(), count);
        QCOMPARE(index.entries(), databaseEntries(store));

        // Beside random texts: U+FFFD (as SQLite reads U+FFFF), texts led by a byte-order mark,
        // a zero, and the longest pattern SQLite takes and one byte more (the statement fails).
        QStringList texts{QString(QChar(0xFFFD)),           QStringLiteral("\ufeff中"),
                          QStringLiteral("\ufffea"),        QStringLiteral("a") + QChar(0) + "b",
                          QString(49998, QLatin1Char('%')), QString(49999, QLatin1Char('%'))};
        for (int i = 0; i < 200; ++i)
            texts << randomText(rng, 4, true);
        for (const QString &t : std::as_const(texts)) {
            const QString fault = disagreement(index, store, t);
            QVERIFY2(fault.isEmpty(), qPrintable(fault));
        }

        // The same changes on both sides keep them in step.
        QVERIFY(db.transaction()); // one sync, not one per change
        QHash<qint64, Contact> written;
        for (int i = 0; i < 200; ++i) {
            Contact c = randomContact(rng);
            QVERIFY(store.insert(c, &c.id));
            QVERIFY(c.id > count);
            index.insert(c);
            written.insert(c.id, c);
        }
        for (int i = 0; i < count + 500; ++i) { // enough for the dead rows to be compacted away
            Contact c = randomContact(rng);
            c.id = rng.bounded(1, count + 201);
            if (!index.contains(c.id))
                continue;
            QVERIFY(store.update(quint64(c.id), c));
            QVERIFY(index.update(c));
            written.insert(c.id, c);
        }
        for (int i = 0; i < 100; ++i) {
            const Contact c = written.value(written.keys().at(rng.bounded(int(written.size()))));
            const QList<qint64> ids = store.idsOf(c.name, c.firstName);
            QVERIFY(ids.contains(c.id));
            QVERIFY(store.remove(c.name, c.firstName));
            for (const qint64 id : ids) {
                QVERIFY(index.remove(id));
                written.remove(id);
            }
        }
        Contact stranger = randomContact(rng);
        stranger.id = 999999;
        QVERIFY(!index.update(stranger));
        QVERIFY(!index.remove(stranger.id));
        QVERIFY(db.commit());

        QCOMPARE(index.entries(), databaseEntries(store));
        for (const ContactEntry &e : index.entries())
            QCOMPARE(index.entry(e.id), e); // the row the list shows after a change
        QCOMPARE(index.entry(stranger.id).id, -1);
        for (int i = 0; i < 80; ++i) {
            const QString fault = disagreement(index, store, randomText(rng, 4, true));
            QVERIFY2(fault.isEmpty(), qPrintable(fault));
        }
        ContactIndex reloaded;
        QVERIFY(reloaded.load(db));
        QCOMPARE(reloaded.entries(), index.entries());
    }

    // What the randomised test takes as given: the list compares UTF-16 code units (capitals
    // first, a surrogate pair before U+FF5A), not by locale, and equal texts by id.
    void listOrder()
    {
        QList<ContactEntry> entries{{1, "b "},     {2, "B "},  {3, "a x"},   {4, "é "},
                                    {5, "ｚ "},    {6, "😀 "},  {8, "Wu Di"}, {7, "Wu Di"},
                                    {10, "Li Na"}, {9, "Li "}, {11, "Lin "}};
        std::sort(entries.begin(), entries.end(), entryBefore);
        QStringList ids;
        for (const ContactEntry &e : entries)
            ids << QString::number(e.id);
        QCOMPARE(ids.join(' '), QStringLiteral("2 9 10 11 7 8 3 1 4 6 5"));
    }

    void failedLoadLeavesIndexEmpty()
    {
        auto connection = newDatabase();
        QVERIFY(connection);
        QVERIFY(ContactStore(connection->db()).insert(Contact()));
        ContactIndex index;
        QVERIFY(index.load(connection->db()));
        QCOMPARE(index.size(), 1);
        QSqlQuery(connection->db()).exec(QStringLiteral("DROP TABLE contacts"));
        QString error;
        QVERIFY(!index.load(connection->db(), &error));
        QVERIFY2(error.contains(QStringLiteral("contacts")), qPrintable(error));
        QCOMPARE(index.size(), 0);
        QVERIFY(index.search(QString()).isEmpty());
        error.clear();
        QVERIFY(!index.load(QSqlDatabase(), &error));
        QVERIFY(!error.isEmpty());
    }
};

PELICARD_TEST_GUILESS_MAIN(TestContactIndex)
#include "tst_contactindex.moc"
