#include "mainwindow.h"

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent)
{
    resize(525, 470);
    setMinimumSize(525, 455);
}
