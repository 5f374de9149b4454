#include "shell/MainForm.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    velmora::TMainForm mainForm;
    mainForm.show();
    return application.exec();
}
