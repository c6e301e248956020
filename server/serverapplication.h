#pragma once

#include <QApplication>

// The server program's process: icon, plug-in paths, codec, translations, log rules, and an
// orderly end on the termination signals, set up before any window exists.
class ServerApplication : public QApplication
{
    Q_OBJECT
public:
    ServerApplication(int &argc, char **argv);

    // Says why the program cannot start: on standard error, and in a box where there is a display.
    static void refuseToStart(const QString &why);
};
