#include "cardupload.h"

#include "networkrunner.h"

#include <QProgressDialog>

CardUpload::CardUpload(AccountSession *session, NetworkRunner *network, const QList<Contact> &cards,
                       QWidget *window)
    : QObject(window), m_session(session), m_network(network), m_cards(cards), m_window(window)
{
}

void CardUpload::start()
{
    // Checked once: each accepted card then raises both revisions alike.
    m_network->checkRevision(this, [this](bool current) {
        if (!current) {
            deleteLater(); // the runner told the user why
            return;
        }
        // Not modal: a modal one runs the event loop from setValue(), inside the runner's
        // continuation. The runner being busy keeps the changes off meanwhile.
        m_progress = new QProgressDialog(tr("正在导入 vCard..."), tr("取消"), 0,
                                         int(m_cards.size()), m_window);
        m_progress->setObjectName(QStringLiteral("importProgress"));
        m_progress->setMinimumDuration(400);
        m_progress->setAutoClose(false);
        m_progress->setAutoReset(false);
        m_progress->setValue(0);
        sendNext();
    });
}

void CardUpload::sendNext()
{
    using Refusal = AccountSession::Refusal;
    while (m_next < m_cards.size() && m_progress && !m_progress->wasCanceled()) {
        const Contact &card = m_cards.at(m_next++);
        m_progress->setLabelText(tr("正在导入 vCard... %1 / %2").arg(m_next).arg(m_cards.size()));
        m_progress->setValue(int(m_next - 1));
        if (card.name.trimmed().isEmpty()) {
            m_skipped.append({card.name, card.firstName, Refusal::EmptyName});
            continue;
        }
        // Cards stored before this one count too, so a pair twice in the file goes once.
        bool ok = true;
        const bool stored = m_session->contains(card.name, card.firstName, &ok);
        if (!ok)
            return end(tr("数据库出错: %1").arg(m_session->errorString()));
        if (stored) {
            m_skipped.append({card.name, card.firstName, Refusal::Duplicate});
            continue;
        }
        m_network->sendChangeQuietly(
            ServerLink::Exchange::AddContact, card, this,
            [this, card](const ServerLink::Result &answer) { received(card, answer); });
        return;
    }
    end();
}

void CardUpload::received(const Contact &card, const ServerLink::Result &answer)
{
    if (answer.ok()) {
        Contact accepted = card;
        if (!m_session->add(accepted, &answer))
            return end(tr("数据库出错: %1").arg(m_session->errorString()));
        ++m_added;
        return sendNext();
    }
    m_skipped.append({card.name, card.firstName,
                      answer.outcome == ServerLink::Outcome::Refused
                          ? AccountSession::Refusal::ServerRefused
                          : AccountSession::Refusal::NotSent});
    // The server is gone: every card after this one would fail alike.
    if (answer.outcome == ServerLink::Outcome::CannotConnect)
        return end(tr("无法连接到服务器, 导入已中止。已导入 %1 张名片, 其余 %2 张未导入。")
                       .arg(m_added)
                       .arg(m_cards.size() - m_next));
    sendNext();
}

void CardUpload::end(const QString &note)
{
    const bool canceled = !m_progress || m_progress->wasCanceled();
    if (m_progress) {
        m_progress->hide();
        m_progress->deleteLater();
    }
    emit finished(m_added, m_skipped, note, canceled);
    deleteLater();
}
