#include "mainwindow.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    auto* w = new MainWindow;
    w->setWindowTitle(QStringLiteral("OrvexMc") + QStringLiteral(" v") + QStringLiteral("6.0.6"));
    w->show();
    int rc = app.exec();
    delete w;
    return rc;
}
