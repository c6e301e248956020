#pragma once

#include "contact.h"
#include "protocol.h"

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

class DatabaseReplacement;
class QTcpSocket;
namespace Protocol {
class FrameReader;
}

// The client side of every exchange with the server, as a job. Each exchange opens a connection
// of its own, writes one request, reads the reply where the request has one, closes the
// connection and reports finished() with a Result: the reply, a refusal with the server's text,
// or which failure ended it. It runs on the socket's signals, never waits or shows anything; the
// window turns results into its texts and disables what must not start meanwhile. One exchange
// at a time: a start while another runs is refused.
//
// Waits (common/timeouts.h): connecting Timeouts::connectMs(); writing the request and the first
// reply bytes shortStepMs() for the greeting and the farewell, stepMs() for the others; inside a
// reply stepMs() from the last bytes that came. Every reply but the transfer is read whole and
// bounded (Protocol::MaxHeldReplySize); the transfer streams into a temporary file beside the
// account's file and may announce no more than the disk there holds.
//
// The window chains exchanges from its finished() slot, where a new one may start at once:
//   greeting       sendHello(): Ok or Refused; UnexpectedType is told, though a greeting has
//                  always taken any answer as one.
//   farewell       sendGoodbye(): Ok once the request is written; no reply is read.
//   a change       queryRevision(local): Ok with result.revision == local, then addContact(),
//                  editContact() or deleteContact(): Ok, then AccountSession::add/update/remove
//                  with the result, which stores the change and raises the local revision.
//   synchronising  queryRevision(local): Ok with R == local: nothing to do; otherwise
//                  transferDatabase(AccountSession::databasePath()): Ok, then
//                  AccountSession::replaceDatabase(*takeReplacement(), R).
class ServerLink : public QObject
{
    Q_OBJECT
public:
    enum class Exchange {
        None,
        Hello,
        Goodbye,
        RevisionQuery,
        AddContact,
        EditContact,
        DeleteContact,
        DatabaseTransfer
    };
    Q_ENUM(Exchange)

    enum class Outcome {
        Ok,                 // the expected reply came (the farewell: the request was written)
        Refused,            // WrongPassword: refusalText holds the server's text
        CannotConnect,      // refused, unreachable or not connected within the wait
        TimedOut,           // nothing came within a wait; step says which
        ClosedWithoutReply, // the server closed before a byte of the reply
        ReplyCutOff,        // the server closed within the reply (a transfer half-way)
        UnexpectedType,     // a whole reply of another type: reply.type
        ReplyTooLarge,      // the reply announced more than its bound
        MalformedReply,     // the bytes form no reply, or a revision that is no number
        NoDiskSpace,        // a transfer announced more than the disk holds; nothing written
        EmptyDatabase,      // a transfer of no bytes
        NotADatabase,       // the bytes received are no contacts database
        FileError,          // the received bytes could not be written: errorString
    };
    Q_ENUM(Outcome)

    enum class Step { Connect, Write, Reply, ReplyRest };
    Q_ENUM(Step)

    struct Result
    {
        Result() { reply.type = -1; }

        Exchange exchange = Exchange::None;
        Outcome outcome = Outcome::Ok;
        Step step = Step::Connect; // the step the exchange ended in
        // The reply as read (type -1 without one); a transfer's payload is in the replacement.
        Protocol::Message reply;
        QString refusalText;     // Refused: the server's text, 8-bit decoded
        quint64 revision = 0;    // RevisionQuery, Ok: the server's revision
        qint64 payloadSize = -1; // the reply's payload length as announced; -1 before it was
        QString errorString;     // what failed, for the log or a box's detail

        bool ok() const { return outcome == Outcome::Ok; }
    };

    // password: the account's password field text (Accounts::serverPasswordText).
    ServerLink(const QString &host, quint16 port, const QString &password,
               QObject *parent = nullptr);
    ~ServerLink() override;

    // Each starts one exchange and returns at once; false, with nothing started and the reason
    // in errorString(), while another runs. Every started exchange ends in finished().
    bool sendHello();
    bool sendGoodbye();
    bool queryRevision(quint64 localRevision);
    bool addContact(const Contact &contact);
    bool editContact(const Contact &contact); // contact.id names the server's row
    bool deleteContact(const QString &name, const QString &firstName);
    // Streams the server's database into a temporary file beside targetPath, which is never
    // touched; on Ok takeReplacement() hands over that file, written out and checked. The next
    // exchange drops a replacement not taken.
    bool transferDatabase(const QString &targetPath);

    bool isRunning() const { return m_exchange != Exchange::None; }
    Exchange running() const { return m_exchange; }
    Result result() const { return m_result; } // the last finished exchange's
    std::unique_ptr<DatabaseReplacement> takeReplacement();
    QString errorString() const { return m_error; }

    // For tests: the disk's free space a transfer is measured against; negative asks the disk.
    static void setFreeSpaceForTesting(qint64 bytes);

signals:
    // The connection stands; the request is being written.
    void connected();
    // Bytes of the database received so far, of the size the server announced.
    void transferProgress(qint64 received, qint64 total);
    void finished(const ServerLink::Result &result);

private:
    bool start(Exchange exchange, const QByteArray &payload);
    void enter(Step step, int waitMs);
    void onConnected();
    void onBytesWritten();
    void onReadyRead();
    void onClosed();
    void onTimeout();
    void readReply();
    void judgeReply();
    void end(Outcome outcome, const QString &error = QString());
    void report();

    QString m_host;
    quint16 m_port;
    QString m_password;

    Exchange m_exchange = Exchange::None;
    Step m_step = Step::Connect;
    bool m_ending = false;
    QByteArray m_request;
    QTcpSocket *m_socket = nullptr;
    QTimer m_timer;
    std::unique_ptr<Protocol::FrameReader> m_reader;
    std::unique_ptr<DatabaseReplacement> m_replacement;
    qint64 m_freeBytes = -1;
    qint64 m_progress = -1;
    Result m_result;
    QString m_error;
};

Q_DECLARE_METATYPE(ServerLink::Result)
