// Synchronising a network account with the real server holding 100,000 generated contacts,
// through the whole window: from the revision query until the new file is open and the list and
// search index are reloaded. Prints the median time and the client's peak resident growth.
#include "accounts.h"
#include "accountsession.h"
#include "contactgenerator.h"
#include "contactlistwidget.h"
#include "mainwidget.h"
#include "mainwindow.h"
#include "measure.h"
#include "networkrunner.h"
#include "serverhome.h"

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStatusBar>
#include <QTimer>
#include <cstdio>

namespace {

constexpr int Count = 100000;
constexpr int Rounds = 5;

// The peak so far becomes the present resident size.
void resetPeak()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

int fail(const QString &why)
{
    std::fprintf(stderr, "bench_sync: %s\n", qPrintable(why));
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir home;
    Measure::useHome(home.path());
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(QStringLiteral("pelicard.*.debug=false"));

    ServerHome serverHome;
    QString error;
    QDir().mkpath(serverHome.dataPath());
    const QString serverFile = serverHome.dataPath() + QStringLiteral("/server.sqlite");
    if (!ContactGenerator::writeDatabase(serverFile, Count, &error))
        return fail(error);
    QSettings(serverHome.settingsPath(), QSettings::IniFormat).setValue("server/serverRevision", 1);
    QProcess server;
    if (!serverHome.launch(server))
        return fail(QStringLiteral("the server does not answer"));

    Accounts::NewAccount account;
    account.name = QStringLiteral("bench");
    account.network = true;
    account.port = serverHome.port;
    account.serverPassword = Password;
    if (!Accounts::setCheckUpdates(false) || !Accounts::create(account) ||
        !QDir().mkpath(Accounts::databaseDirectory()) ||
        !ContactStore::createDatabase(Accounts::databasePath(account.name), &error))
        return fail(error.isEmpty() ? Accounts::errorString() : error);

    MainWindow w;
    // Waits in a loop of its own: polling with sleeps would measure the sleeps.
    const auto idle = [&] {
        if (!w.network()->isBusy())
            return true;
        QEventLoop loop;
        QObject::connect(w.network(), &NetworkRunner::busyChanged, &loop, [&](bool busy) {
            if (!busy)
                loop.quit();
        });
        QTimer::singleShot(60000, &loop, [&] { loop.exit(1); });
        return loop.exec() == 0;
    };
    if (!idle())
        return fail(QStringLiteral("the greeting does not end"));
    QAction *sync = w.findChild<QAction *>(QStringLiteral("syncAction"));

    qint64 before = 0, growth = 0;
    bool ok = true;
    const double ms = Measure::medianMs(
        Rounds,
        [&] {
            sync->trigger();
            ok = idle() && ok;
            growth = qMax(growth, Measure::peakKiB() - before);
        },
        [&] {
            ok = w.session()->setLocalRevision(0) && ok;
            QCoreApplication::processEvents();
            before = Measure::residentKiB();
            resetPeak();
        });
    const int listed = w.mainWidget()->contactListWidget()->count();
    if (!ok || listed != Count || w.localRevision() != 1)
        return fail(QStringLiteral("not synchronised: %1 listed, status %2")
                        .arg(listed)
                        .arg(w.statusBar()->currentMessage()));
    const qint64 fileKiB = QFileInfo(serverFile).size() / 1024;
    std::printf("synchronise %d contacts (file %lld KiB): median of %d rounds %.1f ms "
                "(budget 400 ms); peak resident growth %lld KiB (budget %lld KiB)\n",
                Count, fileKiB, Rounds, ms, growth, 3 * fileKiB);
    ServerHome::terminate(server);
    return 0;
}
