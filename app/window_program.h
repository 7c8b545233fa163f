// The windowed program: the main window over the Linux services, shown and
// run until the user exits. Shared by `tarnwick` and the benchmark build of
// the window, which attaches its observers before the window is shown.
#pragma once

#include <QApplication>

#include <functional>

#include "main_services.h"
#include "ui/banner.h"
#include "ui/main_form.h"
#include "ui/message_boxes.h"

namespace tarnwick {

inline int RunWindowProgram(int argc, char** argv, const std::function<void(TMain_F&)>& beforeShow = {}) {
    QApplication application(argc, argv);  // also takes the user's locale for dates and times
    QApplication::setApplicationName(kApplicationTitle);
    QApplication::setWindowIcon(ApplicationIcon());
    // The window hides into the tray and alerts come and go: only the
    // confirmed close of the main window ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    TLinuxServices services;
    TQtMessageBoxes boxes;
    TMain_F mainForm(MainServicesOf(services, boxes, QCoreApplication::applicationDirPath().toStdString(),
                                    QCoreApplication::applicationFilePath().toStdString()));
    if (!mainForm.TablesBound()) return 1;
    if (beforeShow) beforeShow(mainForm);
    mainForm.show();
    return application.exec();
}

}  // namespace tarnwick
