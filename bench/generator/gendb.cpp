#include "contactgenerator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStringList>
#include <cstdio>

// pelicard-gendb <path> <count>: a contacts database full of made-up people.
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    bool ok = false;
    const int count = args.size() == 3 ? args.at(2).toInt(&ok) : 0;
    if (!ok || count < 0) {
        std::fprintf(stderr, "usage: pelicard-gendb <path> <count>\n"
                             "Writes a new contacts database holding <count> contacts.\n");
        return 2;
    }
    const QString path = args.at(1);
    QElapsedTimer timer;
    timer.start();
    QString error;
    if (!ContactGenerator::writeDatabase(path, count, &error)) {
        std::fprintf(stderr, "pelicard-gendb: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("%s: %d contacts, %lld bytes, %lld ms\n", qPrintable(path), count,
                QFileInfo(path).size(), timer.elapsed());
    return 0;
}
