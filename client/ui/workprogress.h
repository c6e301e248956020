#pragma once

#include <QElapsedTimer>
#include <QProgressDialog>

// The progress of long work on the GUI thread (an import, an export, a PDF): a modal dialog
// shown after a moment, updated and given the events a few times a second rather than per
// item, so that fast work stays fast and the window still repaints and takes a cancel.
class WorkProgress
{
public:
    WorkProgress(QWidget *parent, const QString &label);

    // done of total (any unit); false once the user cancelled.
    bool step(qint64 done, qint64 total);
    bool wasCanceled() const { return m_dialog.wasCanceled(); }
    // Takes the dialog away before a box reports how the work ended.
    void finish();

private:
    QProgressDialog m_dialog;
    QElapsedTimer m_sinceUpdate;
};
