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

// The process's resident set, -1 where /proc does not tell it.
inline qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

} // namespace Measure
