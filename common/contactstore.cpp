#include "contactstore.h"

#include "logging.h"
#include "sqliteconnection.h"
#include "texts.h"

#include <QObject>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QVariant>

#include <sqlite3.h>

#include <iterator>
#include <memory>

const QString ContactStore::CreateTableSql = QStringLiteral(
    "CREATE  TABLE \"main\".\"contacts\" (\"name\" VARCHAR, \"firstName\" VARCHAR, \"work\" "
    "VARCHAR, \"home\" VARCHAR, \"mobile\" VARCHAR, \"address\" VARCHAR, \"zip\" VARCHAR, "
    "\"town\" VARCHAR, \"email\" VARCHAR, \"web\" VARCHAR, \"notes\" VARCHAR, \"customCount\" "
    "INTEGER DEFAULT 0, \"customLabel1\" VARCHAR, \"customValue1\" VARCHAR, \"customLabel2\" "
    "VARCHAR, \"customValue2\" VARCHAR, \"customLabel3\" VARCHAR, \"customValue3\" VARCHAR, "
    "\"customLabel4\" VARCHAR, \"customValue4\" VARCHAR, \"customLabel5\" VARCHAR, "
    "\"customValue5\" VARCHAR, \"customLabel6\" VARCHAR, \"customValue6\" VARCHAR, \"id\" "
    "INTEGER PRIMARY KEY  AUTOINCREMENT , \"date\" DATETIME DEFAULT CURRENT_TIMESTAMP)");

const QString ContactStore::CreateIndexSql = QStringLiteral(
    "CREATE  INDEX \"main\".\"idx_contacts\" ON \"contacts\" (\"name\" ASC, \"firstName\" ASC)");

namespace {

// The text columns in the order of a contact's texts; the searched columns are the same.
const char *const TextColumns[] = {
    "name",         "firstName",    "work",         "home",         "mobile",       "address",
    "zip",          "town",         "email",        "web",          "notes",        "customLabel1",
    "customValue1", "customLabel2", "customValue2", "customLabel3", "customValue3", "customLabel4",
    "customValue4", "customLabel5", "customValue5", "customLabel6", "customValue6"};
constexpr int TextColumnCount = int(std::size(TextColumns));
static_assert(TextColumnCount == ContactStore::SearchRow::ColumnCount);

template <typename C> auto textsOf(C &c) // Contact or const Contact
{
    std::array<decltype(&c.name), TextColumnCount> texts{&c.name,   &c.firstName, &c.work, &c.home,
                                                         &c.mobile, &c.address,   &c.zip,  &c.town,
                                                         &c.email,  &c.web,       &c.notes};
    for (int k = 0; k < Contact::CustomSlots; ++k) {
        texts[size_t(11 + 2 * k)] = &c.customLabel[k];
        texts[size_t(12 + 2 * k)] = &c.customValue[k];
    }
    return texts;
}

// The first texts of TextColumns, named, so that a table made elsewhere with its columns in
// another order reads the same. With textsAsBytes (for a UTF-8 file) a text comes as its
// bytes: SQLite's conversion for the driver would turn U+FFFE and U+FFFF into U+FFFD.
QString textColumns(bool textsAsBytes, int count = TextColumnCount)
{
    QStringList columns;
    for (int i = 0; i < count; ++i) {
        const QLatin1String column(TextColumns[i]);
        columns << (textsAsBytes
                        ? QStringLiteral("CASE WHEN typeof(%1)='text' THEN CAST(%1 AS BLOB) "
                                         "ELSE %1 END")
                              .arg(column)
                        : QString(column));
    }
    return columns.join(QStringLiteral(", "));
}

// Every value a contact holds, as contactOf() reads them.
QString contactColumns(bool textsAsBytes)
{
    return textColumns(textsAsBytes) + QStringLiteral(", customCount, id");
}

const QString FindSql =
    QStringLiteral("SELECT %1 FROM contacts WHERE name=:name AND firstName=:firstName");

const QString FindByIdSql = QStringLiteral("SELECT %1 FROM contacts WHERE id=:id");

const QString IdsOfSql =
    QStringLiteral("SELECT id FROM contacts WHERE name=:name AND firstName=:firstName");

const QString TableCheckSql =
    QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type='table' AND name='contacts'");

const QString InsertSql = QStringLiteral(
    "INSERT INTO contacts (name, firstName, work, home, mobile, address, zip, town, email, web, "
    "notes, customCount, customLabel1, customValue1, customLabel2, customValue2, customLabel3, "
    "customValue3, customLabel4, customValue4, customLabel5, customValue5, customLabel6, "
    "customValue6, date) VALUES (:name, :firstName, :work, :home, :mobile, :address, :zip, "
    ":town, :email, :web, :notes, :customCount, :customLabel1, :customValue1, :customLabel2, "
    ":customValue2, :customLabel3, :customValue3, :customLabel4, :customValue4, :customLabel5, "
    ":customValue5, :customLabel6, :customValue6, CURRENT_TIMESTAMP)");

const QString UpdateSql = QStringLiteral(
    "UPDATE contacts SET name=:name, firstName=:firstName, work=:work, home=:home, "
    "mobile=:mobile, address=:address, zip=:zip, town=:town, email=:email, web=:web, "
    "notes=:notes, customCount=:customCount, customLabel1=:customLabel1, "
    "customValue1=:customValue1, customLabel2=:customLabel2, customValue2=:customValue2, "
    "customLabel3=:customLabel3, customValue3=:customValue3, customLabel4=:customLabel4, "
    "customValue4=:customValue4, customLabel5=:customLabel5, customValue5=:customValue5, "
    "customLabel6=:customLabel6, customValue6=:customValue6, date=CURRENT_TIMESTAMP WHERE "
    "id=:id");

const QString DeleteSql =
    QStringLiteral("DELETE FROM contacts WHERE name=:name AND firstName=:firstName");

const QString NamesSql = QStringLiteral("SELECT %1 FROM contacts ORDER BY name, firstName");

const QString AllSql = QStringLiteral("SELECT %1 FROM contacts ORDER BY name, firstName");

// The search keeps its column list and LIKE semantics; the text is bound, never pasted.
const QString SearchSql = QStringLiteral(
    "SELECT %1 FROM contacts WHERE name LIKE :t OR firstName LIKE :t OR work LIKE :t OR home "
    "LIKE :t OR mobile LIKE :t OR address LIKE :t OR zip LIKE :t OR town LIKE :t OR email LIKE "
    ":t OR web LIKE :t OR notes LIKE :t OR customLabel1 LIKE :t OR customValue1 LIKE :t OR "
    "customLabel2 LIKE :t OR customValue2 LIKE :t OR customLabel3 LIKE :t OR customValue3 LIKE "
    ":t OR customLabel4 LIKE :t OR customValue4 LIKE :t OR customLabel5 LIKE :t OR customValue5 "
    "LIKE :t OR customLabel6 LIKE :t OR customValue6 LIKE :t");

const QString EncodingSql = QStringLiteral("PRAGMA encoding");

// The driver binds a text as UTF-16, of which SQLite takes a leading U+FEFF or U+FFFE for a
// byte-order mark and drops it (reading the rest swapped after U+FFFE). A mark of our own, in
// this machine's order, is the one it drops: the text arrives whole, never empty or NULL.
QString boundText(const QString &text)
{
    return QChar(QChar::ByteOrderMark) + text;
}

void bindContact(QSqlQuery &q, const Contact &c)
{
    const auto texts = textsOf(c);
    for (int i = 0; i < TextColumnCount; ++i)
        q.bindValue(QLatin1Char(':') + QLatin1String(TextColumns[i]), boundText(*texts[i]));
    q.bindValue(QStringLiteral(":customCount"), c.customCount);
}

// A value of contactColumns(): bytes are a text of a UTF-8 file or a blob.
QString textOf(const QVariant &value)
{
    if (value.typeId() != QMetaType::QByteArray)
        return value.toString();
    return ContactStore::bytesDecoder()(value.toByteArray());
}

// Prepares a read whose column list (%1) is made for the store's file: a whole contact, or
// its first texts only.
void prepareRead(const ContactStore &store, QSqlQuery &query, const QString &sql,
                 int texts = TextColumnCount)
{
    const bool asBytes = !store.storesUtf16();
    query.setForwardOnly(true);
    query.prepare(
        sql.arg(texts == TextColumnCount ? contactColumns(asBytes) : textColumns(asBytes, texts)));
}

// One row of contactColumns().
Contact contactOf(const QSqlQuery &q)
{
    Contact c;
    const auto texts = textsOf(c);
    for (int i = 0; i < TextColumnCount; ++i)
        *texts[i] = textOf(q.value(i));
    c.customCount = q.value(TextColumnCount).toInt();
    c.id = q.value(TextColumnCount + 1).toLongLong();
    c.normalise();
    return c;
}

// Returns the text of the first failure, empty when both statements ran.
QString runSchema(QSqlDatabase &db)
{
    QString failure;
    QSqlQuery query(db);
    for (const QString *sql : {&ContactStore::CreateTableSql, &ContactStore::CreateIndexSql}) {
        if (!query.exec(*sql)) {
            qCDebug(lcDb) << "create schema:" << query.lastError().text();
            if (failure.isEmpty())
                failure = query.lastError().text();
        }
    }
    return failure;
}

// The database's own words where it has some; the driver's only add "Unable to ...".
QString errorText(const QSqlError &error)
{
    return error.databaseText().isEmpty() ? error.text() : error.databaseText();
}

} // namespace

bool ContactStore::createDatabase(const QString &path, QString *error)
{
    SqliteConnection connection(path, QStringLiteral("create"));
    if (!connection.open()) {
        if (error)
            *error = connection.lastError();
        return false;
    }
    // SQLite opens any file lazily; a file that is not a database only shows when the
    // statements fail, and then it must not count as created.
    const QString failure = runSchema(connection.db());
    const bool ok =
        failure.isEmpty() || connection.db().tables().contains(QStringLiteral("contacts"));
    if (!ok && error)
        *error = failure;
    return ok;
}

void ContactStore::createSchema(QSqlDatabase &db)
{
    runSchema(db);
}

bool ContactStore::exec(QSqlQuery &query) const
{
    // Running a query whose prepare failed would replace the real cause (a missing table,
    // say) with a complaint about parameters.
    if (query.lastError().isValid()) {
        m_lastError = errorText(query.lastError());
        qCDebug(lcDb) << "statement failed:" << m_lastError;
        return false;
    }
    if (query.exec()) {
        m_lastError.clear();
        return true;
    }
    m_lastError = errorText(query.lastError());
    qCDebug(lcDb) << "statement failed:" << m_lastError;
    return false;
}

QStringDecoder ContactStore::bytesDecoder()
{
    // Stateless: each value stands alone. A UTF-8 byte-order mark is part of the text.
    return QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                    QStringDecoder::Flag::ConvertInitialBom);
}

QList<Contact> ContactStore::readAll(QSqlQuery &query) const
{
    QList<Contact> contacts;
    query.setForwardOnly(true);
    if (!exec(query))
        return contacts;
    while (query.next())
        contacts.append(contactOf(query));
    return contacts;
}

std::optional<Contact> ContactStore::find(const QString &name, const QString &firstName) const
{
    QSqlQuery query(m_db);
    prepareRead(*this, query, FindSql);
    query.bindValue(QStringLiteral(":name"), boundText(name));
    query.bindValue(QStringLiteral(":firstName"), boundText(firstName));
    if (!exec(query) || !query.next())
        return std::nullopt;
    return contactOf(query);
}

std::optional<Contact> ContactStore::findById(qint64 id) const
{
    QSqlQuery query(m_db);
    prepareRead(*this, query, FindByIdSql);
    query.bindValue(QStringLiteral(":id"), id);
    if (!exec(query) || !query.next())
        return std::nullopt;
    return contactOf(query);
}

QList<qint64> ContactStore::idsOf(const QString &name, const QString &firstName) const
{
    QList<qint64> ids;
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    query.prepare(IdsOfSql);
    query.bindValue(QStringLiteral(":name"), boundText(name));
    query.bindValue(QStringLiteral(":firstName"), boundText(firstName));
    if (!exec(query))
        return ids;
    while (query.next())
        ids.append(query.value(0).toLongLong());
    return ids;
}

bool ContactStore::insert(const Contact &contact, qint64 *id)
{
    QSqlQuery query(m_db);
    query.prepare(InsertSql);
    bindContact(query, contact);
    if (!exec(query))
        return false;
    if (id)
        *id = query.lastInsertId().toLongLong();
    return true;
}

ContactStore::Inserter::Inserter(const ContactStore &store)
    : m_store(store), m_find(std::make_unique<QSqlQuery>(store.m_db)),
      m_insert(std::make_unique<QSqlQuery>(store.m_db))
{
    m_find->setForwardOnly(true);
    m_find->prepare(IdsOfSql);
    m_insert->prepare(InsertSql);
}

ContactStore::Inserter::~Inserter() = default;

std::optional<bool> ContactStore::Inserter::contains(const QString &name, const QString &firstName)
{
    m_find->bindValue(QStringLiteral(":name"), boundText(name));
    m_find->bindValue(QStringLiteral(":firstName"), boundText(firstName));
    if (!m_store.exec(*m_find))
        return std::nullopt;
    const bool found = m_find->next();
    m_find->finish();
    return found;
}

bool ContactStore::Inserter::insert(const Contact &contact, qint64 *id)
{
    bindContact(*m_insert, contact);
    if (!m_store.exec(*m_insert))
        return false;
    if (id)
        *id = m_insert->lastInsertId().toLongLong();
    return true;
}

bool ContactStore::hasContactsTable() const
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    query.prepare(TableCheckSql);
    if (!exec(query) || !query.next())
        return false;
    if (query.value(0).toInt() > 0)
        return true;
    m_lastError = QObject::tr("文件中没有联系人表");
    return false;
}

bool ContactStore::update(quint64 id, const Contact &contact)
{
    QSqlQuery query(m_db);
    query.prepare(UpdateSql);
    bindContact(query, contact);
    query.bindValue(QStringLiteral(":id"), id);
    return exec(query);
}

bool ContactStore::remove(const QString &name, const QString &firstName)
{
    QSqlQuery query(m_db);
    query.prepare(DeleteSql);
    query.bindValue(QStringLiteral(":name"), boundText(name));
    query.bindValue(QStringLiteral(":firstName"), boundText(firstName));
    return exec(query);
}

QList<ContactStore::NamePair> ContactStore::names() const
{
    QList<NamePair> pairs;
    QSqlQuery query(m_db);
    prepareRead(*this, query, NamesSql, 2);
    if (!exec(query))
        return pairs;
    while (query.next())
        pairs.append({nonNullText(textOf(query.value(0))), nonNullText(textOf(query.value(1)))});
    return pairs;
}

QList<Contact> ContactStore::all() const
{
    QSqlQuery query(m_db);
    prepareRead(*this, query, AllSql);
    return readAll(query);
}

QList<Contact> ContactStore::search(const QString &searchText) const
{
    QSqlQuery query(m_db);
    prepareRead(*this, query, SearchSql);
    query.bindValue(QStringLiteral(":t"),
                    boundText(QLatin1Char('%') + searchText + QLatin1Char('%')));
    return readAll(query);
}

bool ContactStore::storesUtf16() const
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    query.prepare(EncodingSql);
    return exec(query) && query.next() && query.value(0).toString().startsWith(u"UTF-16");
}

bool ContactStore::likeMatchesBlobs()
{
    static const bool matches = !sqlite3_compileoption_used("LIKE_DOESNT_MATCH_BLOBS");
    return matches;
}

bool ContactStore::forEachSearchRow(const std::function<void(const SearchRow &)> &visit) const
{
    const auto fail = [this](const QString &why) {
        m_lastError = why;
        qCDebug(lcDb) << "reading the searched columns failed:" << why;
        return false;
    };
    // Qt's SQLite driver on Debian uses the system library, the one linked here.
    const QVariant handle = m_db.isOpen() ? m_db.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return fail(QStringLiteral("not an open SQLite connection"));
    sqlite3 *db = *static_cast<sqlite3 *const *>(handle.constData());
    if (!db)
        return fail(QStringLiteral("not an open SQLite connection"));

    // In a UTF-8 file a text's stored bytes are what LIKE reads; other files convert.
    const bool utf8 = !storesUtf16();

    // Table order: a plain scan is faster than walking the index, and the reader sorts anyway.
    static const QByteArray sql = "SELECT " + textColumns(false).toLatin1() + ", id FROM contacts";
    sqlite3_stmt *raw = nullptr;
    if (sqlite3_prepare_v2(db, sql.constData(), -1, &raw, nullptr) != SQLITE_OK)
        return fail(QString::fromUtf8(sqlite3_errmsg(db)));
    const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt *)> statement(raw, sqlite3_finalize);

    SearchRow row;
    int rc;
    while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
        row.nullMask = 0;
        row.blobMask = 0;
        for (int i = 0; !utf8 && i < 2; ++i) {
            sqlite3_value *value = sqlite3_column_value(raw, i);
            row.storedNames[i].clear();
            if (sqlite3_value_type(value) != SQLITE_TEXT)
                continue;
            // Copied before the conversion below replaces the stored form.
            const void *stored = sqlite3_value_text16(value);
            if (!stored)
                return fail(QStringLiteral("out of memory"));
            row.storedNames[i] =
                QString(static_cast<const QChar *>(stored), sqlite3_value_bytes16(value) / 2);
        }
        for (int i = 0; i < SearchRow::ColumnCount; ++i) {
            // One call per value instead of three: at 100,000 rows the calls cost more than
            // reading the file. The value is used on this connection's thread only.
            sqlite3_value *value = sqlite3_column_value(raw, i);
            const int type = sqlite3_value_type(value);
            if (type == SQLITE_NULL) {
                row.nullMask |= 1u << i;
                row.columns[i] = QByteArrayView();
                continue;
            }
            if (type == SQLITE_BLOB)
                row.blobMask |= 1u << i;
            const void *data;
            if (type == SQLITE_BLOB || (utf8 && type == SQLITE_TEXT)) {
                // The bytes in place, without the copy SQLite makes to add a terminator.
                // A blob stays bytes, as the driver reads it, also in a UTF-16 file.
                data = sqlite3_value_blob(value); // null when empty
            } else {
                // A number, or a text to convert, as LIKE would read it.
                data = sqlite3_value_text(value);
                if (!data)
                    return fail(QStringLiteral("out of memory"));
            }
            const int size = sqlite3_value_bytes(value);
            row.columns[i] = data ? QByteArrayView(static_cast<const char *>(data), size)
                                  : QByteArrayView("", 0);
        }
        row.id = sqlite3_column_int64(raw, SearchRow::ColumnCount);
        visit(row);
    }
    if (rc != SQLITE_DONE)
        return fail(QString::fromUtf8(sqlite3_errmsg(db)));
    m_lastError.clear();
    return true;
}
