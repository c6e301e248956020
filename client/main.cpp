#include "mainwindow.h"
#include "version.h"
#include "windownotifier.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    app.setApplicationVersion(QLatin1String(Version::Text));
    app.setWindowIcon(QIcon(QStringLiteral(":/icons/pelicard.png")));
    // Plug-ins shipped beside the program; never the working directory, which anyone may fill.
    QCoreApplication::addLibraryPath(QCoreApplication::applicationDirPath() +
                                     QStringLiteral("/plugins"));

    // The toolkit's own buttons and dialogs speak the program's language.
    QTranslator toolkit;
    if (toolkit.load(QStringLiteral("qt_zh_CN"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(&toolkit);

    MainWindow window;
    Composition::applyTranslucentBackground(&window);
    window.show();
    return app.exec();
}
