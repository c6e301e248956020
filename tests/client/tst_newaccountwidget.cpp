#include "clienttest.h"
#include "damagedfile.h"
#include "newaccountwidget.h"

#include <QFile>
#include <QPushButton>
#include <QSpinBox>

using namespace ClientTest;

class TestNewAccountWidget : public QObject
{
    Q_OBJECT

    ScriptedDialogs m_dialogs;
    std::unique_ptr<NewAccountWidget> m_wizard;

    template <typename T = QLineEdit> T *child(const char *name)
    {
        return find<T>(m_wizard.get(), QLatin1String(name));
    }
    bool nextEnabled() { return child<QPushButton>("nextButton")->isEnabled(); }

private slots:
    void init()
    {
        resetStore();
        m_dialogs.shown.clear();
        m_wizard = std::make_unique<NewAccountWidget>();
        m_wizard->show();
    }
    void cleanup() { m_wizard.reset(); }

    void firstPage()
    {
        QCOMPARE(m_wizard->windowTitle(), QStringLiteral("创建一个新帐户"));
        QCOMPARE(m_wizard->windowModality(), Qt::ApplicationModal);
        QVERIFY(!m_wizard->close());
        child("accountNameEdit")->setText(QStringLiteral("n"));
        // A protected account needs a password, typed out of sight.
        QVERIFY(!child("passwordEdit")->isEnabled());
        child<QCheckBox>("usePasswordCheckBox")->setChecked(true);
        QVERIFY(!nextEnabled());
        QVERIFY(child("passwordEdit")->isEnabled());
        QCOMPARE(child("passwordEdit")->echoMode(), QLineEdit::Password);
        child("passwordEdit")->setText(QStringLiteral("x"));
        QVERIFY(nextEnabled());
    }

    void nextFollowsTheName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("toolTip"); // empty when the name is accepted
        auto row = [](const char *tag, const QString &name, const char *toolTip) {
            QTest::newRow(tag) << name << QString(toolTip);
        };
        row("plain", "工作 2", "");
        row("empty", "", "帐户名不能为空");
        row("blanks", " \t ", "帐户名不能为空");
        row("ideographic space", "\u3000", "帐户名不能为空");
        row("slash", "a/b", "帐户名不能包含 / 或 \\");
        row("backslash", "a\\b", "帐户名不能包含 / 或 \\");
        row("dot", ".", "帐户名不能是 . 或 ..");
        row("registry group", "database", "此名字为程序保留, 请使用其他名字");
        row("window group, other case", "MainWindow", "此名字为程序保留, 请使用其他名字");
        row("too long", QString(241, QLatin1Char('x')), "帐户名太长"); // limits: tst_accounts
    }

    void nextFollowsTheName()
    {
        QFETCH(QString, name);
        QFETCH(QString, toolTip);
        child("accountNameEdit")->setText(name);
        QCOMPARE(nextEnabled(), toolTip.isEmpty());
        QCOMPARE(child("accountNameEdit")->toolTip(), toolTip);
    }

    // Each row types the password "密码", sets "protect", creates "总部" after the existing
    // account and expects that registry and group. The digests are MD5 and SHA-1 of the
    // GB2312 bytes of "密码", c3 dc c2 eb.
    void accountIsCreated_data()
    {
        QTest::addColumn<QString>("existing");
        QTest::addColumn<bool>("network");
        QTest::addColumn<bool>("protect");
        QTest::addColumn<QStringList>("group");
        QTest::newRow("local, protected")
            << QString() << false << true
            << QStringList{"pass=0xd2293e30f0c964c5f6242486aa8a483c", "type=local", "usePass=true"};
        QTest::newRow("local, password unchecked")
            << QString() << false << false << QStringList{"type=local", "usePass=false"};
        QTest::newRow("network, second account")
            << QStringLiteral("本地") << true << false
            << QStringList{
                   "host=192.168.1.20", "localRevision=0",
                   "port=4000",         "serverPass=0x8cdbe84e176f93e25a0d05a03f2ac69f213d0ad2",
                   "type=network",      "usePass=false"};
    }

    void accountIsCreated()
    {
        QFETCH(QString, existing);
        QFETCH(bool, network);
        QFETCH(bool, protect);
        QFETCH(QStringList, group);
        if (!existing.isEmpty())
            addAccount(existing);
        QSignalSpy complete(m_wizard.get(), &NewAccountWidget::completeSignal);
        // The success box of a network account comes before the wizard reports it is done.
        m_dialogs.onShown = [&](const ScriptedDialogs::Shown &) { QVERIFY(complete.isEmpty()); };
        child<QCheckBox>("usePasswordCheckBox")->setChecked(true);
        child("passwordEdit")->setText(QStringLiteral("密码"));
        child<QCheckBox>("usePasswordCheckBox")->setChecked(protect);
        fillFirstPage(m_wizard.get(), QStringLiteral("总部"), network);
        QVERIFY(!Accounts::exists(QStringLiteral("总部")));
        if (network) {
            auto *next = child<QPushButton>("networkNextButton");
            QCOMPARE(child("hostEdit")->text(), QStringLiteral("127.0.0.1"));
            QCOMPARE(child<QSpinBox>("portSpinBox")->value(), 1639);
            child<QSpinBox>("portSpinBox")->setValue(4000);
            child("hostEdit")->setText(QStringLiteral("192.168.001.020"));
            QVERIFY(!next->isEnabled()); // no server password yet
            child("serverPasswordEdit")->setText(QStringLiteral("密码"));
            child("hostEdit")->setText(QStringLiteral("300.1.1.1"));
            QVERIFY(!next->isEnabled());
            child("hostEdit")->setText(QStringLiteral("192.168.001.020"));
            next->click();
        } else {
            QCOMPARE(m_wizard->currentPage(), 1);
            click(m_wizard.get(), QStringLiteral("finishButton"));
        }
        m_dialogs.onShown = nullptr;
        QCOMPARE(complete.count(), 1);
        QCOMPARE(boxes(m_dialogs),
                 network ? QStringList{"information|新帐户|帐户创建成功"} : QStringList());
        const QString names = existing.isEmpty() ? "总部" : existing + ",总部";
        QCOMPARE(groupOf("database"),
                 (QStringList{"currentDatabase=总部", "databases=" + names,
                              "dbCount=" + QString::number(names.count(',') + 1)}));
        QCOMPARE(groupOf(QStringLiteral("总部")), group);
        // Its file is where the window looks for it (a session opens it there).
        QVERIFY(QFile::exists(QDir::homePath() + "/.pelicard/databases/总部.sqlite"));
    }

    void takenNameIsRefused_data()
    {
        QTest::addColumn<bool>("meanwhile");
        QTest::newRow("on the first page") << false;
        QTest::newRow("taken while on the last page") << true;
    }

    void takenNameIsRefused()
    {
        QFETCH(bool, meanwhile);
        if (!meanwhile)
            addAccount(QStringLiteral("工作"), {}, false, QStringLiteral("old"));
        QSignalSpy complete(m_wizard.get(), &NewAccountWidget::completeSignal);
        fillFirstPage(m_wizard.get(), QStringLiteral("工作"), false);
        if (meanwhile) {
            addAccount(QStringLiteral("工作"), {}, false, QStringLiteral("old"));
            click(m_wizard.get(), QStringLiteral("finishButton"));
        }
        QCOMPARE(boxes(m_dialogs), QStringList{"warning|新帐户|帐户名已经存在, 请使用其他名字!"});
        QCOMPARE(m_wizard->currentPage(), 0);
        QVERIFY(m_wizard->isVisible());
        QCOMPARE(complete.count(), 0);
        QCOMPARE(Accounts::count(), 1);
        QVERIFY(Accounts::usePassword(QStringLiteral("工作")));
    }

    void unwritableStoreIsReported()
    {
        addAccount(QStringLiteral("old"));
        const QString store = rawStore().fileName();
        DamagedFile damaged(store, DamagedFile::Unwritable);
        QVERIFY(damaged.ok);
        QSignalSpy complete(m_wizard.get(), &NewAccountWidget::completeSignal);
        fillFirstPage(m_wizard.get(), QStringLiteral("n"), false);
        click(m_wizard.get(), QStringLiteral("finishButton"));
        QCOMPARE(boxes(m_dialogs),
                 QStringList{"critical|设置出错|无法写入设置文件 " + store + "!"});
        QCOMPARE(m_wizard->currentPage(), 0);
        QCOMPARE(complete.count(), 0);
        QCOMPARE(Accounts::names(), QStringList{"old"});
        QVERIFY(!QFile::exists(Accounts::databasePath(QStringLiteral("n"))));
    }

    void unwritableDatabaseFolderEndsTheProgram()
    {
        QDir().mkpath(QDir::homePath() + QStringLiteral("/.pelicard"));
        QFile blocker(Accounts::databaseDirectory());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QSignalSpy complete(m_wizard.get(), &NewAccountWidget::completeSignal);
        fillFirstPage(m_wizard.get(), QStringLiteral("n"), false);
        QCOMPARE(exitCodeAfter([&] { click(m_wizard.get(), QStringLiteral("finishButton")); }),
                 EXIT_FAILURE);
        QCOMPARE(m_dialogs.shown.size(), 1);
        QCOMPARE(m_dialogs.last().title, QStringLiteral("数据库出错"));
        QCOMPARE(complete.count(), 0);
        // Nothing half-made is left in the registry.
        QVERIFY(rawStore().allKeys().isEmpty());
    }
};

PELICARD_TEST_MAIN(TestNewAccountWidget)
#include "tst_newaccountwidget.moc"
