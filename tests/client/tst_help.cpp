#include "aboutdialog.h"
#include "clienttest.h"
#include "httpresponder.h"
#include "timeouts.h"
#include "windownotifier.h"

#include <QLabel>
#include <QStatusBar>

using namespace ClientTest;

namespace {

const QString Pages = QStringLiteral("http://www.pelicard.example/products/pelicard/");

QString statusText(const MainWindow &w)
{
    return w.statusBar()->currentMessage();
}

} // namespace

class TestHelp : public QObject
{
    Q_OBJECT

    ScriptedDialogs m_dialogs;
    UrlRecorder m_opened;

private slots:
    void initTestCase()
    {
        // A silent server is given up on soon, yet an answer has room on a busy machine.
        Timeouts::setForTesting(0, 0, 2000);
    }

    void cleanupTestCase()
    {
        UpdateCheck::setDefaultAddressForTesting(QUrl());
        Timeouts::setForTesting(0, 0, 0);
    }

    void init()
    {
        resetStore();
        addAccount(QStringLiteral("甲"));
        QVERIFY(Accounts::setCurrent(QStringLiteral("甲")));
        m_dialogs.shown.clear();
        m_opened.urls.clear();
    }

    // The check that runs at start-up, with every way it can end.
    void updateCheckAtStartUp_data()
    {
        QTest::addColumn<QByteArray>("status"); // "refused" or "silent": no answer at all
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QMessageBox::StandardButton>("answer");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("opened");
        QTest::addColumn<bool>("atStartUp"); // otherwise only the menu entry checks

        const QString none = QStringLiteral("没有软件更新!");
        const QString failed = QStringLiteral("检查更新时有错误产生...");
        const QString download = Pages + "download/";
        const QString fetch = "从 " + download + " 下载最新版本";
        auto row = [](const char *name, const char *status, const QByteArray &body,
                      QMessageBox::StandardButton answer, const QString &text,
                      const QStringList &opened = {}, bool atStartUp = true) {
            QTest::newRow(name) << QByteArray(status) << body << answer << text << opened
                                << atStartUp;
        };
        row("same build", "200 OK", "3", QMessageBox::Yes, none);
        row("older build", "200 OK", "2", QMessageBox::Yes, none);
        row("newer, yes", "200 OK", "4", QMessageBox::Yes, fetch, {download});
        row("newer, no", "200 OK", "4", QMessageBox::No, fetch);
        row("not a number", "200 OK", "4abc", QMessageBox::Yes, none);
        row("line end", "200 OK", "12\r\n", QMessageBox::No, fetch);
        row("cut at zero byte", "200 OK", QByteArray("5\0abc", 5), QMessageBox::No, fetch);
        row("too long", "200 OK", "5" + QByteArray(8 * 1024, '\0'), QMessageBox::Yes, failed);
        row("http error", "500 Internal Server Error", "4", QMessageBox::Yes, failed);
        row("refused", "refused", "", QMessageBox::Yes, failed);
        row("never answers", "silent", "", QMessageBox::Yes, failed);
        row("switched off", "200 OK", "3", QMessageBox::Yes, none, {}, false);
    }

    void updateCheckAtStartUp()
    {
        QFETCH(QByteArray, status);
        QFETCH(QByteArray, body);
        QFETCH(QMessageBox::StandardButton, answer);
        QFETCH(QString, text);
        QFETCH(QStringList, opened);
        QFETCH(bool, atStartUp);
        QVERIFY(Accounts::setCheckUpdates(atStartUp));
        HttpResponder responder;
        responder.status = status;
        responder.body = body;
        responder.silent = status == "silent";
        UpdateCheck::setDefaultAddressForTesting(status == "refused" ? responder.refusingUrl()
                                                                     : responder.url());
        m_dialogs.answers = {answer};

        MainWindow w;
        QCOMPARE(w.updateCheck()->isRunning(), atStartUp);
        QCOMPARE(statusText(w), QStringLiteral("就绪"));
        QSignalSpy done(w.updateCheck(), &UpdateCheck::done);
        find(&w, "updateAction")->trigger(); // while one is under way, no second request
        QVERIFY(done.wait(20000));
        QCOMPARE(statusText(w), text);
        // The question comes exactly when the download text does.
        const QStringList question{
            "question|澄岚联系人管理器更新|有新版本更新!\n您要下载新版本吗?"};
        QCOMPARE(boxes(m_dialogs), text.startsWith("从 ") ? question : QStringList());
        QCOMPARE(m_opened.urls, opened);
        QCOMPARE(responder.requests, status == "refused"
                                         ? QStringList()
                                         : QStringList{"GET /products/pelicard/update/ HTTP/1.1"});
    }

    // Our users' requests must never reach a domain we do not own: ".example" is reserved.
    void helpEntriesOpenTheirPages()
    {
        UpdateCheck::setDefaultAddressForTesting(QUrl());
        QCOMPARE(UpdateCheck().address().toString(), Pages + "update/");
        QVERIFY(Accounts::setCheckUpdates(false));
        MainWindow w;
        for (const char *entry :
             {"documentationAction", "reportBugAction", "askAction", "featureRequestAction"})
            find(&w, entry)->trigger();
        QCOMPARE(m_opened.urls, (QStringList{Pages + "doc/", Pages + "postbug/", Pages + "ask/",
                                             Pages + "featurerequest/"}));
        QVERIFY(m_dialogs.shown.isEmpty());
    }

    void aboutShowsTheVersion()
    {
        QVERIFY(Accounts::setCheckUpdates(false));
        MainWindow w;
        QString text;
        bool ownedAndModal = false;
        QPointer<QWidget> dialog;
        QTimer::singleShot(0, this, [&] {
            dialog = QApplication::activeModalWidget();
            if (auto *about = qobject_cast<AboutDialog *>(dialog.data())) {
                text = find<QLabel>(about, "mainLabel")->text();
                ownedAndModal =
                    about->parentWidget() == &w && about->windowModality() == Qt::ApplicationModal;
                click(about, "closeButton");
            } else if (dialog) {
                dialog->close(); // the modal loop must end in any case
            }
        });
        find(&w, "aboutAction")->trigger();
        QVERIFY2(text.contains(QStringLiteral("版本: 1.000")), qPrintable(text));
        QVERIFY(ownedAndModal);
        QVERIFY(dialog.isNull()); // destroyed once closed
    }

    // No composition interface here (nor on any system without "dwmapi").
    void blurBackgroundWithoutCompositionOpensTheWindowNormally()
    {
        QVERIFY(Accounts::setCheckUpdates(false));
        QVERIFY(Accounts::setBlurBackground(true));
        MainWindow w;
        w.setContentsMargins(1, 2, 3, 4);
        QVERIFY(!Composition::applyTranslucentBackground(&w));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(!w.testAttribute(Qt::WA_TranslucentBackground));
        QCOMPARE(w.contentsMargins(), QMargins(1, 2, 3, 4));
    }
};

PELICARD_TEST_MAIN(TestHelp)
#include "tst_help.moc"
