#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// Asks the maker's update page for the newest build number. The request runs in the
// background and done() reports its end, so the window never waits for the network.
class UpdateCheck : public QObject
{
    Q_OBJECT
public:
    // Checks the default address.
    explicit UpdateCheck(QObject *parent = nullptr);
    explicit UpdateCheck(const QUrl &address, QObject *parent = nullptr);

    QUrl address() const { return m_address; }

    // Starts a check and returns at once; a check already under way is left to finish.
    // It gives up after Timeouts::stepMs(), and on an answer longer than a few KiB.
    void start();
    bool isRunning() const { return !m_reply.isNull(); }
    // The build number of the last answer; 0 when the answer was not a number.
    int build() const { return m_build; }

    // The answer's text up to the first zero byte, read as a decimal number; 0 when it is
    // not one.
    static int parseBuild(const QByteArray &answer);

    // The maker's update page, unless a test pointed checks elsewhere.
    static QUrl defaultAddress();
    // For tests, which answer from 127.0.0.1; an empty address restores the maker's page.
    static void setDefaultAddressForTesting(const QUrl &address);

signals:
    void done(bool error);

private:
    void readAnswer();
    void finished();

    QUrl m_address;
    QNetworkAccessManager *m_network = nullptr;
    QPointer<QNetworkReply> m_reply;
    QTimer m_deadline;
    QByteArray m_answer;
    int m_build = 0;
};
