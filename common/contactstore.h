#pragma once

#include "contact.h"

#include <QByteArrayView>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringDecoder>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

class QSqlQuery;

// Every SQL statement on a contacts database, each value bound. Works on a connection that
// the caller has opened; it never opens, closes or shares one itself (createDatabase aside).
class ContactStore
{
public:
    using NamePair = std::pair<QString, QString>; // (name, firstName)

    static const QString CreateTableSql;
    static const QString CreateIndexSql;

    explicit ContactStore(const QSqlDatabase &db) : m_db(db) {}

    // Creates a new database file: the table, then the index, on a connection of its own.
    // Returns false with the driver's error text when the file cannot be opened or holds
    // something other than a database (which is left as it was).
    static bool createDatabase(const QString &path, QString *error = nullptr);
    // The table and the index on an open connection; on an existing database both fail
    // without effect.
    static void createSchema(QSqlDatabase &db);

    std::optional<Contact> find(const QString &name, const QString &firstName) const; // first row
    std::optional<Contact> findById(qint64 id) const;
    // The ids of every row with the pair, as the delete by pair would remove them.
    QList<qint64> idsOf(const QString &name, const QString &firstName) const;
    // Stores a new row; *id receives the row id SQLite gave it.
    bool insert(const Contact &contact, qint64 *id = nullptr);
    bool update(quint64 id, const Contact &contact);
    bool remove(const QString &name, const QString &firstName); // every row with that pair
    QList<NamePair> names() const;                              // sorted by name, firstName
    QList<Contact> all() const;                                 // sorted by name, firstName
    // Every row one of whose 23 text columns contains the text; "%" and "_" act as
    // wildcards and ASCII letters match without regard to case.
    QList<Contact> search(const QString &text) const;

    // Whether the connection holds a contacts table; false with the reason in lastError() for
    // a file that is no database or holds no such table.
    bool hasContactsTable() const;

    // The 23 columns the search looks at (name .. notes, then each custom label and value) and
    // the id of one row, as SQLite's own UTF-8 text: what its LIKE compares (a blob as its
    // bytes). The views are valid during the callback only.
    struct SearchRow
    {
        static constexpr int ColumnCount = 23;
        qint64 id = -1;
        std::array<QByteArrayView, ColumnCount> columns;
        quint32 nullMask = 0; // bit i set: column i is NULL (its view is empty)
        quint32 blobMask = 0; // bit i set: column i holds a blob (the driver reads bytes)
        // In a UTF-16 file only: name and firstName texts as stored, which the driver shows
        // and the conversion to UTF-8 may not keep (an unpaired surrogate). Null otherwise.
        std::array<QString, 2> storedNames;
    };
    // Every row in table order, without a QVariant or QString per value: the in-memory index
    // reads a whole account this way. false with lastError() when the statement fails, also
    // after some rows were visited, or when the connection is not an open SQLite one.
    bool forEachSearchRow(const std::function<void(const SearchRow &)> &visit) const;
    // Whether the file keeps its texts as UTF-16, as only files made elsewhere do.
    bool storesUtf16() const;
    // Whether LIKE compares a blob as text; builds such as Debian's never let a blob match.
    static bool likeMatchesBlobs();

    // Reads stored bytes (a text of a UTF-8 file, or a blob) as the store's reads give them:
    // UTF-8 with a leading U+FEFF kept, anything ill-formed as U+FFFD.
    static QStringDecoder bytesDecoder();

    QString lastError() const { return m_lastError; }

    // Many new rows in a row, as an import inside one transaction adds them: the pair check
    // and the insert are each prepared once. Failures go to the store's lastError().
    class Inserter
    {
    public:
        explicit Inserter(const ContactStore &store);
        ~Inserter();
        // Whether a row with the pair is stored; nullopt when the check failed.
        std::optional<bool> contains(const QString &name, const QString &firstName);
        bool insert(const Contact &contact, qint64 *id = nullptr);

    private:
        const ContactStore &m_store;
        std::unique_ptr<QSqlQuery> m_find;
        std::unique_ptr<QSqlQuery> m_insert;
    };

private:
    bool exec(QSqlQuery &query) const;
    QList<Contact> readAll(QSqlQuery &query) const;

    QSqlDatabase m_db;
    mutable QString m_lastError;
};
