// The whole client window on generated accounts: how long until the list is shown, how long a
// search keystroke takes until the list is repainted, and what the open account costs in
// resident memory. Run with and without the desktop's accessibility layer, which a screen
// reader user has on.
#include "accounts.h"
#include "contactgenerator.h"
#include "contactlistwidget.h"
#include "mainwidget.h"
#include "mainwindow.h"
#include "searchwidget.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListView>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int Rounds = 7;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

// What a screen reader's bridge does with every event: asks who sent it and what it holds.
void screenReader(QAccessibleEvent *event)
{
    if (QAccessibleInterface *iface = event->accessibleInterface()) {
        (void)iface->text(QAccessible::Name);
        (void)iface->childCount();
    }
}

void settle(MainWindow &w)
{
    QListView *view = w.mainWidget()->contactListWidget()->listView();
    view->viewport()->repaint();
    QCoreApplication::processEvents();
}

QString account(int count)
{
    return QStringLiteral("bench%1").arg(count);
}

bool makeAccount(int count)
{
    Accounts::create({account(count), false, false, {}, {}, Accounts::DefaultPort, {}});
    QString error;
    if (!ContactGenerator::writeDatabase(Accounts::databasePath(account(count)), count, &error)) {
        std::fprintf(stderr, "bench_window: %s\n", qPrintable(error));
        return false;
    }
    return true;
}

void measure(int count, bool accessible)
{
    Accounts::setCurrent(account(count));
    std::vector<double> open;
    std::vector<std::vector<double>> searches(4);
    const QStringList texts{QStringLiteral("a"), QStringLiteral("zh"), QStringLiteral("qqqqx"),
                            QStringLiteral("1_3%")};
    for (int round = 0; round < Rounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        auto w = std::make_unique<MainWindow>();
        settle(*w);
        open.push_back(timer.nsecsElapsed() / 1e6);
        QLineEdit *field = w->mainWidget()->searchWidget()->lineEdit();
        for (int i = 0; i < texts.size(); ++i) {
            timer.restart();
            field->setText(texts[i]);
            settle(*w);
            searches[i].push_back(timer.nsecsElapsed() / 1e6);
            field->clear();
            settle(*w);
        }
    }
    std::printf("%7d %-4s %10.1f", count, accessible ? "on" : "off", median(open));
    for (const auto &s : searches)
        std::printf(" %9.1f", median(s));
    std::printf("\n");
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QDir().mkpath(Accounts::databaseDirectory());
    Accounts::setCheckUpdates(false); // no request leaves the machine

    const std::vector<int> counts{0, 1000, 10000, 100000};
    for (int count : counts)
        if (!makeAccount(count))
            return 1;

    // Memory first, before anything else has grown the heap: the empty account, then the big one.
    qint64 emptyKiB = 0;
    qint64 fullKiB = 0;
    {
        Accounts::setCurrent(account(0));
        MainWindow w;
        settle(w);
        emptyKiB = residentKiB();
    }
    {
        Accounts::setCurrent(account(100000));
        MainWindow w;
        settle(w);
        fullKiB = residentKiB();
    }
    const qint64 fileKiB = QFileInfo(Accounts::databasePath(account(100000))).size() / 1024;
    std::printf("resident: empty account %lld KiB, 100000 contacts %lld KiB: +%lld KiB "
                "(file %lld KiB, budget +%lld KiB)\n\n",
                emptyKiB, fullKiB, fullKiB - emptyKiB, fileKiB, 3 * fileKiB);

    std::printf("medians of %d rounds, ms: window opened until the list is painted, then one "
                "search keystroke until repainted\n",
                Rounds);
    std::printf("%7s %-4s %10s %9s %9s %9s %9s\n", "count", "a11y", "open+list", "\"a\"", "\"zh\"",
                "\"qqqqx\"", "\"1_3%\"");
    for (bool accessible : {false, true}) {
        if (accessible) {
            QAccessible::installUpdateHandler(screenReader);
            QAccessible::setActive(true);
        }
        for (int count : {1000, 10000, 100000})
            measure(count, accessible);
    }
    return 0;
}
