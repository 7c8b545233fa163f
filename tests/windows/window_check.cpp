// The window as tarnwick.exe runs it (the same services, settings and start),
// watched from inside while it runs under Wine on an X display: it lists a
// host-side peer's loopback listener and connection, logs the connection the
// peer opens once they are seen, takes a screenshot, and closes on the
// confirmed exit, keeping a filter typed just before in Option.ini beside the
// executable.
//
// Usage: tarnwick_window_check LISTEN_PORT CLIENT_PORT SIGNAL_FILE SCREENSHOT
//   SIGNAL_FILE is created once both held sockets are in the grid: the peer
//   then opens a new connection to its listener. Exits 0 when all was seen.
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>

#include "ui/connection_grid_model.h"
#include "ui/grid_filter_box.h"
#include "ui/main_form.h"
#include "window_program.h"

namespace tarnwick {
namespace {

constexpr int kPollMs = 100;
constexpr qint64 kStepLimitMs = 60000;  // Wine starts slowly on a loaded machine

struct TCheck {
    std::string ListenPort;
    std::string ClientPort;
    QString SignalFile;
    QString Screenshot;
    int Failures = 0;

    void Fail(const std::string& what) {
        std::fprintf(stderr, "FAIL: %s\n", what.c_str());
        ++Failures;
    }
};

bool GridLists(TMain_F& form, const std::string& line) {
    return form.GridModel().Rows().ToText().find(line) != std::string::npos;
}

bool HeldSocketsListed(TMain_F& form, const TCheck& check) {
    return GridLists(form, "\t0\t" + check.ListenPort + "\tTCP\tListening") &&
           GridLists(form, "\t" + check.ListenPort + "\t" + check.ClientPort + "\tTCP\tEstablished") &&
           GridLists(form, "\t" + check.ClientPort + "\t" + check.ListenPort + "\tTCP\tEstablished");
}

// A connect line of the log, after the first `skip` entries, to the peer's listener.
bool NewConnectionLogged(const TMain_F& form, const TCheck& check, size_t skip) {
    const auto& entries = form.Log().Entries();
    for (size_t n = skip; n < entries.size(); ++n)
        if (entries[n].Kind == lkConnect && entries[n].Line.find(" On Port:" + check.ListenPort) != std::string::npos)
            return true;
    return false;
}

// Polls `done` every kPollMs; `then` runs once it holds, `timedOut` if it does not within the limit.
void WaitFor(std::function<bool()> done, std::function<void()> then, std::function<void()> timedOut) {
    auto* timer = new QTimer();
    auto* clock = new QElapsedTimer();
    clock->start();
    QObject::connect(timer, &QTimer::timeout, [=] {
        const bool held = done();
        if (!held && clock->elapsed() < kStepLimitMs) return;
        timer->stop();
        timer->deleteLater();
        delete clock;
        held ? then() : timedOut();
    });
    timer->start(kPollMs);
}

// The exit question's box, once it is on screen (whether or not it has the focus).
QMessageBox* ShownQuestion() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) return box;
    return nullptr;
}

void Close(TMain_F& form) {
    // The exit question is a modal box: answered Yes from the event loop it runs.
    WaitFor([] { return ShownQuestion() != nullptr; }, [] { ShownQuestion()->button(QMessageBox::Yes)->click(); },
            [] {
                std::fprintf(stderr, "FAIL: no exit question\n");
                QCoreApplication::exit(1);
            });
    // As the title bar's close button does: Windows's WM_CLOSE to the window.
    PostMessageW(reinterpret_cast<HWND>(form.winId()), WM_CLOSE, 0, 0);
}

void Watch(TMain_F& form, TCheck& check) {
    WaitFor(
        [&] { return HeldSocketsListed(form, check); },
        [&] {
            const size_t logged = form.Log().Entries().size();
            QFile signal(check.SignalFile);
            if (!signal.open(QIODevice::WriteOnly)) check.Fail("cannot create " + check.SignalFile.toStdString());
            signal.close();
            WaitFor(
                [&, logged] { return NewConnectionLogged(form, check, logged); },
                [&] {
                    const QPixmap shot = form.screen()->grabWindow(0);
                    if (shot.isNull() || !shot.save(check.Screenshot, "PNG"))
                        check.Fail("cannot save the screenshot " + check.Screenshot.toStdString());
                    // A filter typed just before the exit is kept: the close writes Option.ini.
                    form.edtFilter->setText(QStringLiteral("TCP"));
                    Close(form);
                },
                [&] {
                    check.Fail("no log line for the peer's new connection to port " + check.ListenPort);
                    Close(form);
                });
        },
        [&] {
            check.Fail("the grid does not list the peer's listener and connection:\n" +
                       form.GridModel().Rows().ToText());
            Close(form);
        });
}

}  // namespace
}  // namespace tarnwick

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s LISTEN_PORT CLIENT_PORT SIGNAL_FILE SCREENSHOT\n", argv[0]);
        return 2;
    }
    tarnwick::TCheck check{argv[1], argv[2], QString::fromLocal8Bit(argv[3]), QString::fromLocal8Bit(argv[4])};
    char* programOnly[] = {argv[0], nullptr};
    const int exitCode =
        tarnwick::RunWindowProgram(1, programOnly, [&check](tarnwick::TMain_F& form) { tarnwick::Watch(form, check); });
    if (exitCode != 0) std::fprintf(stderr, "FAIL: the window's program exited %d\n", exitCode);
    return exitCode == 0 && check.Failures == 0 ? 0 : 1;
}
