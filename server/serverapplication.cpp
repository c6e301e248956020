#include "serverapplication.h"

#include "dialogs.h"
#include "logging.h"
#include "passwords.h"

#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QLoggingCategory>
#include <QTextCodec>
#include <QTranslator>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {
#ifdef Q_OS_UNIX
// A server without a display is stopped with a signal; it then ends the way the quit action
// does, so the connections being served finish first. The handler only writes one byte, the
// rest runs on the GUI thread.
int g_signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[0], &byte, 1);
}

void quitOnTerminationSignals(QCoreApplication &app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char byte;
        [[maybe_unused]] const ssize_t read = ::read(g_signalPipe[1], &byte, 1);
        qCInfo(lcUi) << "quitting on a signal";
        // exit() rather than quit(): nobody is there to answer the window's question.
        QCoreApplication::exit(0);
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}
#endif
} // namespace

ServerApplication::ServerApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    setWindowIcon(QIcon(QStringLiteral(":/icons/server.png")));
    // Plug-ins shipped beside the program, as a packaged copy would carry them.
    const QString programDir = applicationDirPath();
    addLibraryPath(programDir + QStringLiteral("/plugins"));
    addLibraryPath(programDir);

    QTextCodec::setCodecForLocale(Passwords::eightBitCodec());

    const QString translations = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    const QString locale = QLocale::system().name();
    auto *qtTranslator = new QTranslator(this);
    if (qtTranslator->load(QStringLiteral("qt_") + locale, translations) ||
        qtTranslator->load(QStringLiteral("qtbase_") + locale, translations))
        installTranslator(qtTranslator);
    else
        delete qtTranslator;

    // The window hides to the tray and boxes come and go; only the quit action ends the program.
    setQuitOnLastWindowClosed(false);
#ifdef Q_OS_UNIX
    quitOnTerminationSignals(*this);
#endif
    // A busy server would write a line per request; QT_LOGGING_RULES turns them back on.
    QLoggingCategory::setFilterRules(QStringLiteral("pelicard.*.debug=false"));
}

void ServerApplication::refuseToStart(const QString &why)
{
    qCCritical(lcUi).noquote() << why;
    const QString platform = platformName();
    if (platform != QLatin1String("offscreen") && platform != QLatin1String("minimal"))
        Dialogs::instance().critical(nullptr, tr("服务器启动失败"), why);
}
