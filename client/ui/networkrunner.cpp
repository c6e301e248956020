#include "networkrunner.h"

#include "accounts.h"
#include "accountsession.h"
#include "databasefile.h"
#include "dialogs.h"
#include "logging.h"

#include <QMainWindow>
#include <QProgressDialog>
#include <QStatusBar>

namespace {
using Exchange = ServerLink::Exchange;
using Outcome = ServerLink::Outcome;

// Progress counts KiB, so that any database fits the dialog's int range.
int kib(qint64 bytes)
{
    return int(qMin<qint64>(bytes / 1024, std::numeric_limits<int>::max()));
}
} // namespace

NetworkRunner::NetworkRunner(AccountSession *session, QMainWindow *window)
    : QObject(window), m_session(session), m_window(window)
{
}

NetworkRunner::~NetworkRunner()
{
    closeProgress();
}

void NetworkRunner::status(const QString &text)
{
    m_window->statusBar()->showMessage(text);
}

bool NetworkRunner::connectToServer(const std::function<bool(ServerLink &)> &start,
                                    const QString &sending, const Finish &finish, bool quiet)
{
    if (m_link)
        return false;
    const QString name = m_session->name();
    m_link = new ServerLink(Accounts::host(name), quint16(Accounts::port(name)),
                            Accounts::serverPasswordText(name), this);
    m_sending = sending;
    m_finish = finish;
    connect(m_link, &ServerLink::connected, this, [this] {
        closeProgress();
        status(tr("连接成功"));
        if (!m_sending.isEmpty())
            status(m_sending);
    });
    connect(m_link, &ServerLink::finished, this, &NetworkRunner::onFinished);
    connect(m_link, &ServerLink::transferProgress, this, &NetworkRunner::onProgress);

    if (!quiet) {
        // Window-modal: input waits, painting goes on. Its button does not stop the attempt.
        m_progress = new QProgressDialog(tr("正在连接服务器..."), tr("请稍等"), 0, 0, m_window);
        m_progress->setObjectName(QStringLiteral("connectProgressDialog"));
        m_progress->setWindowModality(Qt::WindowModal);
        m_progress->setMinimumDuration(0);
        m_progress->setAutoClose(false);
        m_progress->setAutoReset(false);
        disconnect(m_progress, &QProgressDialog::canceled, m_progress, &QProgressDialog::cancel);
        m_progress->show();
    }
    status(tr("正在连接服务器..."));
    if (!m_chained)
        emit busyChanged(true);
    if (!start(*m_link)) {
        // Only while another exchange runs, which m_link rules out.
        qCWarning(lcNet) << "exchange not started:" << m_link->errorString();
    }
    return true;
}

void NetworkRunner::onFinished(const ServerLink::Result &result)
{
    ServerLink *done = m_link;
    m_link = nullptr;
    m_replacement = done->takeReplacement();
    done->deleteLater();
    closeProgress();
    const Finish finish = std::move(m_finish);
    m_finish = nullptr;
    m_chained = true;
    if (finish)
        finish(result);
    m_chained = false;
    if (!m_link)
        end();
}

void NetworkRunner::end()
{
    emit busyChanged(false);
}

void NetworkRunner::onProgress(qint64 received, qint64 total)
{
    if (!m_progress) {
        m_progress = new QProgressDialog(m_window);
        m_progress->setObjectName(QStringLiteral("transferProgressDialog"));
        // Not modal: a modal one runs the event loop from setValue(), inside the link's read.
        // The actions that could start another exchange are off meanwhile.
        m_progress->setMinimumDuration(0);
        m_progress->setAutoClose(false);
        m_progress->setAutoReset(false);
        m_progress->setCancelButton(nullptr);
        m_progress->setLabelText(tr("正在同步数据库..."));
        m_progress->show();
    }
    m_progress->setMaximum(kib(total));
    m_progress->setValue(kib(received));
}

void NetworkRunner::closeProgress()
{
    if (m_progress) {
        m_progress->hide();
        m_progress->deleteLater();
        m_progress = nullptr;
    }
}

void NetworkRunner::abort()
{
    if (!m_link)
        return;
    m_link->disconnect(this);
    delete m_link;
    m_link = nullptr;
    m_finish = nullptr;
    closeProgress();
    end();
}

bool NetworkRunner::reportFailure(const ServerLink::Result &result, const QString &notWritten,
                                  const QString &refusalTitle)
{
    Dialogs &dialogs = Dialogs::instance();
    const qint64 size = result.payloadSize;
    switch (result.outcome) {
    case Outcome::Ok:
        return false;
    case Outcome::CannotConnect:
        dialogs.critical(
            m_window, tr("连接错误"),
            tr("无法连接到服务器 请确认服务器在运行并且您的电脑和服务器之间的网络是畅通的"));
        status(tr("连接错误")); // no longer "connecting"
        break;
    case Outcome::Refused:
        dialogs.critical(m_window, refusalTitle.isEmpty() ? tr("出错") : refusalTitle,
                         result.refusalText);
        status(tr("出错!"));
        break;
    case Outcome::TimedOut:
        status(result.step == ServerLink::Step::Write || result.step == ServerLink::Step::Connect
                   ? notWritten
                   : tr("服务器没有及时应答, 未作任何修改!"));
        break;
    case Outcome::ClosedWithoutReply:
        status(tr("服务器关闭了连接, 没有应答, 未作任何修改!"));
        break;
    case Outcome::ReplyCutOff:
        status(tr("服务器的应答不完整, 未作任何修改!"));
        break;
    case Outcome::UnexpectedType:
        status(tr("请求类型错误!"));
        break;
    case Outcome::ReplyTooLarge:
    case Outcome::MalformedReply:
        status(tr("服务器的应答无法识别, 未作任何修改!"));
        break;
    case Outcome::EmptyDatabase:
        dialogs.critical(m_window, tr("数据库不可用"), tr("无法从服务器上获取数据库!"));
        break;
    case Outcome::NotADatabase:
        dialogs.critical(m_window, tr("数据库不可用"), tr("服务器发来的不是联系人数据库!"));
        break;
    case Outcome::NoDiskSpace:
        dialogs.critical(m_window, tr("文件错误"),
                         tr("磁盘空间不足!\n接收到数据库大小: %1").arg(size));
        break;
    case Outcome::FileError:
        dialogs.critical(m_window, tr("文件错误"),
                         tr("无法写数据库文件!\n接收到数据库大小: %1").arg(size) + u'\n' +
                             result.errorString);
        break;
    }
    qCInfo(lcNet) << result.exchange << result.outcome << result.step << result.errorString;
    return true;
}

void NetworkRunner::sendHello()
{
    connectToServer([](ServerLink &link) { return link.sendHello(); },
                    tr("正在向服务器发送问候请求..."),
                    [this](const ServerLink::Result &result) {
                        // A refusal is shown, and the server still answered.
                        if (result.outcome == Outcome::Refused) {
                            Dialogs::instance().critical(m_window, tr("出错"), result.refusalText);
                            status(tr("服务器在线!"));
                            return;
                        }
                        if (result.outcome == Outcome::UnexpectedType || result.ok()) {
                            status(tr("服务器在线!"));
                            return;
                        }
                        reportFailure(result, tr("服务器拒绝了问候请求!"));
                    });
}

void NetworkRunner::sendGoodbye(QObject *context, const std::function<void()> &done)
{
    QPointer<QObject> guard(context);
    connectToServer([](ServerLink &link) { return link.sendGoodbye(); },
                    tr("正在向服务器发送告别请求..."),
                    [this, guard, done](const ServerLink::Result &result) {
                        if (result.ok())
                            status(tr("连接关闭!"));
                        else
                            reportFailure(result, tr("服务器拒绝了告别请求!"));
                        if (guard)
                            done();
                    });
}

void NetworkRunner::revisionQuery(QObject *context, const std::function<void(bool, quint64)> &done)
{
    QPointer<QObject> guard(context);
    const quint64 local = m_session->localRevision();
    const bool started = connectToServer(
        [local](ServerLink &link) { return link.queryRevision(local); },
        tr("正在向服务器发送版本请求..."),
        [this, guard, done](const ServerLink::Result &result) {
            if (reportFailure(result, tr("服务器拒绝了版本请求!")))
                return;
            if (guard)
                done(result.revision == m_session->localRevision(), result.revision);
        });
    if (!started)
        qCWarning(lcNet) << "revision query while another exchange runs";
}

void NetworkRunner::checkRevision(QObject *context, const std::function<void(bool)> &done)
{
    revisionQuery(context, [this, done](bool current, quint64) {
        if (current) {
            status(tr("数据库已经更新到最新!"));
        } else {
            Dialogs::instance().warning(m_window, tr("数据库不是最新的"),
                                        tr("数据库不是最新的! 请和服务器同步联系人信息"));
        }
        done(current);
    });
}

void NetworkRunner::sendChange(Exchange exchange, const Contact &contact, QObject *context,
                               const std::function<void(const ServerLink::Result &)> &done)
{
    change(exchange, contact, context, done, false);
}

void NetworkRunner::sendChangeQuietly(Exchange exchange, const Contact &contact, QObject *context,
                                      const std::function<void(const ServerLink::Result &)> &done)
{
    change(exchange, contact, context, done, true);
}

void NetworkRunner::change(Exchange exchange, const Contact &contact, QObject *context,
                           const std::function<void(const ServerLink::Result &)> &done, bool quiet)
{
    QPointer<QObject> guard(context);
    QString first, sending, notWritten, accepted, refusalTitle;
    std::function<bool(ServerLink &)> start;
    switch (exchange) {
    case Exchange::AddContact:
        first = tr("正在向服务器发送新建联系人请求...");
        sending = tr("正在向服务器发送新建请求...");
        notWritten = tr("服务器拒绝了新建请求!");
        accepted = tr("联系人新建完成!");
        start = [contact](ServerLink &link) { return link.addContact(contact); };
        break;
    case Exchange::EditContact:
        first = tr("正在将修改过的联系人信息发往服务器...");
        sending = tr("正在向服务器发送修改请求...");
        notWritten = tr("服务器拒绝了修改请求!");
        accepted = tr("联系人信息修改完成!");
        start = [contact](ServerLink &link) { return link.editContact(contact); };
        break;
    case Exchange::DeleteContact:
        sending = tr("正在向服务器发送删除请求...");
        notWritten = tr("服务器拒绝了删除请求!");
        accepted = tr("联系人删除成功!");
        refusalTitle = tr("错误");
        start = [contact](ServerLink &link) {
            return link.deleteContact(contact.name, contact.firstName);
        };
        break;
    default:
        return;
    }
    connectToServer(
        [this, first, start](ServerLink &link) {
            if (!first.isEmpty())
                status(first);
            return start(link);
        },
        sending,
        [this, guard, done, notWritten, accepted, refusalTitle,
         quiet](const ServerLink::Result &result) {
            if (quiet && !result.ok()) {
                qCInfo(lcNet) << result.exchange << result.outcome << result.step
                              << result.errorString;
            } else if (reportFailure(result, notWritten, refusalTitle)) {
                return;
            } else {
                status(accepted);
            }
            if (guard)
                done(result);
        },
        quiet);
}

void NetworkRunner::syncDatabase(QObject *context, const std::function<void()> &done)
{
    QPointer<QObject> guard(context);
    revisionQuery(this, [this, guard, done](bool current, quint64 revision) {
        if (current) {
            status(tr("数据库已经更新到最新!"));
            return;
        }
        transfer(revision, guard, done);
    });
}

void NetworkRunner::transfer(quint64 revision, QObject *context, const std::function<void()> &done)
{
    QPointer<QObject> guard(context);
    const QString target = m_session->databasePath();
    connectToServer(
        [target](ServerLink &link) { return link.transferDatabase(target); },
        tr("正在同步数据库..."),
        [this, guard, done, revision](const ServerLink::Result &result) {
            if (reportFailure(result, tr("服务器拒绝了同步请求!")))
                return;
            const std::unique_ptr<DatabaseReplacement> replacement = std::move(m_replacement);
            if (!replacement || !m_session->replaceDatabase(*replacement, revision)) {
                Dialogs::instance().critical(m_window, tr("文件错误"), m_session->errorString());
                return;
            }
            if (guard)
                done();
            status(tr("数据库同步完成!"));
        });
}
