#include "admission.h"
#include "testhome.h"

#include <QTest>
#include <sys/socket.h>
#include <unistd.h>

// Who makes room when a limit is reached. Each connection is one end of a socket pair; the other
// end sees the connection closed.
class TestAdmission : public QObject
{
    Q_OBJECT
private slots:
    void makesRoom_data()
    {
        QTest::addColumn<int>("total");
        QTest::addColumn<int>("perAddress");
        // Each arrival's address; "!" after it: its request is complete once admitted.
        QTest::addColumn<QStringList>("arrivals");
        // For each arrival: "." served, "x" closed to make room, "-" refused.
        QTest::addColumn<QString>("outcome");
        QTest::newRow("address share: its oldest waiting goes")
            << 10 << 2 << QStringList{"a", "a", "b", "a"} << "x...";
        QTest::newRow("a complete request is never closed")
            << 10 << 2 << QStringList{"a!", "a", "a"} << ".x.";
        QTest::newRow("total: the oldest waiting of any address goes")
            << 3 << 3 << QStringList{"a", "b", "c", "d"} << "x...";
        QTest::newRow("another address's waiting one does not go for a full share")
            << 10 << 1 << QStringList{"b", "a!", "a"} << "..-";
        QTest::newRow("nothing waiting: the newcomer is refused")
            << 2 << 2 << QStringList{"a!", "b!", "c"} << "..-";
    }

    void makesRoom()
    {
        QFETCH(int, total);
        QFETCH(int, perAddress);
        QFETCH(QStringList, arrivals);
        QFETCH(QString, outcome);
        Admission admission(total, perAddress);
        QList<std::pair<int, int>> pairs;
        QList<quint64> tickets;
        for (QString address : arrivals) {
            const bool complete = address.endsWith('!');
            address.remove('!');
            int fds[2];
            QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
            pairs.append({fds[0], fds[1]});
            const quint64 ticket = admission.admit(
                QHostAddress(QStringLiteral("127.0.0.%1").arg(address[0].unicode() - 'a' + 1)),
                fds[0]);
            tickets.append(ticket);
            if (ticket && complete)
                admission.answering(ticket);
        }
        QString seen;
        for (qsizetype i = 0; i < pairs.size(); ++i) {
            char byte;
            const bool closed = ::recv(pairs[i].second, &byte, 1, 0) == 0;
            seen += tickets[i] == 0 ? '-' : closed ? 'x' : '.';
            ::close(pairs[i].first);
            ::close(pairs[i].second);
        }
        QCOMPARE(seen, outcome);
        QCOMPARE(admission.count(), int(outcome.count('.')));
        for (quint64 ticket : std::as_const(tickets))
            admission.release(ticket);
        QCOMPARE(admission.count(), 0);
    }
};

PELICARD_TEST_GUILESS_MAIN(TestAdmission)
#include "tst_admission.moc"
