// TUMSNPopup: the alert popup component the main window owns as `Popup`.
// Callers set Header and Text (and optionally URL, Background, OnURLClick)
// and call ShowPopup(); each call opens a fresh TMsnPopup_F that slides up at
// the lower right of the primary screen's work area, stays for DisplayTime,
// slides down and frees itself. Open alerts stack upwards 120 pixels apart.
#pragma once

#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QRect>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "ui/popup_stack.h"

namespace tarnwick {

class TMsnPopup_F;
class TUMSNPopup;

using TUURLClick = std::function<void(TUMSNPopup& sender, const std::string& url)>;

class TUMSNPopup final : public QObject {
    Q_OBJECT
public:
    // Reads the work area of the primary screen once; later changes of the
    // panels do not move the stack.
    explicit TUMSNPopup(QObject* owner = nullptr);
    // With a given work area (tests, or a chosen screen).
    explicit TUMSNPopup(const QRect& workArea, QObject* owner = nullptr);
    // Open alerts go with the component.
    ~TUMSNPopup() override;

    // Copied into each new alert when it holds an image; otherwise alerts
    // keep their own picture.
    QPixmap Background;
    std::string Header;  // header line of the next alert
    std::string Text;    // message of the next alert
    std::string URL;     // handed to OnURLClick when an alert's message is clicked
    TUURLClick OnURLClick;
    // How long an alert stays fully shown before it slides out.
    std::chrono::milliseconds DisplayTime{10000};

    // Opens one alert with the current Header, Text, URL and Background. An
    // alert for which there is no room in the work area is dropped silently.
    void ShowPopup();
    // An alert at stack position `position` has closed.
    void ReleasePosition(int position);
    // Fires OnURLClick when it is set.
    void DoURLClick(const std::string& url);

    const QRect& WorkArea() const { return WorkArea_; }
    int NextTop() const { return Stack_.NextTop(); }
    // Stack positions of the open alerts, in the order they opened.
    const std::vector<int>& Positions() const { return Stack_.Positions(); }
    // The alerts that are open now (not yet closed), in the order they opened.
    std::vector<TMsnPopup_F*> OpenWindows() const;

private:
    friend class TMsnPopup_F;
    void WindowClosed(TMsnPopup_F* window);

    QRect WorkArea_;
    TPopupStack Stack_;
    std::vector<QPointer<TMsnPopup_F>> Windows_;
};

}  // namespace tarnwick
