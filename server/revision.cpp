#include "revision.h"

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

quint64 increment()
{
    return add(1);
}

quint64 add(quint64 changes)
{
    QMutexLocker locker(&g_mutex);
    const quint64 next = ServerSettings::revision() + changes;
    ServerSettings::setRevision(next);
    return next;
}

void reset()
{
    QMutexLocker locker(&g_mutex);
    ServerSettings::setRevision(0);
}

} // namespace Revision
