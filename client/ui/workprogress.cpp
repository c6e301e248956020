#include "workprogress.h"

#include <QCoreApplication>

namespace {
constexpr int Steps = 1000;      // the bar's range; totals may be bytes beyond an int
constexpr int UpdateMs = 100;    // how often the window gets its events
constexpr int ShowAfterMs = 400; // short work never flashes a dialog
} // namespace

WorkProgress::WorkProgress(QWidget *parent, const QString &label)
    : m_dialog(label, QCoreApplication::translate("WorkProgress", "取消"), 0, Steps, parent)
{
    m_dialog.setObjectName(QStringLiteral("workProgress"));
    m_dialog.setWindowModality(Qt::ApplicationModal);
    m_dialog.setMinimumDuration(ShowAfterMs);
    m_dialog.setAutoReset(false);
    m_dialog.setAutoClose(false);
    m_dialog.setValue(0);
}

bool WorkProgress::step(qint64 done, qint64 total)
{
    // The first step gives the events at once, so a cancel is taken from the first item on.
    if (m_sinceUpdate.isValid() && m_sinceUpdate.elapsed() < UpdateMs)
        return !wasCanceled();
    m_sinceUpdate.start();
    if (total > 0)
        m_dialog.setValue(int(qBound(qint64(0), done * Steps / total, qint64(Steps))));
    QCoreApplication::processEvents();
    return !wasCanceled();
}

void WorkProgress::finish()
{
    m_dialog.reset(); // also stops the timer that would show it later
    m_dialog.hide();
}
