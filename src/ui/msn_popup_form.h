// TMsnPopup_F: one alert window. Borderless, on top of everything, never
// taking the focus, without a task bar entry and without a parent, so alerts
// show also while the main window is hidden in the tray. It slides up from
// its stack position, stays, slides down and frees itself; a click on the
// message closes it at once.
#pragma once

#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <string>

namespace tarnwick {

class TUMSNPopup;

// The alert's own background: a pale blue panel with a title strip and the
// program's emblem in it, 181 x 116.
QPixmap PopupPicture();

class TMsnPopup_F final : public QWidget {
    Q_OBJECT
public:
    // The window has no parent; `owner` gets the stack position back on close.
    explicit TMsnPopup_F(TUMSNPopup* owner);

    // Places the window, one row high, with its bottom row on `top`, shows
    // it and starts the slide-in.
    void PopupAt(int left, int top);
    // Replaces the background picture; Image1 takes the picture's size.
    void SetPicture(const QPixmap& picture);

    int SlotTop() const { return SlotTop_; }
    // Closed (hidden and waiting to be freed).
    bool Closed() const { return Closed_; }
    // The owner is going away: closing no longer reports to it.
    void Detach() { Owner_ = nullptr; }

    QLabel* Image1 = nullptr;  // background picture
    QLabel* Label1 = nullptr;  // header
    QLabel* Label2 = nullptr;  // message; a click closes the window
    QTimer* PopupTimer = nullptr;
    QTimer* Popdowntimer = nullptr;
    QTimer* ExitTimer = nullptr;

    std::string URL;
    std::string Message;
    int FullWidth = 0;
    int FullHeight = 0;

protected:
    void showEvent(QShowEvent* event) override;    // FormShow
    void closeEvent(QCloseEvent* event) override;  // FormClose
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void PopupTimerTimer();
    void PopdowntimerTimer();
    void ExitTimerTimer();
    void Label2Click();
    void Place(int top, int height);

    QPointer<TUMSNPopup> Owner_;
    int SlotTop_ = 0;
    int Left_ = 0;
    int Height_ = 0;  // as last set; the window system may report it later
    bool Closed_ = false;
    bool Label2Pressed_ = false;
};

}  // namespace tarnwick
