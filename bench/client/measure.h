#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <functional>
#include <vector>

// What both client benchmarks measure with: medians of repeated runs and resident memory.
namespace Measure {

// Runs prepare (untimed) and work (timed) the given number of times; the median in ms.
inline double medianMs(int runs, const std::function<void()> &work,
                       const std::function<void()> &prepare = {})
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        if (prepare)
            prepare();
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// A size line of /proc/self/status ("VmRSS:", "VmHWM:"), -1 where /proc does not tell it.
inline qint64 statusKiB(const QByteArray &key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').first().toLongLong();
    return -1;
}

// The process's resident set, and the highest it has been.
inline qint64 residentKiB()
{
    return statusKiB("VmRSS:");
}
inline qint64 peakKiB()
{
    return statusKiB("VmHWM:");
}

// Settings and databases in a home of the benchmark's own, on the offscreen platform unless
// another is chosen; before the application object exists.
inline void useHome(const QString &home)
{
    qputenv("HOME", home.toUtf8());
    qputenv("XDG_CONFIG_HOME", (home + QStringLiteral("/.config")).toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

} // namespace Measure
