#include "updatecheck.h"

#include "links.h"
#include "logging.h"
#include "passwords.h"
#include "timeouts.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {
QUrl g_testAddress;
// A build number takes a few bytes; an answer longer than this is no answer of ours.
constexpr qint64 MaxAnswerBytes = 4 * 1024;
} // namespace

UpdateCheck::UpdateCheck(QObject *parent) : UpdateCheck(defaultAddress(), parent) {}

UpdateCheck::UpdateCheck(const QUrl &address, QObject *parent)
    : QObject(parent), m_address(address), m_network(new QNetworkAccessManager(this))
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        qCDebug(lcNet) << "update check timed out";
        if (m_reply)
            m_reply->abort(); // ends in finished() with an error
    });
}

QUrl UpdateCheck::defaultAddress()
{
    return g_testAddress.isEmpty() ? Links::webPage(Links::UpdatePath) : g_testAddress;
}

void UpdateCheck::setDefaultAddressForTesting(const QUrl &address)
{
    g_testAddress = address;
}

void UpdateCheck::start()
{
    if (m_reply)
        return;
    m_build = 0;
    m_answer.clear();
    m_reply = m_network->get(QNetworkRequest(m_address));
    // Bounded from the first byte: the reply itself buffers no more than a little past it.
    m_reply->setReadBufferSize(MaxAnswerBytes + 1);
    connect(m_reply, &QNetworkReply::readyRead, this, &UpdateCheck::readAnswer);
    connect(m_reply, &QNetworkReply::finished, this, &UpdateCheck::finished);
    m_deadline.start(Timeouts::stepMs());
}

void UpdateCheck::readAnswer()
{
    m_answer += m_reply->read(MaxAnswerBytes + 1 - m_answer.size());
    if (m_answer.size() > MaxAnswerBytes) {
        qCDebug(lcNet) << "update answer longer than" << MaxAnswerBytes << "bytes";
        m_reply->abort(); // ends in finished() with an error
    }
}

void UpdateCheck::finished()
{
    m_deadline.stop();
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    reply->deleteLater();
    m_answer += reply->read(MaxAnswerBytes + 1 - m_answer.size());
    const bool error = reply->error() != QNetworkReply::NoError || m_answer.size() > MaxAnswerBytes;
    if (error)
        qCDebug(lcNet) << "update check failed:" << reply->errorString();
    else
        m_build = parseBuild(m_answer);
    emit done(error);
}

int UpdateCheck::parseBuild(const QByteArray &answer)
{
    bool ok = false;
    const int build = Passwords::fromEightBit(answer).toInt(&ok, 10);
    return ok ? build : 0;
}
