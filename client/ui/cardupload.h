#pragma once

#include "accountsession.h"
#include "contact.h"

#include <QList>
#include <QObject>
#include <QPointer>

class NetworkRunner;
class QProgressDialog;
class QWidget;

// Imported cards on their way into a network account: after one revision check, each card goes
// to the server on its own, one after another, and is stored once the server accepted it. The
// job shows its progress, may be cancelled between cards, and deletes itself when it ends.
class CardUpload : public QObject
{
    Q_OBJECT
public:
    CardUpload(AccountSession *session, NetworkRunner *network, const QList<Contact> &cards,
               QWidget *window);

    void start();

signals:
    // note says why the upload stopped early; empty when it ran through or was cancelled.
    void finished(int added, const QList<AccountSession::Skipped> &skipped, const QString &note,
                  bool canceled);

private:
    void sendNext();
    void received(const Contact &card, const ServerLink::Result &answer);
    void end(const QString &note = QString());

    AccountSession *m_session;
    NetworkRunner *m_network;
    QList<Contact> m_cards;
    QWidget *m_window;
    qsizetype m_next = 0; // the card to send next
    int m_added = 0;
    QList<AccountSession::Skipped> m_skipped;
    QPointer<QProgressDialog> m_progress;
};
