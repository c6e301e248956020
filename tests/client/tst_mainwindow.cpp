#include "addresswidget.h"
#include "clienttest.h"
#include "contactlistwidget.h"
#include "mainwidget.h"
#include "mainwindow.h"
#include "newaccountwidget.h"
#include "printwidget.h"
#include "scripteddialogs.h"
#include "searchwidget.h"
#include "settingswidget.h"
#include "testhome.h"

#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>

using namespace ClientTest;

namespace {

// A desktop with a tray; the balloons are recorded instead of shown.
class TrayWindow : public MainWindow
{
public:
    struct Balloon
    {
        QString title;
        QString text;
        int msecs;
    };
    QList<Balloon> balloons;

protected:
    bool systemTrayAvailable() const override { return true; }
    void showTrayMessage(const QString &title, const QString &text, int msecs) override
    {
        balloons.append({title, text, msecs});
    }
};

template <typename T = QAction> T *find(QObject *parent, const QString &name)
{
    T *found = parent->findChild<T *>(name);
    if (!found)
        qFatal("no child %s", qPrintable(name));
    return found;
}

QAction *action(MainWindow &w, const char *name)
{
    return find(&w, QLatin1String(name));
}
QMenu *menu(MainWindow &w, const char *name)
{
    return find<QMenu>(&w, QLatin1String(name));
}

// Entry texts of a menu or tool bar, "|" for a separator.
QStringList entries(const QList<QAction *> &actions)
{
    QStringList texts;
    for (const QAction *a : actions)
        texts << (a->isSeparator() ? QStringLiteral("|") : a->text());
    return texts;
}

// The account entries after the menu's separator: name, and "*" when checked.
QStringList accountEntries(MainWindow &w)
{
    QStringList names;
    const QList<QAction *> all = menu(w, "accountMenu")->actions();
    for (qsizetype i = 3; i < all.size(); ++i)
        names << all[i]->data().toString() + (all[i]->isChecked() ? QStringLiteral("*") : "");
    return names;
}

QAction *accountEntry(MainWindow &w, const QString &name)
{
    for (QAction *a : menu(w, "accountMenu")->actions())
        if (a->data().toString() == name)
            return a;
    qFatal("no account entry %s", qPrintable(name));
    return nullptr;
}

QListWidget *list(MainWindow &w)
{
    return w.mainWidget()->contactListWidget()->listWidget();
}
AddressWidget *form(MainWindow &w)
{
    return w.mainWidget()->addressWidget();
}

QStringList listTexts(MainWindow &w)
{
    QStringList texts;
    for (int i = 0; i < list(w)->count(); ++i)
        texts << list(w)->item(i)->text();
    return texts;
}

// Names of the enabled ones among the given actions.
QStringList enabled(MainWindow &w, const QStringList &names)
{
    QStringList on;
    for (const QString &name : names)
        if (find(&w, name)->isEnabled())
            on << name;
    return on;
}

const QStringList AccountActions = {
    "newContactAction", "editContactAction", "deleteContactAction", "printAction",
    "settingsAction",   "syncAction",        "deleteAccountAction"};
const QStringList AlwaysOn = {"newAccountAction",    "quitAction",          "aboutAction",
                              "documentationAction", "updateAction",        "reportBugAction",
                              "askAction",           "featureRequestAction"};

bool submenusEnabled(MainWindow &w)
{
    const bool import = menu(w, "importMenu")->menuAction()->isEnabled();
    const bool exportMenu = menu(w, "exportMenu")->menuAction()->isEnabled();
    if (import != exportMenu)
        qFatal("import and export menus disagree");
    return import;
}

void fillWizard(NewAccountWidget *wizard, const QString &name, bool network,
                const QString &password = QString())
{
    find<QLineEdit>(wizard, "accountNameEdit")->setText(name);
    if (!password.isEmpty()) {
        find<QCheckBox>(wizard, "usePasswordCheckBox")->setChecked(true);
        find<QLineEdit>(wizard, "passwordEdit")->setText(password);
    }
    if (network)
        find<QRadioButton>(wizard, "networkRadioButton")->setChecked(true);
    find<QPushButton>(wizard, "nextButton")->click();
    if (network) {
        find<QLineEdit>(wizard, "serverPasswordEdit")->setText(QStringLiteral("server-pw"));
        find<QPushButton>(wizard, "networkNextButton")->click();
    } else {
        find<QPushButton>(wizard, "finishButton")->click();
    }
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

    ScriptedDialogs m_dialogs;

private slots:
    void init()
    {
        resetStore();
        m_dialogs.shown.clear();
        // Switching accounts must never leave a connection registered or in use behind.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("QSqlDatabase")));
    }

    // --- first start

    void firstStartShowsTheWizardOverTheWindow()
    {
        MainWindow w;
        QVERIFY(w.isVisible());
        QVERIFY(w.noAccountAtStart());
        NewAccountWidget *wizard = w.newAccountWidget();
        QVERIFY(wizard);
        QVERIFY(wizard->isVisible());
        QVERIFY(!wizard->parentWidget());
        QCOMPARE(QApplication::activeModalWidget(), wizard);

        QCOMPARE(entries(menu(w, "accountMenu")->actions()),
                 (QStringList{"新建帐户", "删除帐户", "|"}));
        QVERIFY(enabled(w, AccountActions).isEmpty());
        QVERIFY(!submenusEnabled(w));
        QCOMPARE(enabled(w, AlwaysOn), AlwaysOn);
        QVERIFY(m_dialogs.shown.isEmpty());
    }

    void cancellingTheFirstWizardQuits()
    {
        MainWindow w;
        QPointer<NewAccountWidget> wizard = w.newAccountWidget();
        QCOMPARE(exitCodeAfter([&] { find<QPushButton>(wizard, "cancelButton")->click(); }), 0);
        QCOMPARE(Accounts::count(), 0);
    }

    void firstAccountFromTheWizardIsOpened()
    {
        MainWindow w;
        QPointer<NewAccountWidget> wizard = w.newAccountWidget();
        fillWizard(wizard, QStringLiteral("工作"), false);
        QVERIFY(!w.newAccountWidget());
        QTRY_VERIFY(wizard.isNull());
        QVERIFY(!w.noAccountAtStart());
        QVERIFY(w.isVisible());
        QCOMPARE(w.currentDatabase(), QStringLiteral("工作"));
        QCOMPARE(w.accountType(), QStringLiteral("local"));
        QCOMPARE(accountEntries(w), QStringList{"工作*"});
        QVERIFY(form(w)->database().isOpen());
        QCOMPARE(form(w)->database().databaseName(),
                 Accounts::databasePath(QStringLiteral("工作")));
        QCOMPARE(enabled(w, AccountActions),
                 (QStringList{"newContactAction", "printAction", "settingsAction",
                              "deleteAccountAction"}));
        QVERIFY(submenusEnabled(w));
        QVERIFY(action(w, "importDatabaseAction")->isEnabled());
        QVERIFY(m_dialogs.shown.isEmpty());

        // From now on cancelling a wizard only closes it.
        action(w, "newAccountAction")->trigger();
        QPointer<NewAccountWidget> second = w.newAccountWidget();
        QVERIFY(second && second != wizard);
        QCOMPARE(exitCodeAfter([&] { find<QPushButton>(second, "cancelButton")->click(); }),
                 NotQuit);
        QTRY_VERIFY(second.isNull());
        QVERIFY(!w.newAccountWidget());
        QCOMPARE(Accounts::count(), 1);
        QCOMPARE(w.currentDatabase(), QStringLiteral("工作"));
    }

    void networkAccountFromTheWizardIsOpened()
    {
        addAccount(QStringLiteral("本地"), {contact(QStringLiteral("A"), QStringLiteral("1"))});
        MainWindow w;
        QVERIFY(!w.newAccountWidget());
        QCOMPARE(listTexts(w), QStringList{"A 1"});
        action(w, "newAccountAction")->trigger();
        QPointer<NewAccountWidget> wizard = w.newAccountWidget();
        QVERIFY(wizard);
        QCOMPARE(QApplication::activeModalWidget(), wizard.data());
        fillWizard(wizard, QStringLiteral("网"), true);
        QTRY_VERIFY(wizard.isNull());

        QVERIFY(m_dialogs.wasShown(QStringLiteral("新帐户"), QStringLiteral("帐户创建成功")));
        QCOMPARE(w.currentDatabase(), QStringLiteral("网"));
        QCOMPARE(w.accountType(), QStringLiteral("network"));
        QCOMPARE(w.localRevision(), quint64(0));
        QVERIFY(!w.serverPassword().isEmpty());
        QCOMPARE(w.serverPassword(), Accounts::serverPasswordText(QStringLiteral("网")));
        QVERIFY(action(w, "syncAction")->isEnabled());
        QVERIFY(!action(w, "importDatabaseAction")->isEnabled());
        QCOMPARE(accountEntries(w), (QStringList{"本地", "网*"}));
        QVERIFY(listTexts(w).isEmpty());
    }

    void newProtectedAccountAsksForItsPassword()
    {
        addAccount(QStringLiteral("a"), {contact(QStringLiteral("A"), QStringLiteral("1"))});
        MainWindow w;
        form(w)->setPasswordVerified(true);
        QSignalSpy asked(form(w), &AddressWidget::passwordRequested);
        action(w, "newAccountAction")->trigger();
        fillWizard(w.newAccountWidget(), QStringLiteral("b"), false, QStringLiteral("pw"));
        QCOMPARE(asked.count(), 1);
        QVERIFY(!form(w)->passwordVerified());
        QVERIFY(listTexts(w).isEmpty());
        QCOMPARE(w.currentDatabase(), QStringLiteral("b"));
    }

    // --- the account menu and switching

    void accountMenuListsTheRegistryInOrder()
    {
        addAccount(QStringLiteral("b"));
        addAccount(QStringLiteral("a"));
        addAccount(QStringLiteral("c&d"));
        Accounts::setCurrent(QStringLiteral("a"));
        MainWindow w;
        QCOMPARE(accountEntries(w), (QStringList{"b", "a*", "c&d"}));
        // An ampersand is shown, not taken as a mnemonic.
        QCOMPARE(accountEntry(w, QStringLiteral("c&d"))->text(), QStringLiteral("c&&d"));
        QVERIFY(accountEntry(w, QStringLiteral("b"))->actionGroup()->isExclusive());
        QVERIFY(m_dialogs.shown.isEmpty());
    }

    void unknownCurrentAccountChecksNoEntry()
    {
        addAccount(QStringLiteral("a"));
        Accounts::setCurrent(QStringLiteral("elsewhere"));
        MainWindow w;
        QCOMPARE(accountEntries(w), QStringList{"a"});
        QVERIFY(m_dialogs.wasShown(QStringLiteral("数据库出错"), QStringLiteral("数据库不存在!")));
        QVERIFY(w.isVisible());
    }

    void repeatedNameChecksOnlyTheLastEntry()
    {
        addAccount(QStringLiteral("a"));
        QSettings store = rawStore();
        store.setValue("database/dbCount", 2);
        store.setValue("database/databases", QStringList{"a", "a"});
        store.sync();
        MainWindow w;
        QCOMPARE(accountEntries(w), (QStringList{"a", "a*"}));
    }

    void switchingAccountsReloadsEverything()
    {
        addAccount(QStringLiteral("甲"), {contact(QStringLiteral("王"), QStringLiteral("五")),
                                          contact(QStringLiteral("李"), QStringLiteral("四"))});
        addAccount(QStringLiteral("乙"), {contact(QStringLiteral("张"), QStringLiteral("三"))});
        Accounts::setCurrent(QStringLiteral("甲"));
        MainWindow w;
        QCOMPARE(listTexts(w), (QStringList{"李 四", "王 五"}));
        QLineEdit *search = w.mainWidget()->searchWidget()->lineEdit();
        search->setText(QStringLiteral("王"));
        action(w, "settingsAction")->trigger();
        QVERIFY(w.settingsShown());
        form(w)->setPasswordVerified(true);

        accountEntry(w, QStringLiteral("乙"))->trigger();
        QCOMPARE(listTexts(w), QStringList{"张 三"});
        QCOMPARE(w.currentDatabase(), QStringLiteral("乙"));
        QCOMPARE(rawStore().value("database/currentDatabase").toString(), QStringLiteral("乙"));
        QCOMPARE(form(w)->database().databaseName(), Accounts::databasePath(QStringLiteral("乙")));
        QCOMPARE(accountEntries(w), (QStringList{"甲", "乙*"}));
        QVERIFY(search->text().isEmpty());
        QVERIFY(!form(w)->passwordVerified());
        QCOMPARE(w.currentPage(), int(MainWindow::ContactPage));
        QVERIFY(!w.settingsShown());
        QVERIFY(!w.printShown());
        QVERIFY(action(w, "newContactAction")->isEnabled());
        QVERIFY(m_dialogs.shown.isEmpty());
    }

    void switchingToAProtectedAccountAsksEachTime()
    {
        addAccount(QStringLiteral("open"));
        addAccount(QStringLiteral("locked"), {contact(QStringLiteral("A"), QStringLiteral("1"))},
                   false, QStringLiteral("pw"));
        Accounts::setCurrent(QStringLiteral("open"));
        MainWindow w;
        QSignalSpy asked(form(w), &AddressWidget::passwordRequested);
        accountEntry(w, QStringLiteral("locked"))->trigger();
        QCOMPARE(asked.count(), 1);
        QVERIFY(listTexts(w).isEmpty());

        form(w)->setPasswordVerified(true);
        QVERIFY(form(w)->loadList());
        QCOMPARE(listTexts(w), QStringList{"A 1"});
        // Picking the current account again runs the whole switch, password included.
        accountEntry(w, QStringLiteral("locked"))->trigger();
        QCOMPARE(asked.count(), 2);
        QVERIFY(listTexts(w).isEmpty());
    }

    void switchingFollowsTheAccountType()
    {
        addAccount(QStringLiteral("net"), {}, true);
        addAccount(QStringLiteral("loc"));
        addAccount(QStringLiteral("bare"));
        rawStore().remove(QStringLiteral("bare/type"));
        MainWindow w; // "bare" is current: no type reads as local
        QCOMPARE(w.accountType(), QStringLiteral("local"));
        QVERIFY(!action(w, "syncAction")->isEnabled());

        accountEntry(w, QStringLiteral("net"))->trigger();
        QCOMPARE(w.accountType(), QStringLiteral("network"));
        QVERIFY(action(w, "syncAction")->isEnabled());
        QVERIFY(!action(w, "importDatabaseAction")->isEnabled());

        QVERIFY(!w.serverPassword().isEmpty());
        accountEntry(w, QStringLiteral("loc"))->trigger();
        QCOMPARE(w.accountType(), QStringLiteral("local"));
        QVERIFY(w.serverPassword().isEmpty());
        QVERIFY(!action(w, "syncAction")->isEnabled());
        QVERIFY(action(w, "importDatabaseAction")->isEnabled());
    }

    // --- actions, menus, tool bar, tray

    void actionTexts_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("statusTip");
        QTest::addColumn<QKeySequence>("shortcut");
        QTest::addColumn<bool>("icon");
        const QKeySequence none;
        auto row = [](const char *name) -> QTestData & {
            return QTest::newRow(name) << QString(name);
        };
        row("newContactAction") << "新建联系人"
                                << "增加一名新联系人" << QKeySequence(QKeySequence::New) << true;
        row("editContactAction") << "编辑联系人"
                                 << "编辑选中的联系人信息" << none << true;
        row("deleteContactAction")
            << "删除联系人"
            << "删除选中的联系人信息" << QKeySequence(QKeySequence::Delete) << true;
        row("syncAction") << "同步联系人"
                          << "与中央服务器同步您的联系人信息，快捷键CTL + C"
                          << QKeySequence(Qt::CTRL | Qt::Key_C) << true;
        row("settingsAction") << "设置..."
                              << "设置..." << none << true;
        row("printAction") << "打印..."
                           << "打印选中的联系人或者所有的联系人信息"
                           << QKeySequence(QKeySequence::Print) << true;
        row("quitAction") << "退出"
                          << "退出程序 快捷键 CTRL + Q" << QKeySequence(Qt::CTRL | Qt::Key_Q)
                          << true;
        row("newAccountAction") << "新建帐户"
                                << "创建一个新的帐户" << none << false;
        row("deleteAccountAction") << "删除帐户"
                                   << "删除当前的帐户" << none << false;
        row("exportSelectedPdfAction") << "选中的联系人"
                                       << "将选中的联系人导出到PDF文件" << none << false;
        row("exportAllPdfAction") << "全部联系人"
                                  << "将全部联系人导出到PDF文件" << none << false;
        row("exportDatabaseAction") << "数据库"
                                    << "导出数据库，包含所有的联系人" << none << false;
        row("exportSelectedvCardAction")
            << "选中的联系人"
            << "将选中的联系人导出为电子商务卡片 (vCard)" << none << false;
        row("exportAllvCardAction") << "全部联系人"
                                    << "将全部联系人导出为电子商务卡片 (vCard)" << none << false;
        row("importvCardAction") << "电子商务卡片 (vCard)"
                                 << "导入电子商务卡片 (vCard)" << none << false;
        row("importDatabaseAction") << "数据库"
                                    << "导入一个数据库，包含所有联系人" << none << false;
        row("aboutAction") << "关于"
                           << "" << none << false;
        row("documentationAction") << "在线文档"
                                   << "在浏览器中浏览文档" << none << false;
        row("updateAction") << "检测更新"
                            << "检测软件更新..." << none << false;
        row("reportBugAction") << "报告程序缺陷"
                               << "通过报告程序缺陷和漏洞来帮助我们改善澄岚联系人管理器" << none
                               << false;
        row("askAction") << "提问"
                         << "询问关于澄岚联系人管理器的问题" << none << false;
        row("featureRequestAction") << "特色需求"
                                    << "您的想法将有助于我们改善软件" << none << false;
        row("showAction") << "显示澄岚联系人管理器"
                          << "" << none << false;
        row("hideAction") << "隐藏澄岚联系人管理器"
                          << "" << none << false;
    }

    void actionTexts()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(QString, statusTip);
        QFETCH(QKeySequence, shortcut);
        QFETCH(bool, icon);
        addAccount(QStringLiteral("a"));
        MainWindow w;
        QAction *a = find(&w, name);
        QCOMPARE(a->text(), text);
        QCOMPARE(a->statusTip(), statusTip);
        QCOMPARE(a->shortcut(), shortcut);
        QCOMPARE(!a->icon().isNull(), icon);
    }

    void menusToolBarAndStatusBar()
    {
        addAccount(QStringLiteral("a"));
        MainWindow w;
        QCOMPARE(w.windowTitle(), QStringLiteral("澄岚联系人管理器"));
        QCOMPARE(w.version(), QStringLiteral("1.000"));
        QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("就绪"));
        QCOMPARE(entries(w.menuBar()->actions()), (QStringList{"文件", "编辑", "帐户", "帮助"}));
        QCOMPARE(entries(menu(w, "fileMenu")->actions()),
                 (QStringList{"新建联系人", "|", "同步联系人", "打印...", "|", "导入", "导出", "|",
                              "退出"}));
        QCOMPARE(entries(menu(w, "editMenu")->actions()),
                 (QStringList{"编辑联系人", "删除联系人", "|", "设置..."}));
        QCOMPARE(entries(menu(w, "helpMenu")->actions()),
                 (QStringList{"关于", "在线文档", "|", "报告程序缺陷", "提问", "特色需求", "|",
                              "检测更新"}));
        QCOMPARE(entries(menu(w, "importMenu")->actions()),
                 (QStringList{"电子商务卡片 (vCard)", "数据库"}));
        QCOMPARE(entries(menu(w, "exportMenu")->actions()),
                 (QStringList{"PDF", "电子商务卡 (vCard)", "数据库"}));
        QCOMPARE(menu(w, "pdfMenu")->actions(),
                 (QList<QAction *>{action(w, "exportSelectedPdfAction"),
                                   action(w, "exportAllPdfAction")}));
        QCOMPARE(menu(w, "vCardMenu")->actions(),
                 (QList<QAction *>{action(w, "exportSelectedvCardAction"),
                                   action(w, "exportAllvCardAction")}));

        auto *toolBar = find<QToolBar>(&w, "toolBar");
        QCOMPARE(toolBar->windowTitle(), QStringLiteral("菜单"));
        QCOMPARE(w.toolBarArea(toolBar), Qt::LeftToolBarArea);
        QVERIFY(!toolBar->isMovable());
        QCOMPARE(entries(toolBar->actions()),
                 (QStringList{"新建联系人", "编辑联系人", "删除联系人", "|", "同步联系人",
                              "设置...", "打印...", "|", "退出"}));
    }

    void trayIconAndItsMenu()
    {
        addAccount(QStringLiteral("a"));
        MainWindow w;
        QSystemTrayIcon *tray = w.trayIcon();
        QCOMPARE(tray->toolTip(), QStringLiteral("澄岚联系人管理器"));
        QVERIFY(!tray->icon().isNull());
        QVERIFY(tray->isVisible());
        QCOMPARE(entries(tray->contextMenu()->actions()),
                 (QStringList{"显示澄岚联系人管理器", "隐藏澄岚联系人管理器", "|", "退出"}));
        QCOMPARE(tray->contextMenu()->actions().last(), action(w, "quitAction"));

        action(w, "hideAction")->trigger();
        QVERIFY(!w.isVisible());
        action(w, "showAction")->trigger();
        QVERIFY(w.isVisible());
    }

    void pagesAreStackedInOrder()
    {
        addAccount(QStringLiteral("a"));
        MainWindow w;
        auto *stack = find<QStackedWidget>(&w, "pageStack");
        QCOMPARE(stack->count(), 3);
        QCOMPARE(stack->widget(0), w.mainWidget());
        QCOMPARE(stack->widget(1), w.settingsWidget());
        QCOMPARE(stack->widget(2), w.printWidget());
        QCOMPARE(w.currentPage(), int(MainWindow::ContactPage));
    }

    // --- which actions are enabled when

    void contactActionsFollowSelectionAndPages()
    {
        addAccount(QStringLiteral("a"), {contact(QStringLiteral("A"), QStringLiteral("1")),
                                         contact(QStringLiteral("B"), QStringLiteral("2"))});
        MainWindow w;
        QCOMPARE(enabled(w, AccountActions),
                 (QStringList{"newContactAction", "printAction", "settingsAction",
                              "deleteAccountAction"}));
        QVERIFY(submenusEnabled(w));

        list(w)->setCurrentRow(1);
        w.updateActions();
        const QStringList contactActions{"newContactAction", "editContactAction",
                                         "deleteContactAction"};
        QCOMPARE(enabled(w, contactActions), contactActions);

        action(w, "settingsAction")->trigger();
        QCOMPARE(w.currentPage(), int(MainWindow::SettingsPage));
        QVERIFY(enabled(w, contactActions).isEmpty());

        // Print from the settings page goes straight to the print page.
        action(w, "printAction")->trigger();
        QCOMPARE(w.currentPage(), int(MainWindow::PrintPage));
        QVERIFY(w.printShown());
        QVERIFY(!w.settingsShown());
        QVERIFY(enabled(w, contactActions).isEmpty());

        action(w, "printAction")->trigger();
        QCOMPARE(w.currentPage(), int(MainWindow::ContactPage));
        QCOMPARE(enabled(w, contactActions), contactActions);

        action(w, "printAction")->trigger();
        action(w, "settingsAction")->trigger();
        QCOMPARE(w.currentPage(), int(MainWindow::SettingsPage));
        find<QPushButton>(&w, "settingsBackButton")->click();
        QCOMPARE(w.currentPage(), int(MainWindow::ContactPage));
        QVERIFY(!w.settingsShown());
        QCOMPARE(enabled(w, contactActions), contactActions);

        action(w, "printAction")->trigger();
        find<QPushButton>(&w, "printBackButton")->click();
        QCOMPARE(w.currentPage(), int(MainWindow::ContactPage));
        QVERIFY(!w.printShown());
    }

    void editModeDisablesContactActions()
    {
        addAccount(QStringLiteral("a"), {contact(QStringLiteral("A"), QStringLiteral("1"))});
        MainWindow w;
        const QStringList contactActions{"newContactAction", "editContactAction",
                                         "deleteContactAction"};
        list(w)->setCurrentRow(0);
        w.updateActions();
        action(w, "editContactAction")->trigger();
        QVERIFY(form(w)->isEditing());
        QVERIFY(enabled(w, contactActions).isEmpty());

        list(w)->clearSelection();
        form(w)->clearForm();
        // Leaving edit mode enables all three until the actions are next narrowed.
        QCOMPARE(enabled(w, contactActions), contactActions);
        w.updateActions();
        QCOMPARE(enabled(w, contactActions), QStringList{"newContactAction"});

        action(w, "newContactAction")->trigger();
        QVERIFY(form(w)->isEditable());
        QVERIFY(enabled(w, contactActions).isEmpty());
    }

    void contactPageSignalsReachTheWindow()
    {
        addAccount(QStringLiteral("a"), {contact(QStringLiteral("A"), QStringLiteral("1"))});
        MainWindow w;
        emit form(w)->addContactListSignal(QStringLiteral("0 新"));
        QCOMPARE(listTexts(w), (QStringList{"0 新", "A 1"}));

        list(w)->setCurrentRow(1);
        w.updateActions();
        QVERIFY(action(w, "editContactAction")->isEnabled());
        list(w)->clearSelection();
        emit form(w)->updateActionsSignal();
        QVERIFY(!action(w, "editContactAction")->isEnabled());
    }

    void printPageShowsTheSelection()
    {
        addAccount(QStringLiteral("a"), {contact(QStringLiteral("A"), QStringLiteral("1")),
                                         contact(QStringLiteral("B"), QString())});
        MainWindow w;
        QLineEdit *field = w.printWidget()->selectionEdit();
        action(w, "printAction")->trigger();
        QCOMPARE(field->text(), QStringLiteral("没有选择"));
        QVERIFY(field->isReadOnly());
        action(w, "printAction")->trigger();

        list(w)->setCurrentRow(1);
        action(w, "printAction")->trigger();
        QCOMPARE(field->text(), QStringLiteral("B "));
    }

    void exportsOfTheSelectionNeedOne_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("vCard") << QStringLiteral("exportSelectedvCardAction");
        QTest::newRow("PDF") << QStringLiteral("exportSelectedPdfAction");
    }

    void exportsOfTheSelectionNeedOne()
    {
        QFETCH(QString, name);
        addAccount(QStringLiteral("a"), {contact(QStringLiteral("A"), QStringLiteral("1"))});
        MainWindow w;
        find(&w, name)->trigger();
        QCOMPARE(m_dialogs.shown.size(), 1);
        QCOMPARE(m_dialogs.last().kind, QStringLiteral("warning"));
        QCOMPARE(m_dialogs.last().title, QStringLiteral("导出警告"));
        QCOMPARE(m_dialogs.last().text, QStringLiteral("导出中断:\n没有选择联系人!"));

        list(w)->setCurrentRow(0);
        find(&w, name)->trigger();
        QCOMPARE(m_dialogs.shown.size(), 1);
    }

    // --- closing, the tray and quitting

    void closeHidesInTheTray()
    {
        addAccount(QStringLiteral("a"));
        TrayWindow w;
        bool closed = true;
        QCOMPARE(exitCodeAfter([&] { closed = w.close(); }), NotQuit);
        QVERIFY(!closed);
        QVERIFY(!w.isVisible());
        QCOMPARE(w.balloons.size(), 1);
        QCOMPARE(w.balloons[0].title, QStringLiteral("澄岚联系人管理器"));
        QCOMPARE(w.balloons[0].text, QStringLiteral("正在运行..."));
        QCOMPARE(w.balloons[0].msecs, 10000);

        // The tray menu's quit still ends the program.
        QCOMPARE(exitCodeAfter([&] { w.trayIcon()->contextMenu()->actions().last()->trigger(); }),
                 0);
        QVERIFY(!rawStore().value("mainWindow/geometry").toByteArray().isEmpty());
    }

    void closingAHiddenWindowStoresTheSettings()
    {
        addAccount(QStringLiteral("a"));
        TrayWindow w;
        w.hide();
        QVERIFY(w.close());
        QVERIFY(w.balloons.isEmpty());
        QCOMPARE(rawStore().value("mainWindow/geometry").toByteArray(), w.saveGeometry());
    }

    void closeWithoutATrayQuits()
    {
        if (QSystemTrayIcon::isSystemTrayAvailable())
            QSKIP("this desktop has a tray");
        addAccount(QStringLiteral("a"));
        MainWindow w;
        QCOMPARE(exitCodeAfter([&] { w.close(); }), 0);
        QCOMPARE(rawStore().value("mainWindow/geometry").toByteArray(), w.saveGeometry());
        QCOMPARE(rawStore().value("database/currentDatabase").toString(), QStringLiteral("a"));
    }

    void onlyADoubleClickOnTheTrayTogglesTheWindow()
    {
        addAccount(QStringLiteral("a"));
        MainWindow w;
        QSystemTrayIcon *tray = w.trayIcon();
        emit tray->activated(QSystemTrayIcon::Trigger);
        QVERIFY(w.isVisible());
        emit tray->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(!w.isVisible());
        emit tray->activated(QSystemTrayIcon::Trigger);
        emit tray->activated(QSystemTrayIcon::Context);
        emit tray->activated(QSystemTrayIcon::MiddleClick);
        QVERIFY(!w.isVisible());
        emit tray->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(w.isVisible());
    }

    void quitStoresGeometryAndCurrentAccount()
    {
        addAccount(QStringLiteral("a"));
        addAccount(QStringLiteral("b"));
        {
            MainWindow w;
            w.setGeometry(50, 60, 700, 520);
            Accounts::setCurrent(QStringLiteral("stale"));
            QCOMPARE(exitCodeAfter([&] { action(w, "quitAction")->trigger(); }), 0);
            QCOMPARE(rawStore().value("database/currentDatabase").toString(), QStringLiteral("b"));
            QCOMPARE(rawStore().value("mainWindow/geometry").toByteArray(), w.saveGeometry());
        }
        MainWindow again;
        QCOMPARE(again.size(), QSize(700, 520));
    }
};

PELICARD_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
