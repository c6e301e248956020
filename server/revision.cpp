#include "revision.h"

#include "logging.h"
#include "serversettings.h"

#include <QMutex>

namespace Revision {

namespace {
QMutex g_mutex;
} // namespace

quint64 current()
{
    QMutexLocker locker(&g_mutex);
    return ServerSettings::revision();
}

Failure add(quint64 changes, const std::function<bool()> &apply, quint64 *value)
{
    QMutexLocker locker(&g_mutex);
    const quint64 old = ServerSettings::revision();
    if (!ServerSettings::setRevision(old + changes))
        return Failure::Store;
    if (apply && !apply()) {
        // Should this fail too, the counter only counts changes that are not there: clients
        // then fetch a database they already have, which costs time but loses nothing.
        if (!ServerSettings::setRevision(old))
            qCWarning(lcDb) << "revision left at" << old + changes << "for changes not stored";
        return Failure::Apply;
    }
    if (value)
        *value = old + changes;
    return Failure::None;
}

bool increment()
{
    return add(1) == Failure::None;
}

bool reset()
{
    QMutexLocker locker(&g_mutex);
    return ServerSettings::setRevision(0);
}

} // namespace Revision
