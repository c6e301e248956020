#include "clienttest.h"
#include "newaccountwidget.h"
#include "scripteddialogs.h"
#include "testhome.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QSqlQuery>
#include <QTest>
#include <QToolButton>
#include <memory>

using namespace ClientTest;

namespace {

template <typename T> T *child(QWidget *w, const char *name)
{
    T *found = w->findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("no child %s", name);
    return found;
}

QStringList schemaOf(const QString &path)
{
    QStringList names;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "schema");
        db.setDatabaseName(path);
        db.open();
        QSqlQuery q(QStringLiteral("SELECT name FROM sqlite_master WHERE name NOT LIKE "
                                   "'sqlite_%' ORDER BY name"),
                    db);
        while (q.next())
            names << q.value(0).toString();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("schema"));
    return names;
}

} // namespace

class TestNewAccountWidget : public QObject
{
    Q_OBJECT

    ScriptedDialogs m_dialogs;
    std::unique_ptr<NewAccountWidget> m_wizard;

    QLineEdit *nameEdit() { return child<QLineEdit>(m_wizard.get(), "accountNameEdit"); }
    QPushButton *nextButton() { return child<QPushButton>(m_wizard.get(), "nextButton"); }
    QCheckBox *usePassword() { return child<QCheckBox>(m_wizard.get(), "usePasswordCheckBox"); }
    QLineEdit *passwordEdit() { return child<QLineEdit>(m_wizard.get(), "passwordEdit"); }

    void goToPage(const QString &name, bool network)
    {
        nameEdit()->setText(name);
        if (network)
            child<QRadioButton>(m_wizard.get(), "networkRadioButton")->setChecked(true);
        QVERIFY(nextButton()->isEnabled());
        nextButton()->click();
    }

private slots:
    void init()
    {
        resetStore();
        m_dialogs.shown.clear();
        m_wizard = std::make_unique<NewAccountWidget>();
        m_wizard->show();
    }
    void cleanup() { m_wizard.reset(); }

    // --- the window and its first page

    void windowIsModalTopLevelWithFixedSize()
    {
        QCOMPARE(m_wizard->windowTitle(), QStringLiteral("创建一个新帐户"));
        QCOMPARE(m_wizard->windowModality(), Qt::ApplicationModal);
        QVERIFY(m_wizard->isWindow());
        QCOMPARE(m_wizard->layout()->sizeConstraint(), QLayout::SetFixedSize);
        QCOMPARE(m_wizard->currentPage(), 0);
    }

    void closeRequestIsIgnored()
    {
        QSignalSpy cancelled(m_wizard.get(), &NewAccountWidget::cancelNewAccSlot);
        QVERIFY(!m_wizard->close());
        QVERIFY(m_wizard->isVisible());
        QCOMPARE(cancelled.count(), 0);
    }

    void firstPageStartsLocalWithNextDisabled()
    {
        QVERIFY(child<QRadioButton>(m_wizard.get(), "localRadioButton")->isChecked());
        QCOMPARE(child<QRadioButton>(m_wizard.get(), "localRadioButton")->text(),
                 QStringLiteral("本地"));
        QCOMPARE(child<QRadioButton>(m_wizard.get(), "networkRadioButton")->text(),
                 QStringLiteral("网络"));
        QCOMPARE(usePassword()->text(), QStringLiteral("使用密码保护"));
        QVERIFY(!usePassword()->isChecked());
        QVERIFY(!passwordEdit()->isEnabled());
        QCOMPARE(passwordEdit()->echoMode(), QLineEdit::Password);
        QCOMPARE(nextButton()->text(), QStringLiteral("下一个 >"));
        QVERIFY(!nextButton()->isEnabled());
        QCOMPARE(child<QPushButton>(m_wizard.get(), "cancelButton")->text(),
                 QStringLiteral("取消"));
        QCOMPARE(child<QToolButton>(m_wizard.get(), "helpToolButton")->iconSize(), QSize(32, 32));
    }

    void nextFollowsNameAndPassword_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("protect");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("toolTip");
        QTest::newRow("plain name") << "工作" << false << "" << true << "";
        QTest::newRow("empty name") << "" << false << "" << false << "帐户名不能为空";
        QTest::newRow("only blanks") << "   " << false << "" << false << "帐户名不能为空";
        QTest::newRow("slash") << "a/b" << false << "" << false << "帐户名不能包含 / 或 \\";
        QTest::newRow("backslash") << "a\\b" << false << "" << false << "帐户名不能包含 / 或 \\";
        QTest::newRow("dot") << "." << false << "" << false << "帐户名不能是 . 或 ..";
        QTest::newRow("dot dot") << ".." << false << "" << false << "帐户名不能是 . 或 ..";
        QTest::newRow("reserved") << "database" << false << "" << false
                                  << "此名字为程序保留, 请使用其他名字";
        QTest::newRow("too long") << QString(300, QLatin1Char('n')) << false << "" << false
                                  << "帐户名太长";
        QTest::newRow("protected, no password") << "工作" << true << "" << false << "";
        QTest::newRow("protected with password") << "工作" << true << "x" << true << "";
        QTest::newRow("password but unchecked") << "工作" << false << "x" << true << "";
    }

    void nextFollowsNameAndPassword()
    {
        QFETCH(QString, name);
        QFETCH(bool, protect);
        QFETCH(QString, password);
        QFETCH(bool, enabled);
        QFETCH(QString, toolTip);
        usePassword()->setChecked(true);
        passwordEdit()->setText(password);
        usePassword()->setChecked(protect);
        nameEdit()->setText(name);
        QCOMPARE(passwordEdit()->isEnabled(), protect);
        QCOMPARE(nextButton()->isEnabled(), enabled);
        QCOMPARE(nameEdit()->toolTip(), toolTip);
    }

    void helpButtonExplainsTheKinds()
    {
        child<QToolButton>(m_wizard.get(), "helpToolButton")->click();
        QCOMPARE(m_dialogs.shown.size(), 1);
        QCOMPARE(m_dialogs.last().kind, QStringLiteral("information"));
        QCOMPARE(m_dialogs.last().title, QStringLiteral("帐户类型"));
        QCOMPARE(m_dialogs.last().text,
                 QStringLiteral("<h3>本地:</h3> 只在本地数据库保存联系人信息.<h3>网络:</h3> "
                                "将你的联系人信息和中央数据库同步, 中央数据库由服务器端提供."));
    }

    void cancelWritesNothing_data()
    {
        QTest::addColumn<bool>("fromNetworkPage");
        QTest::newRow("first page") << false;
        QTest::newRow("network page") << true;
    }

    void cancelWritesNothing()
    {
        QFETCH(bool, fromNetworkPage);
        QSignalSpy cancelled(m_wizard.get(), &NewAccountWidget::cancelNewAccSlot);
        QSignalSpy complete(m_wizard.get(), &NewAccountWidget::completeSignal);
        if (fromNetworkPage) {
            goToPage(QStringLiteral("n"), true);
            child<QPushButton>(m_wizard.get(), "networkCancelButton")->click();
        } else {
            nameEdit()->setText(QStringLiteral("n"));
            child<QPushButton>(m_wizard.get(), "cancelButton")->click();
        }
        QCOMPARE(cancelled.count(), 1);
        QCOMPARE(complete.count(), 0);
        QVERIFY(rawStore().allKeys().isEmpty());
        QVERIFY(!QFile::exists(Accounts::databasePath(QStringLiteral("n"))));
    }

    // --- creating accounts

    void localAccountIsCreatedOnFinish()
    {
        QSignalSpy complete(m_wizard.get(), &NewAccountWidget::completeSignal);
        usePassword()->setChecked(true);
        passwordEdit()->setText(QStringLiteral("密码"));
        goToPage(QStringLiteral("家里"), false);
        QCOMPARE(m_wizard->currentPage(), 1);
        auto *finish = child<QPushButton>(m_wizard.get(), "finishButton");
        QCOMPARE(finish->text(), QStringLiteral("完成"));
        QCOMPARE(child<QLabel>(m_wizard.get(), "localPageLabel")->text(),
                 QStringLiteral("<h3>帐户创建成功</h3>开始使用联系人管理器."));
        QVERIFY(rawStore().allKeys().isEmpty());

        finish->click();
        QCOMPARE(complete.count(), 1);
        QVERIFY(m_dialogs.shown.isEmpty());
        QSettings store = rawStore();
        QCOMPARE(store.value("database/dbCount").toInt(), 1);
        QCOMPARE(store.value("database/databases").toStringList(), QStringList{"家里"});
        QCOMPARE(store.value("database/currentDatabase").toString(), QStringLiteral("家里"));
        store.beginGroup(QStringLiteral("家里"));
        QStringList keys = store.childKeys();
        keys.sort();
        QCOMPARE(keys, (QStringList{"pass", "type", "usePass"}));
        QCOMPARE(store.value("type").toString(), QStringLiteral("local"));
        QCOMPARE(store.value("usePass").toBool(), true);
        QCOMPARE(store.value("pass").toByteArray().toHex(),
                 QByteArray("d2293e30f0c964c5f6242486aa8a483c"));
        QCOMPARE(schemaOf(Accounts::databasePath(QStringLiteral("家里"))),
                 (QStringList{"contacts", "idx_contacts"}));
    }

    void uncheckedPasswordIsNotStored()
    {
        usePassword()->setChecked(true);
        passwordEdit()->setText(QStringLiteral("secret"));
        usePassword()->setChecked(false);
        QCOMPARE(passwordEdit()->text(), QStringLiteral("secret"));
        goToPage(QStringLiteral("n"), false);
        child<QPushButton>(m_wizard.get(), "finishButton")->click();
        QSettings store = rawStore();
        QCOMPARE(store.value("n/usePass").toBool(), false);
        QVERIFY(!store.contains("n/pass"));
    }

    void networkPageControls()
    {
        goToPage(QStringLiteral("n"), true);
        QCOMPARE(m_wizard->currentPage(), 2);
        auto *host = child<QLineEdit>(m_wizard.get(), "hostEdit");
        auto *port = child<QSpinBox>(m_wizard.get(), "portSpinBox");
        auto *password = child<QLineEdit>(m_wizard.get(), "serverPasswordEdit");
        auto *next = child<QPushButton>(m_wizard.get(), "networkNextButton");
        QCOMPARE(host->text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(host->inputMask(), QStringLiteral("000.000.000.000"));
        QCOMPARE(host->toolTip(), QStringLiteral("服务器IP地址"));
        QCOMPARE(port->minimum(), 60);
        QCOMPARE(port->maximum(), 65535);
        QCOMPARE(port->value(), 1639);
        QCOMPARE(port->toolTip(), QStringLiteral("服务器监听端口 (默认 1639)"));
        QCOMPARE(password->toolTip(), QStringLiteral("服务器密码"));
        QCOMPARE(password->echoMode(), QLineEdit::Password);
        QCOMPARE(next->text(), QStringLiteral("下一个"));
        QVERIFY(!next->isEnabled());

        password->setText(QStringLiteral("pw"));
        QVERIFY(next->isEnabled());
        host->clear();
        QVERIFY(!next->isEnabled());
        QCOMPARE(host->toolTip(), QStringLiteral("服务器IP地址: 请输入四个 0 到 255 之间的数字"));
        host->setText(QStringLiteral("300.1.1.1"));
        QVERIFY(!next->isEnabled());
        host->setText(QStringLiteral("10.0.0.1"));
        QVERIFY(next->isEnabled());
        password->clear();
        QVERIFY(!next->isEnabled());
    }

    void networkAccountIsCreatedOnNext()
    {
        QSignalSpy complete(m_wizard.get(), &NewAccountWidget::completeSignal);
        goToPage(QStringLiteral("总部"), true);
        child<QLineEdit>(m_wizard.get(), "hostEdit")->setText(QStringLiteral("192.168.001.020"));
        child<QSpinBox>(m_wizard.get(), "portSpinBox")->setValue(4000);
        child<QLineEdit>(m_wizard.get(), "serverPasswordEdit")->setText(QStringLiteral("密码"));
        bool completedAfterBox = false;
        m_dialogs.onShown = [&](const ScriptedDialogs::Shown &) {
            completedAfterBox = complete.isEmpty();
        };
        child<QPushButton>(m_wizard.get(), "networkNextButton")->click();
        m_dialogs.onShown = nullptr;

        QCOMPARE(complete.count(), 1);
        QCOMPARE(m_dialogs.shown.size(), 1);
        QCOMPARE(m_dialogs.last().kind, QStringLiteral("information"));
        QCOMPARE(m_dialogs.last().title, QStringLiteral("新帐户"));
        QCOMPARE(m_dialogs.last().text, QStringLiteral("帐户创建成功"));
        QVERIFY(completedAfterBox);

        QSettings store = rawStore();
        store.beginGroup(QStringLiteral("总部"));
        QStringList keys = store.childKeys();
        keys.sort();
        QCOMPARE(keys,
                 (QStringList{"host", "localRevision", "port", "serverPass", "type", "usePass"}));
        QCOMPARE(store.value("type").toString(), QStringLiteral("network"));
        QCOMPARE(store.value("usePass").toBool(), false);
        QCOMPARE(store.value("host").toString(), QStringLiteral("192.168.1.20"));
        QCOMPARE(store.value("port").toInt(), 4000);
        QCOMPARE(store.value("localRevision").toULongLong(), quint64(0));
        QCOMPARE(store.value("serverPass").toByteArray().toHex(),
                 QByteArray("8cdbe84e176f93e25a0d05a03f2ac69f213d0ad2"));
        store.endGroup();
        QCOMPARE(store.value("database/currentDatabase").toString(), QStringLiteral("总部"));
        QCOMPARE(schemaOf(Accounts::databasePath(QStringLiteral("总部"))),
                 (QStringList{"contacts", "idx_contacts"}));
    }

    void secondAccountIsAppended()
    {
        addAccount(QStringLiteral("first"));
        goToPage(QStringLiteral("second"), false);
        child<QPushButton>(m_wizard.get(), "finishButton")->click();
        QCOMPARE(Accounts::count(), 2);
        QCOMPARE(Accounts::names(), (QStringList{"first", "second"}));
        QCOMPARE(Accounts::current(), QStringLiteral("second"));
    }

    // --- refusals and failures

    void takenNameIsRefusedOnTheFirstPage()
    {
        addAccount(QStringLiteral("工作"), {}, false, QStringLiteral("old"));
        QSignalSpy complete(m_wizard.get(), &NewAccountWidget::completeSignal);
        nameEdit()->setText(QStringLiteral("工作"));
        nextButton()->click();
        QCOMPARE(m_wizard->currentPage(), 0);
        QCOMPARE(m_dialogs.shown.size(), 1);
        QCOMPARE(m_dialogs.last().kind, QStringLiteral("warning"));
        QCOMPARE(m_dialogs.last().title, QStringLiteral("新帐户"));
        QCOMPARE(m_dialogs.last().text, QStringLiteral("帐户名已经存在, 请使用其他名字!"));
        QCOMPARE(complete.count(), 0);
        QCOMPARE(Accounts::count(), 1);
        QVERIFY(Accounts::usePassword(QStringLiteral("工作")));

        nameEdit()->setText(QStringLiteral("工作2"));
        nextButton()->click();
        QCOMPARE(m_wizard->currentPage(), 1);
    }

    void nameTakenMeanwhileIsRefusedOnFinish()
    {
        goToPage(QStringLiteral("race"), false);
        addAccount(QStringLiteral("race"), {}, true);
        QSignalSpy complete(m_wizard.get(), &NewAccountWidget::completeSignal);
        child<QPushButton>(m_wizard.get(), "finishButton")->click();
        QCOMPARE(complete.count(), 0);
        QVERIFY(m_dialogs.wasShown(QStringLiteral("新帐户"),
                                   QStringLiteral("帐户名已经存在, 请使用其他名字!")));
        QCOMPARE(m_wizard->currentPage(), 0);
        QCOMPARE(Accounts::count(), 1);
        QVERIFY(Accounts::isNetwork(QStringLiteral("race")));
    }

    void unwritableDatabaseFolderEndsTheProgram()
    {
        QDir().mkpath(QDir::homePath() + QStringLiteral("/.pelicard"));
        QFile blocker(Accounts::databaseDirectory());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QSignalSpy complete(m_wizard.get(), &NewAccountWidget::completeSignal);
        goToPage(QStringLiteral("n"), false);

        const int code =
            exitCodeAfter([&] { child<QPushButton>(m_wizard.get(), "finishButton")->click(); });
        QCOMPARE(code, EXIT_FAILURE);
        QCOMPARE(m_dialogs.shown.size(), 1);
        QCOMPARE(m_dialogs.last().kind, QStringLiteral("critical"));
        QCOMPARE(m_dialogs.last().title, QStringLiteral("数据库出错"));
        QVERIFY(!m_dialogs.last().text.isEmpty());
        QCOMPARE(complete.count(), 0);
        // Nothing half-made is left in the registry.
        QVERIFY(rawStore().allKeys().isEmpty());
    }
};

PELICARD_TEST_MAIN(TestNewAccountWidget)
#include "tst_newaccountwidget.moc"
