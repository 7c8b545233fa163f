#include "ui/msn_popup.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

#include "ui/msn_popup_form.h"

namespace tarnwick {

namespace {

QRect PrimaryWorkArea() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

}  // namespace

TUMSNPopup::TUMSNPopup(QObject* owner) : TUMSNPopup(PrimaryWorkArea(), owner) {}

TUMSNPopup::TUMSNPopup(const QRect& workArea, QObject* owner)
    : QObject(owner), WorkArea_(workArea), Stack_(workArea.top(), workArea.bottom()) {}

TUMSNPopup::~TUMSNPopup() {
    for (const QPointer<TMsnPopup_F>& window : Windows_) {
        if (!window) continue;
        window->Detach();
        // A closed alert may still be inside its own click handler; its
        // deferred deletion frees it. Open ones go now.
        if (!window->Closed()) delete window.data();
    }
}

void TUMSNPopup::ShowPopup() {
    const std::optional<int> top = Stack_.Take();
    if (!top) return;
    std::erase_if(Windows_, [](const QPointer<TMsnPopup_F>& window) { return window.isNull(); });
    auto* window = new TMsnPopup_F(this);
    Windows_.emplace_back(window);
    if (!Background.isNull()) window->SetPicture(Background);
    window->Label1->setText(QString::fromStdString(Header));
    window->Label1->adjustSize();
    window->URL = URL;
    window->Message = Text;
    window->ExitTimer->setInterval(DisplayTime);
    window->PopupAt(PopupLeft(WorkArea_.x() + WorkArea_.width()), *top);
}

void TUMSNPopup::ReleasePosition(int position) { Stack_.Release(position); }

void TUMSNPopup::DoURLClick(const std::string& url) {
    if (OnURLClick) OnURLClick(*this, url);
}

std::vector<TMsnPopup_F*> TUMSNPopup::OpenWindows() const {
    std::vector<TMsnPopup_F*> open;
    for (const QPointer<TMsnPopup_F>& window : Windows_)
        if (window && !window->Closed()) open.push_back(window.data());
    return open;
}

void TUMSNPopup::WindowClosed(TMsnPopup_F* window) { ReleasePosition(window->SlotTop()); }

}  // namespace tarnwick
