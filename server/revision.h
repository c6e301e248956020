#pragma once

#include <QtGlobal>

// The server's revision counter: how many changes the database has taken since it was last
// reset. Every read-add-write is serialised, so concurrent serving threads lose no increment.
namespace Revision {

quint64 current();
// Adds 1 and returns the new value.
quint64 increment();
// Adds several changes with one write of the store; returns the new value.
quint64 add(quint64 changes);
void reset();

} // namespace Revision
