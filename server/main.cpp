#include "datafolderlock.h"
#include "mainwindow.h"
#include "serverapplication.h"
#include "serverdatabase.h"
#include "serversettings.h"

int main(int argc, char *argv[])
{
    ServerApplication app(argc, argv);
    DataFolderLock lock(ServerDatabase::dataDirectory());
    if (!lock.acquire()) {
        ServerApplication::refuseToStart(lock.refusal());
        return 1;
    }
    ServerSettings::removeStaleLock();
    MainWindow window;
    window.show();
    return app.exec();
}
