#include "ui/msn_popup_form.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>

#include "common/window_platform.h"
#include "ui/banner.h"
#include "ui/form_style.h"
#include "ui/msn_popup.h"
#include "ui/popup_stack.h"
#include "ui/popup_text.h"

namespace tarnwick {

namespace {

constexpr int kTitleStripHeight = 28;
constexpr int kSlideInterval = 10;  // ms per slide step

}  // namespace

QPixmap PopupPicture() {
    QPixmap picture(kPopupWidth, kPopupHeight);
    QPainter painter(&picture);
    const QRect whole(0, 0, kPopupWidth, kPopupHeight);

    QLinearGradient panel(0, kTitleStripHeight, 0, kPopupHeight);
    panel.setColorAt(0, QColor(0xF2, 0xF7, 0xFD));
    panel.setColorAt(1, QColor(0xD3, 0xE3, 0xF6));
    painter.fillRect(whole, panel);

    QLinearGradient strip(0, 0, 0, kTitleStripHeight);
    strip.setColorAt(0, QColor(0xC4, 0xDA, 0xF3));
    strip.setColorAt(1, QColor(0x98, 0xBB, 0xE6));
    painter.fillRect(QRect(0, 0, kPopupWidth, kTitleStripHeight), strip);
    painter.setPen(QColor(0xE8, 0xF1, 0xFC));
    painter.drawLine(1, 1, kPopupWidth - 2, 1);
    painter.setPen(QColor(0x6F, 0x93, 0xC4));
    painter.drawLine(0, kTitleStripHeight, kPopupWidth - 1, kTitleStripHeight);

    // The header is drawn at (25, 7); the emblem sits left of it.
    painter.drawPixmap(QRect(5, 6, 16, 16), ApplicationIcon().pixmap(16, 16));

    // A soft field behind the message (the message label is at (7, 45), 168 x 44).
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QColor(0xAE, 0xC6, 0xE6));
    painter.setBrush(QColor(0xFF, 0xFF, 0xFF, 0xA0));
    painter.drawRoundedRect(QRectF(3.5, 38.5, kPopupWidth - 7, 57), 5, 5);
    painter.setRenderHint(QPainter::Antialiasing, false);

    painter.setBrush(Qt::NoBrush);
    painter.setPen(QColor(0x4F, 0x74, 0xA8));
    painter.drawRect(whole.adjusted(0, 0, -1, -1));
    return picture;
}

namespace {

// A tooltip-type window where the alert can be placed exactly; on Wayland a
// tool window, which the compositor shows wherever it likes but does show.
Qt::WindowFlags PopupWindowFlags() {
    const Qt::WindowType kind =
        PlatformPlacesWindows(QGuiApplication::platformName().toStdString()) ? Qt::ToolTip : Qt::Tool;
    return kind | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus;
}

}  // namespace

TMsnPopup_F::TMsnPopup_F(TUMSNPopup* owner) : QWidget(nullptr, PopupWindowFlags()), Owner_(owner) {
    setObjectName(QStringLiteral("MsnPopup_F"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_QuitOnClose, false);
    setFocusPolicy(Qt::NoFocus);
    resize(kPopupWidth, kPopupHeight);

    setFont(FormFont());
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, Qt::black);
    setPalette(colours);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->move(0, 0);
    SetPicture(PopupPicture());

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setTextFormat(Qt::PlainText);
    Label1->move(25, 7);

    Label2 = new QLabel(this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setTextFormat(Qt::PlainText);
    Label2->setGeometry(7, 45, 168, 44);
    Label2->setAlignment(Qt::AlignCenter);
    Label2->setWordWrap(true);
    Label2->setCursor(Qt::PointingHandCursor);
    Label2->installEventFilter(this);

    auto makeTimer = [this](const char* name, int interval, void (TMsnPopup_F::*handler)()) {
        auto* timer = new QTimer(this);
        timer->setObjectName(QLatin1String(name));
        timer->setInterval(interval);
        timer->setTimerType(Qt::PreciseTimer);
        connect(timer, &QTimer::timeout, this, handler);
        return timer;
    };
    PopupTimer = makeTimer("PopupTimer", kSlideInterval, &TMsnPopup_F::PopupTimerTimer);
    Popdowntimer = makeTimer("Popdowntimer", kSlideInterval, &TMsnPopup_F::PopdowntimerTimer);
    ExitTimer = makeTimer("ExitTimer", 10000, &TMsnPopup_F::ExitTimerTimer);
    ExitTimer->setTimerType(Qt::CoarseTimer);

    FormCreate();
}

void TMsnPopup_F::FormCreate() {
    FullWidth = width();
    FullHeight = height();
}

void TMsnPopup_F::SetPicture(const QPixmap& picture) {
    Image1->setPixmap(picture);
    Image1->resize(picture.size());
}

void TMsnPopup_F::Place(int top, int height) {
    Height_ = height;
    setGeometry(Left_, top, FullWidth, height);
}

void TMsnPopup_F::PopupAt(int left, int top) {
    SlotTop_ = top;
    Left_ = left;
    Place(top, 1);
    Label2->setText(QString::fromStdString(Message));
    show();
    PopupTimer->start();
}

void TMsnPopup_F::showEvent(QShowEvent* event) {
    // One break after the first 20 bytes; the label's word wrap does the rest.
    Label2->setText(QString::fromStdString(BreakPopupMessage(Message)));
    QWidget::showEvent(event);
}

void TMsnPopup_F::PopupTimerTimer() {
    const TSlideFrame frame = SlideInStep(SlotTop_, Height_, FullHeight);
    Place(frame.Top, frame.Height);
    if (frame.Done) {
        PopupTimer->stop();
        ExitTimer->start();
    }
}

void TMsnPopup_F::ExitTimerTimer() {
    Popdowntimer->start();
    ExitTimer->stop();
}

void TMsnPopup_F::PopdowntimerTimer() {
    const TSlideFrame frame = SlideOutStep(SlotTop_, Height_);
    Place(frame.Top, frame.Height);
    if (frame.Done) {
        Popdowntimer->stop();
        close();
    }
}

bool TMsnPopup_F::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Label2) {
        if (event->type() == QEvent::MouseButtonPress) {
            Label2Pressed_ = static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
        } else if (event->type() == QEvent::MouseButtonRelease) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const bool click = Label2Pressed_ && mouse->button() == Qt::LeftButton &&
                               Label2->rect().contains(mouse->position().toPoint());
            Label2Pressed_ = false;
            if (click) {
                Label2Click();
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TMsnPopup_F::Label2Click() {
    // Whatever the slide is doing: gone at once, then the owner hears of the click.
    const QPointer<TUMSNPopup> owner = Owner_;
    const std::string url = URL;
    close();
    if (owner) owner->DoURLClick(url);
}

void TMsnPopup_F::closeEvent(QCloseEvent* event) {
    if (!Closed_) {
        Closed_ = true;
        PopupTimer->stop();
        Popdowntimer->stop();
        ExitTimer->stop();
        if (Owner_) Owner_->WindowClosed(this);
    }
    event->accept();  // WA_DeleteOnClose frees the window once closing is complete
}

}  // namespace tarnwick
