// The windowed program: the main window over the system's services, shown and
// run until the user exits. Shared by `tarnwick` and the benchmark build of
// the window, which attaches its observers before the window is shown.
#pragma once

#include <QApplication>
#include <QDir>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "common/window_platform.h"
#include "main_services.h"
#include "platform/program_environment.h"
#include "ui/banner.h"
#include "ui/main_form.h"
#include "ui/message_boxes.h"

namespace tarnwick {

inline int RunWindowProgram(int argc, char** argv, const std::function<void(TMain_F&)>& beforeShow = {}) {
    PrepareWindowProcess();
    // Qt reads QT_QPA_PLATFORM when the application object is made.
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (const auto platform = ChooseWindowPlatform(ProcessEnvironment, args))
        qputenv("QT_QPA_PLATFORM", QByteArray::fromStdString(*platform));
    QApplication application(argc, argv);  // also takes the user's locale for dates and times
    QApplication::setApplicationName(kApplicationTitle);
    QApplication::setWindowIcon(ApplicationIcon());
    // Names the installed desktop entry, whose icon a Wayland desktop shows for the window.
    QGuiApplication::setDesktopFileName(QStringLiteral("tarnwick"));
    // The window hides into the tray and alerts come and go: only the
    // confirmed close of the main window ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    TWindowProgramServices services;
    TQtMessageBoxes boxes;
    // In the system's own separators, as the files joined to them get theirs:
    // Qt gives "C:/..." on Windows, and messages would show "C:/...\Option.ini".
    const std::string executableDir = QDir::toNativeSeparators(QCoreApplication::applicationDirPath()).toStdString();
    TMain_F mainForm(MainServicesOf(services, boxes, executableDir,
                                    QDir::toNativeSeparators(QCoreApplication::applicationFilePath()).toStdString(),
                                    ResolveSettingsLocation(executableDir)));
    if (!mainForm.TablesBound()) return 1;
    if (beforeShow) beforeShow(mainForm);
    mainForm.show();
    return application.exec();
}

}  // namespace tarnwick
