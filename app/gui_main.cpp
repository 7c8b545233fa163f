// tarnwick: the windowed connection monitor.
#include <QApplication>

#include "main_services.h"
#include "ui/banner.h"
#include "ui/main_form.h"
#include "ui/message_boxes.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);  // also takes the user's locale for dates and times
    QApplication::setApplicationName(tarnwick::kApplicationTitle);
    QApplication::setWindowIcon(tarnwick::ApplicationIcon());
    // The window hides into the tray and alerts come and go: only the
    // confirmed close of the main window ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    tarnwick::TLinuxServices services;
    tarnwick::TQtMessageBoxes boxes;
    tarnwick::TMain_F mainForm(tarnwick::MainServicesOf(services, boxes,
                                                        QCoreApplication::applicationDirPath().toStdString(),
                                                        QCoreApplication::applicationFilePath().toStdString()));
    if (!mainForm.TablesBound()) return 1;
    mainForm.show();
    return application.exec();
}
