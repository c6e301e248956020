#pragma once

#include "contact.h"

#include <QString>

// Made-up but lifelike contacts for benchmarks and tests. The same index always gives the
// same contact, on every machine. Chinese and Latin names are mixed; about one contact in
// twenty keeps the whole Chinese name in the name field and has an empty given name; some
// given names hold a space. customCount equals the number of filled custom pairs and the
// unused pairs are empty texts. Every text is non-null; id stays -1.
//
// The (name, firstName) pairs of indexes below UniquePairs are all distinct, so a database
// of that many contacts passes the add check of the client.
namespace ContactGenerator {

constexpr quint32 UniquePairs = 100000;

Contact make(quint32 index);

// Creates a new database file holding the contacts 0..count-1 in index order (so a contact's
// row id is its index + 1). Refuses a path that already exists; on failure nothing is left
// behind and *error says why.
bool writeDatabase(const QString &path, int count, QString *error = nullptr);

} // namespace ContactGenerator
