// The real program on a real X display (Xvfb): the Linux services, a loopback
// connection of our own showing up in the grid and the log, and the confirmed close.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "main_services.h"
#include "ui/connection_grid_model.h"
#include "ui/main_form.h"
#include "ui/scripted_boxes.h"

namespace tarnwick {
namespace {


uint16_t LocalPort(int fd) {
    sockaddr_in addr{};
    socklen_t length = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
    return ntohs(addr.sin_port);
}

bool LogHas(const TEventLog& log, LogKind kind, const std::string& text) {
    for (const TLogEntry& entry : log.Entries())
        if (entry.Kind == kind && entry.Line.find(text) != std::string::npos) return true;
    return false;
}

TEST(MainWindowEndToEnd, ShowsAndLogsALoopbackConnectionThenClosesOnYes) {
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    TLinuxServices services("/nonexistent-tarnwick-folder/autostart");
    testing::TScriptedBoxes boxes(true);
    const std::string folder = "/nonexistent-tarnwick-folder";
    TMain_F form(MainServicesOf(services, boxes, folder, folder + "/tarnwick", {folder, folder}));
    ASSERT_TRUE(form.TablesBound());
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));

    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    addr.sin_port = htons(LocalPort(listener));
    const int client = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    const int server = accept(listener, nullptr, nullptr);
    ASSERT_GE(server, 0);
    const std::string serverPort = std::to_string(LocalPort(listener));
    const std::string clientPort = std::to_string(LocalPort(client));

    // Within a few timer ticks the connection is in the grid and the log.
    form.RefreshConnections();
    ASSERT_TRUE(QTest::qWaitFor([&] { return LogHas(form.Log(), lkConnect, " On Port:" + serverPort); }, 10000));
    const TGridRows& rows = form.GridModel().Rows();
    bool listed = false;
    for (int r = 1; r < rows.RowCount(); ++r)
        listed = listed || (rows.Row(r).LocalPort == clientPort && rows.Row(r).Status == "Established");
    EXPECT_TRUE(listed);

    // Closing both ends: the end that closes last goes away at once and is logged as gone.
    close(client);
    close(server);
    close(listener);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return LogHas(form.Log(), lkDisconnect, "DisConnected to 127.0.0.1 On Port:" + clientPort) ||
                   LogHas(form.Log(), lkDisconnect, "DisConnected to 127.0.0.1 On Port:" + serverPort);
        },
        15000));

    EXPECT_TRUE(form.close());
    EXPECT_EQ(boxes.Asked, std::vector<QString>{"Are you sure Exit?"});
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(form.Timer1->isActive());
}

}  // namespace
}  // namespace tarnwick
