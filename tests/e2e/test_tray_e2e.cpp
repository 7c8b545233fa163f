// The start in the tray on a real X server with a real tray host: with "Tray"
// on, the window shows, hides into the tray, and comes back on restore.
#include <gtest/gtest.h>

#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "main_services.h"
#include "ui/main_form.h"
#include "ui/scripted_boxes.h"

namespace tarnwick {
namespace {


TEST(TrayEndToEnd, StartsInTheTrayWithTrayOnAndComesBackOnRestore) {
    ASSERT_TRUE(QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10000))
        << "no tray host on this display";
    char pattern[] = "/tmp/tarnwick-tray-XXXXXX";
    const std::string folder = mkdtemp(pattern);
    std::ofstream(folder + "/Option.ini") << "[Option]\nTray=1\n";

    TLinuxServices services(folder + "/autostart");
    testing::TScriptedBoxes boxes(true);
    {
        TMain_F form(MainServicesOf(services, boxes, folder, folder + "/tarnwick", {folder, folder}));
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        ASSERT_TRUE(QTest::qWaitFor([&] { return form.TrayDone && !form.isVisible(); }, 5000));
        EXPECT_TRUE(form.TrayIcon->isVisible());

        emit form.TrayIcon->activated(QSystemTrayIcon::DoubleClick);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        QTest::qWait(600);  // twice the tray delay: it must not hide again
        EXPECT_TRUE(form.isVisible());
        EXPECT_FALSE(form.isMinimized());

        // Minimised, only the tray icon remains; Restore brings the window back.
        form.showMinimized();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !form.isVisible(); }, 3000));
        form.RefreshConnectionList1->trigger();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&form));
        EXPECT_TRUE(form.close());
    }
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace tarnwick
