// What the grid and the log actually draw.
#include "ui/main_form_fixture.h"

#include <QImage>
#include <QPainter>

#include "ui/connection_grid.h"
#include "ui/log_glyphs.h"
#include "ui/log_list.h"

namespace tarnwick::testing {
namespace {

QImage Render(QWidget* widget) {
    QImage image(widget->size(), QImage::Format_RGB32);
    image.fill(Qt::magenta);
    widget->render(&image);
    return image;
}

bool RowHasColour(const QImage& image, int y, QColor colour, int fromX = 0) {
    for (int x = fromX; x < image.width(); ++x)
        if (image.pixelColor(x, y) == colour) return true;
    return false;
}

using Drawing = MainFormFixture;

TEST_F(Drawing, HeaderIsGreyRuledEveryThirdPixelWithAShadowedTitle) {
    TMain_F& form = Create();
    form.show();
    ASSERT_TRUE(WaitForRefreshes(1));
    QHeaderView* header = form.grdNetStatList->horizontalHeader();
    const QImage image = Render(header);
    ASSERT_EQ(image.height(), kGridRowHeight);
    const int x = header->sectionSize(0) - 4;  // right of the title text
    for (int y = 0; y < kGridRowHeight; ++y)
        EXPECT_EQ(image.pixelColor(x, y), y % 3 == 0 ? QColor(Qt::black) : QColor(0x80, 0x80, 0x80)) << y;
    bool white = false;
    for (int y = 0; y < kGridRowHeight; ++y) white = white || RowHasColour(image, y, Qt::white);
    EXPECT_TRUE(white);
}

TEST_F(Drawing, DataRowsAreGreenOnBlackEighteenPixelsHigh) {
    TMain_F& form = Create();
    form.show();
    ASSERT_TRUE(WaitForRefreshes(1));
    QCoreApplication::processEvents();
    EXPECT_EQ(form.grdNetStatList->rowHeight(0), 18);
    const QImage image = Render(form.grdNetStatList->viewport());
    EXPECT_EQ(image.pixelColor(1, 1), QColor(Qt::black));
    bool green = false;
    for (int y = 0; y < 18; ++y) green = green || RowHasColour(image, y, QColor(0, 255, 0));
    EXPECT_TRUE(green);
}

TEST_F(Drawing, LogEntriesCarryTheirKindsGlyphAndColour) {
    TMain_F& form = Create();
    form.show();
    ASSERT_TRUE(WaitForRefreshes(1));
    form.Log().Clear();
    const LogKind kinds[] = {lkInfo, lkRule, lkConnect, lkDisconnect};
    for (LogKind kind : kinds) form.AddLog("entry", kind);
    QTest::qWait(20);
    const QImage image = Render(form.lstLog->viewport());
    for (int i = 0; i < 4; ++i) {
        const int top = i * kLogRowHeight;
        EXPECT_EQ(form.lstLog->visualRect(form.lstLog->model()->index(i, 0)).top(), top);
        bool coloured = false;
        for (int y = top; y < top + kLogRowHeight; ++y)
            coloured = coloured || RowHasColour(image, y, LogScreenColour(kinds[i]), kLogTextLeft);
        EXPECT_TRUE(coloured) << "kind " << i;
        // The glyph is at the left edge: the disc's colour shows at its middle.
        EXPECT_NE(image.pixelColor(3, top + 8), QColor(Qt::black)) << "kind " << i;
    }
    EXPECT_EQ(LogScreenColour(lkInfo), QColor(0x9C, 0xFF, 0x9C));
    EXPECT_EQ(LogScreenColour(lkRule), QColor(0xFF, 0xC6, 0xCE));
    EXPECT_EQ(LogScreenColour(lkConnect), QColor(0x00, 0xFF, 0xFF));
    EXPECT_EQ(LogScreenColour(lkDisconnect), QColor(0xFF, 0xFF, 0x00));
    EXPECT_TRUE(form.lstLog->EntryFont().bold());
    EXPECT_EQ(form.lstLog->EntryFont().pointSize(), 9);
}

}  // namespace
}  // namespace tarnwick::testing
