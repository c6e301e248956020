#pragma once

#include "contact.h"
#include "serverlink.h"

#include <QObject>
#include <QPointer>
#include <QProgressDialog>
#include <functional>
#include <memory>

class DatabaseReplacement;

class AccountSession;
class QMainWindow;

// Runs the window's exchanges with the server of a network account, one at a time, and turns
// each result into its status text or box. Every exchange gets a connection of its own, read
// from the account's keys as it starts. While a sequence runs, busyChanged(true) lets the
// window disable whatever would start another; the window keeps painting meanwhile.
//
// A continuation runs only when its context still exists; on a failure the runner has told the
// user already and the continuation is not called (checkRevision's gets false).
class NetworkRunner : public QObject
{
    Q_OBJECT
public:
    NetworkRunner(AccountSession *session, QMainWindow *window);
    ~NetworkRunner() override;

    bool isBusy() const { return m_link != nullptr; }
    // The busy dialog of the connection attempt and the transfer; null while none shows.
    QProgressDialog *progressDialog() const { return m_progress; }

    void sendHello();
    // Continues once the farewell ended, however it ended.
    void sendGoodbye(QObject *context, const std::function<void()> &done);
    // current: the server's revision equals the local one.
    void checkRevision(QObject *context, const std::function<void(bool current)> &done);
    // The change request alone; accepted is the server's answer for AccountSession.
    void sendChange(ServerLink::Exchange exchange, const Contact &contact, QObject *context,
                    const std::function<void(const ServerLink::Result &accepted)> &done);
    // The same for a caller that sums up many changes itself (an import): no box and no
    // connecting dialog, and done gets every outcome, failures too.
    void sendChangeQuietly(ServerLink::Exchange exchange, const Contact &contact, QObject *context,
                           const std::function<void(const ServerLink::Result &result)> &done);
    // Revision query, then the transfer when they differ, then the file replaced.
    void syncDatabase(QObject *context, const std::function<void()> &done);
    // Drops the running exchange without a word (the program is ending).
    void abort();

signals:
    void busyChanged(bool busy);

private:
    using Finish = std::function<void(const ServerLink::Result &)>;
    // A new link for each exchange, with the busy dialog and status; the link closes its
    // connection when the exchange ends. false while another runs.
    bool connectToServer(const std::function<bool(ServerLink &)> &start, const QString &sending,
                         const Finish &finish, bool quiet = false);
    void change(ServerLink::Exchange exchange, const Contact &contact, QObject *context,
                const std::function<void(const ServerLink::Result &)> &done, bool quiet);
    void onFinished(const ServerLink::Result &result);
    void onProgress(qint64 received, qint64 total);
    void closeProgress();
    void status(const QString &text);
    // The texts every exchange shares; true when the result was one of them.
    bool reportFailure(const ServerLink::Result &result, const QString &notWritten,
                       const QString &refusalTitle = QString());
    void revisionQuery(QObject *context, const std::function<void(bool current, quint64)> &done);
    void transfer(quint64 revision, QObject *context, const std::function<void()> &done);
    void end();

    AccountSession *m_session;
    QMainWindow *m_window;
    ServerLink *m_link = nullptr;
    QPointer<QProgressDialog> m_progress;
    QString m_sending;
    Finish m_finish;
    bool m_chained = false;
    std::unique_ptr<DatabaseReplacement> m_replacement;
};
