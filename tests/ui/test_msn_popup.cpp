// Alert popups on the offscreen platform: the slide, the stack of open
// windows, clicks on the message, and freeing.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

#include <memory>
#include <vector>

#include "ui/msn_popup.h"
#include "ui/msn_popup_form.h"

namespace tarnwick::testing {
namespace {

// Every geometry a window reports, with the time it was reported.
class TGeometryRecorder final : public QObject {
public:
    struct TFrame {
        QRect Geometry;
        qint64 At;
    };
    explicit TGeometryRecorder(QWidget* window) : Window_(window) {
        Clock_.start();
        window->installEventFilter(this);
    }
    std::vector<TFrame> Frames;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Resize || event->type() == QEvent::Move) {
            const QRect geometry = Window_->geometry();
            if (Frames.empty() || Frames.back().Geometry != geometry) Frames.push_back({geometry, Clock_.elapsed()});
        }
        return false;
    }

private:
    QWidget* Window_;
    QElapsedTimer Clock_;
};

class MsnPopup : public ::testing::Test {
protected:
    // Bottom row 599, alerts at x = 800 - 181 - 20.
    const QRect WorkArea{0, 0, 800, 600};
    std::unique_ptr<TUMSNPopup> Popup = std::make_unique<TUMSNPopup>(WorkArea);

    TMsnPopup_F* Open(const std::string& header, const std::string& text) {
        const size_t before = Popup->OpenWindows().size();
        Popup->Header = header;
        Popup->Text = text;
        Popup->ShowPopup();
        const std::vector<TMsnPopup_F*> open = Popup->OpenWindows();
        return open.size() > before ? open.back() : nullptr;
    }
};

TEST_F(MsnPopup, SlidesInByFiveRowsStaysThenSlidesOutAndFreesItself) {
    Popup->DisplayTime = std::chrono::milliseconds(200);
    QPointer<TMsnPopup_F> window = Open("\xC3\x9C" "berwachung", "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    ASSERT_TRUE(window);
    TGeometryRecorder recorder(window);

    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->parentWidget(), nullptr);
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_FALSE(window->testAttribute(Qt::WA_QuitOnClose));  // closing it never ends the program
    EXPECT_EQ(window->geometry(), QRect(599, 599, 181, 1));
    EXPECT_EQ(window->Label1->text(), QString::fromUtf8("\xC3\x9C" "berwachung"));
    EXPECT_EQ(window->Label1->pos(), QPoint(25, 7));
    EXPECT_EQ(window->Label2->text(), "ABCDEFGHIJKLMNOPQRST\nUVWXYZ");
    EXPECT_EQ(window->Label2->geometry(), QRect(7, 45, 168, 44));
    EXPECT_EQ(window->Image1->pixmap().size(), QSize(181, 116));
    EXPECT_EQ(Popup->Positions(), std::vector<int>{599});
    EXPECT_EQ(Popup->NextTop(), 479);

    ASSERT_TRUE(QTest::qWaitFor([&] { return window.isNull(); }, 5000));
    EXPECT_TRUE(Popup->Positions().empty());
    EXPECT_EQ(Popup->NextTop(), 599);

    std::vector<int> heights;
    for (const auto& frame : recorder.Frames) {
        heights.push_back(frame.Geometry.height());
        EXPECT_EQ(frame.Geometry.left(), 599);
        EXPECT_EQ(frame.Geometry.width(), 181);
        EXPECT_EQ(frame.Geometry.bottom(), 599) << frame.Geometry.height();
    }
    std::vector<int> expected;
    for (int h = 6; h <= 116; h += 5) expected.push_back(h);
    for (int h = 111; h >= 1; h -= 5) expected.push_back(h);
    EXPECT_EQ(heights, expected);
    // Fully in for the display time before the slide-out began.
    for (size_t i = 0; i + 1 < recorder.Frames.size(); ++i) {
        if (recorder.Frames[i].Geometry.height() == 116) {
            EXPECT_GE(recorder.Frames[i + 1].At - recorder.Frames[i].At, 150);
        }
    }
}

TEST_F(MsnPopup, AlertsStackUpwardsAndNoWindowOpensWithoutRoom) {
    Popup = std::make_unique<TUMSNPopup>(QRect(0, 0, 800, 400));  // bottom row 399
    std::vector<QPointer<TMsnPopup_F>> windows;
    for (const char* header : {"one", "two", "three"}) windows.emplace_back(Open(header, "text"));
    ASSERT_TRUE(windows[0] && windows[1] && windows[2]);
    EXPECT_EQ(windows[0]->SlotTop(), 399);
    EXPECT_EQ(windows[1]->SlotTop(), 279);
    EXPECT_EQ(windows[2]->SlotTop(), 159);
    EXPECT_EQ(windows[2]->geometry(), QRect(599, 159, 181, 1));

    const int topLevels = QApplication::topLevelWidgets().size();
    EXPECT_EQ(Open("four", "text"), nullptr);  // next position 39: no room
    EXPECT_EQ(QApplication::topLevelWidgets().size(), topLevels);

    // The top alert goes: its place is taken again by the next one.
    windows[2]->close();
    EXPECT_EQ(Popup->Positions(), (std::vector<int>{399, 279}));
    TMsnPopup_F* again = Open("four", "text");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->SlotTop(), 159);
    ASSERT_TRUE(QTest::qWaitFor([&] { return windows[2].isNull(); }, 2000));

    // Open alerts go with the component.
    QPointer<TMsnPopup_F> last = again;
    Popup.reset();
    EXPECT_TRUE(windows[0].isNull() && windows[1].isNull() && last.isNull());
}

TEST_F(MsnPopup, AClickOnTheMessageClosesAtOnceAndReportsTheUrl) {
    std::vector<std::string> clicked;
    Popup->OnURLClick = [&](TUMSNPopup& sender, const std::string& url) {
        EXPECT_EQ(&sender, Popup.get());
        clicked.push_back(url);
    };
    Popup->URL = "https://example.org/alert";
    QPixmap red(50, 40);
    red.fill(Qt::red);
    Popup->Background = red;
    QPointer<TMsnPopup_F> window = Open("rule", "message");
    ASSERT_TRUE(window);
    EXPECT_EQ(window->Image1->pixmap().size(), QSize(50, 40));

    // While it is still sliding in and the message is partly visible.
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->height() > 60; }, 2000));
    ASSERT_TRUE(window->PopupTimer->isActive());
    QTest::mouseClick(window->Label1, Qt::LeftButton);  // the header does nothing
    QTest::mouseClick(window->Image1, Qt::LeftButton, {}, QPoint(3, 3));  // nor the picture
    EXPECT_FALSE(window->Closed());
    EXPECT_TRUE(clicked.empty());

    QTest::mouseClick(window->Label2, Qt::LeftButton, {}, QPoint(84, 5));
    EXPECT_TRUE(window->Closed());
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->PopupTimer->isActive());
    EXPECT_EQ(clicked, std::vector<std::string>{"https://example.org/alert"});
    EXPECT_TRUE(Popup->Positions().empty());
    EXPECT_EQ(Popup->NextTop(), 599);
    EXPECT_TRUE(Popup->OpenWindows().empty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.isNull(); }, 2000));

    // Without a handler a click only closes.
    Popup->OnURLClick = nullptr;
    window = Open("rule", "message");
    ASSERT_TRUE(window);
    QTest::mouseClick(window->Label2, Qt::LeftButton);
    EXPECT_TRUE(window->Closed());
    EXPECT_EQ(clicked.size(), 1u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.isNull(); }, 2000));
}

}  // namespace
}  // namespace tarnwick::testing
