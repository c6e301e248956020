#include "datafolderlock.h"
#include "mainwindow.h"
#include "serverdatabase.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    MainWindow::prepareApplication(app);
    DataFolderLock lock(ServerDatabase::dataDirectory());
    if (!lock.acquire()) {
        MainWindow::refuseToStart(lock.refusal());
        return 1;
    }
    MainWindow window;
    window.show();
    return app.exec();
}
