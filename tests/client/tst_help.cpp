#include "aboutdialog.h"
#include "clienttest.h"
#include "httpresponder.h"
#include "links.h"
#include "mainwindow.h"
#include "timeouts.h"
#include "updatecheck.h"
#include "windownotifier.h"

#include <QDesktopServices>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTabWidget>

using namespace ClientTest;

namespace {

// Takes the addresses the program opens instead of a browser.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

QUrl makersPage(const QString &path)
{
    return QUrl(QStringLiteral("http://") + QLatin1String(Links::WebSite) + path);
}

QString statusText(const MainWindow &w)
{
    return w.statusBar()->currentMessage();
}

} // namespace

class TestHelp : public QObject
{
    Q_OBJECT

    ScriptedDialogs m_dialogs;
    UrlCatcher m_opened;

private slots:
    void initTestCase()
    {
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &m_opened, "open");
        Timeouts::setForTesting(0, 0, 100);
    }

    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        UpdateCheck::setDefaultAddressForTesting(QUrl());
        Timeouts::setForTesting(0, 0, 0);
    }

    void init()
    {
        resetStore();
        addAccount(QStringLiteral("甲"));
        Accounts::setCurrent(QStringLiteral("甲"));
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
        QTest::addColumn<bool>("asked");
        QTest::addColumn<QList<QUrl>>("opened");

        const QString none = QStringLiteral("没有软件更新!");
        const QString failed = QStringLiteral("检查更新时有错误产生...");
        const QUrl download = makersPage(QStringLiteral("/products/pelicard/download/"));
        const QString fetch = QStringLiteral("从 ") + download.toString() + " 下载最新版本";
        // The question comes exactly when the download text does.
        auto row = [&](const char *name, const char *status, const char *body,
                       QMessageBox::StandardButton answer, const QString &text,
                       const QList<QUrl> &opened = {}) {
            QTest::newRow(name) << QByteArray(status) << QByteArray(body) << answer << text
                                << (text == fetch) << opened;
        };
        row("same build", "200 OK", "3", QMessageBox::Yes, none);
        row("older build", "200 OK", "2", QMessageBox::Yes, none);
        row("newer, yes", "200 OK", "4", QMessageBox::Yes, fetch, {download});
        row("newer, no", "200 OK", "4", QMessageBox::No, fetch);
        row("not a number", "200 OK", "4abc", QMessageBox::Yes, none);
        row("http error", "500 Internal Server Error", "4", QMessageBox::Yes, failed);
        row("refused", "refused", "", QMessageBox::Yes, failed);
        row("never answers", "silent", "", QMessageBox::Yes, failed);
    }

    void updateCheckAtStartUp()
    {
        QFETCH(QByteArray, status);
        QFETCH(QByteArray, body);
        QFETCH(QMessageBox::StandardButton, answer);
        QFETCH(QString, text);
        QFETCH(bool, asked);
        QFETCH(QList<QUrl>, opened);
        HttpResponder responder;
        responder.status = status;
        responder.body = body;
        responder.silent = status == "silent";
        UpdateCheck::setDefaultAddressForTesting(status == "refused" ? responder.refusingUrl()
                                                                     : responder.url());
        m_dialogs.answers = {answer};

        MainWindow w;
        QSignalSpy done(w.updateCheck(), &UpdateCheck::done);
        QVERIFY(done.wait());
        QCOMPARE(statusText(w), text);
        const QStringList question{
            "question|澄岚联系人管理器更新|有新版本更新!\n您要下载新版本吗?"};
        QCOMPARE(boxes(m_dialogs), asked ? question : QStringList());
        QCOMPARE(m_opened.urls, opened);
    }

    void noCheckAtStartUpWhenSwitchedOffButTheEntryChecks()
    {
        HttpResponder responder;
        responder.body = "3";
        UpdateCheck::setDefaultAddressForTesting(responder.url());
        Accounts::setCheckUpdates(false);

        MainWindow w;
        QVERIFY(!w.updateCheck()->isRunning());
        QCOMPARE(statusText(w), QStringLiteral("就绪"));

        QSignalSpy done(w.updateCheck(), &UpdateCheck::done);
        find(&w, "updateAction")->trigger();
        QVERIFY(done.wait());
        QCOMPARE(statusText(w), QStringLiteral("没有软件更新!"));
        QCOMPARE(responder.requests, QStringList{"GET /products/pelicard/update/ HTTP/1.1"});
    }

    void helpEntriesOpenTheirPages_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("path");
        auto row = [](const char *action, const char *path) {
            QTest::newRow(action) << QString(action) << QString(path);
        };
        row("documentationAction", "/products/pelicard/doc/");
        row("reportBugAction", "/products/pelicard/postbug/");
        row("askAction", "/products/pelicard/ask/");
        row("featureRequestAction", "/products/pelicard/featurerequest/");
    }

    void helpEntriesOpenTheirPages()
    {
        QFETCH(QString, action);
        QFETCH(QString, path);
        Accounts::setCheckUpdates(false);
        MainWindow w;
        find(&w, action)->trigger();
        QCOMPARE(m_opened.urls, QList<QUrl>{makersPage(path)});
        QVERIFY(m_dialogs.shown.isEmpty());
    }

    void aboutShowsTheVersionAndThreeTabs()
    {
        Accounts::setCheckUpdates(false);
        MainWindow w;
        QStringList seen;
        QPointer<QWidget> dialog;
        QTimer::singleShot(0, this, [&] {
            dialog = QApplication::activeModalWidget();
            auto *about = qobject_cast<AboutDialog *>(dialog.data());
            if (!about) { // the modal loop must end in any case
                if (dialog)
                    dialog->close();
                return;
            }
            auto *tabs = find<QTabWidget>(about, "tabWidget");
            seen << about->windowTitle() << QString::number(about->windowModality())
                 << QString::number(about->parentWidget() == &w) << QString::number(tabs->count())
                 << QString::number(tabs->currentIndex());
            for (int i = 0; i < tabs->count(); ++i)
                seen << tabs->widget(i)->objectName() + ':' + tabs->tabText(i);
            seen << find<QLabel>(about, "pelicardLabel")->text()
                 << find<QLabel>(about, "mainLabel")->text()
                 << QString::number(find<QLabel>(about, "iconLabel")->pixmap().isNull());
            auto *authors = find<QListWidget>(about, "authorsListWidget");
            for (int i = 0; i < authors->count(); ++i)
                seen << authors->item(i)->text();
            auto *licence = find<QPlainTextEdit>(about, "licenseTextEdit");
            seen << QString::number(licence->isReadOnly()) << licence->toPlainText();
            click(about, "closeButton");
        });
        find(&w, "aboutAction")->trigger();
        QVERIFY(dialog.isNull()); // destroyed once closed

        const QString about = QStringLiteral("澄岚联系人管理器是一款功能强大的联系人管理工具软件\n"
                                             "版本: 1.000\n\n由 Pelicard 项目出品");
        const QStringList expected{"关于 澄岚联系人管理器",
                                   QString::number(Qt::ApplicationModal),
                                   "1",
                                   "3",
                                   "0",
                                   "tab:信息",
                                   "tab_2:维护",
                                   "Seite:许可条款",
                                   "<h3>澄岚联系人管理器</h3>",
                                   about,
                                   "0",
                                   "欢迎访问我们的网站:",
                                   makersPage("/").toString(),
                                   "1",
                                   "澄岚联系人管理器由 Pelicard 项目维护"};
        QCOMPARE(seen, expected);
    }

    // No composition interface here (nor on any system without "dwmapi").
    void blurBackgroundWithoutCompositionOpensTheWindowNormally()
    {
        Accounts::setCheckUpdates(false);
        Accounts::setBlurBackground(true);
        MainWindow w;
        w.setContentsMargins(1, 2, 3, 4);
        QVERIFY(!Composition::applyTranslucentBackground(&w));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(!w.testAttribute(Qt::WA_TranslucentBackground));
        QCOMPARE(w.contentsMargins(), QMargins(1, 2, 3, 4));
        QVERIFY(!Composition::extendFrameIntoClientArea(&w, -1, -1, -1, -1));
        QVERIFY(!w.testAttribute(Qt::WA_TranslucentBackground));
    }
};

PELICARD_TEST_MAIN(TestHelp)
#include "tst_help.moc"
