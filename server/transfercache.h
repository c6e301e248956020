#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The database file as last read for a transfer. Clients tend to download one after another,
// and in fresh memory every page of a large file costs a fault on its first touch, which took
// longer than sending it; so the bytes are kept while the file stays the same, and their memory
// is read into again once it has changed.
namespace TransferCache {

// The whole file, read while no change is being written; nothing when it cannot be opened.
std::optional<QByteArray> read(const QString &path);
// Called by every change this program makes to a database file.
void invalidate();

} // namespace TransferCache
