#include "mainwindow.h"
#include "app/version.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // Names the settings location: <data>/Halvard/OrvexMc.
    QCoreApplication::setApplicationName(ver::DisplayName);
    auto* w = new MainWindow;
    QApplication::setWindowIcon(w->windowIcon());
    w->setWindowTitle(ver::WindowTitle());
    w->show();
    int rc = app.exec();
    delete w;
    return rc;
}
