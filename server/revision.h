#pragma once

#include <QtGlobal>
#include <functional>

// The server's revision counter: how many changes the database has taken since it was last
// reset. Every read-add-write is serialised, so concurrent serving threads lose no increment.
namespace Revision {

quint64 current();

enum class Failure { None, Store, Apply };
// Adds several changes and runs apply (the commit that stores them), both or neither: the counter
// is written first and put back when apply fails, and readers wait meanwhile. So no client ever
// reads a revision whose changes are not stored, nor misses stored changes under an old one.
// *value gets the new counter.
Failure add(quint64 changes, const std::function<bool()> &apply = nullptr,
            quint64 *value = nullptr);
bool increment();
bool reset();

} // namespace Revision
