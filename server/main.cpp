#include "mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    MainWindow::prepareApplication(app);
    MainWindow window;
    window.show();
    return app.exec();
}
