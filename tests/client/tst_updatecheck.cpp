#include "httpresponder.h"
#include "links.h"
#include "testhome.h"
#include "timeouts.h"
#include "updatecheck.h"

#include <QSignalSpy>

class TestUpdateCheck : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { Timeouts::setForTesting(0, 0, 0); }

    // Our users' checks must never reach a domain we do not own.
    void defaultAddressIsOnTheMakersReservedHost()
    {
        const QUrl page = UpdateCheck().address();
        QCOMPARE(page.scheme(), QStringLiteral("http"));
        QCOMPARE(page.host(), QLatin1String(Links::WebSite));
        QVERIFY(page.host().endsWith(QLatin1String(".example")));
        QCOMPARE(page.path(), QStringLiteral("/products/pelicard/update/"));

        const QUrl local(QStringLiteral("http://127.0.0.1:1/update"));
        UpdateCheck::setDefaultAddressForTesting(local);
        QCOMPARE(UpdateCheck().address(), local);
        UpdateCheck::setDefaultAddressForTesting(QUrl());
        QCOMPARE(UpdateCheck().address(), page);
    }

    void answer_data()
    {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("error");
        QTest::addColumn<int>("build");
        QTest::newRow("newer") << QByteArray("200 OK") << QByteArray("4") << false << 4;
        QTest::newRow("not a number") << QByteArray("200 OK") << QByteArray("4abc") << false << 0;
        QTest::newRow("line end") << QByteArray("200 OK") << QByteArray("12\r\n") << false << 12;
        QTest::newRow("cut at zero byte")
            << QByteArray("200 OK") << QByteArray("5\0abc", 5) << false << 5;
        QTest::newRow("http error") << QByteArray("404 Not Found") << QByteArray("4") << true << 0;
    }

    void answer()
    {
        QFETCH(QByteArray, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, error);
        QFETCH(int, build);
        HttpResponder responder;
        responder.status = status;
        responder.body = body;
        UpdateCheck check(responder.url(QStringLiteral("/update/")));
        QSignalSpy done(&check, &UpdateCheck::done);
        check.start();
        // Returns at once: the answer comes later.
        QVERIFY(check.isRunning());
        QCOMPARE(done.count(), 0);
        QVERIFY(done.wait());
        QCOMPARE(done.count(), 1);
        QCOMPARE(done.at(0).at(0).toBool(), error);
        QCOMPARE(check.build(), build);
        QVERIFY(!check.isRunning());
        QCOMPARE(responder.requests, QStringList{"GET /update/ HTTP/1.1"});
    }

    void silentServerTimesOut()
    {
        Timeouts::setForTesting(0, 0, 100);
        HttpResponder responder;
        responder.silent = true;
        UpdateCheck check(responder.url());
        QSignalSpy done(&check, &UpdateCheck::done);
        check.start();
        check.start(); // still under way: no second request
        QVERIFY(done.wait(2000));
        QCOMPARE(done.count(), 1);
        QCOMPARE(done.at(0).at(0).toBool(), true);
        QCOMPARE(responder.requests.size(), 1);
    }
};

PELICARD_TEST_GUILESS_MAIN(TestUpdateCheck)
#include "tst_updatecheck.moc"
