#include "ui/ip_address_edit.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

namespace tarnwick {

namespace {

constexpr int kOctetWidth = 28;

}  // namespace

TIPAddressEdit::TIPAddressEdit(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::StrongFocus);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 1, 2, 1);
    layout->setSpacing(0);
    for (size_t i = 0; i < Octets_.size(); ++i) {
        if (i > 0) {
            auto* dot = new QLabel(QStringLiteral("."), this);
            dot->setForegroundRole(QPalette::Text);
            layout->addWidget(dot);
        }
        auto* octet = new QSpinBox(this);
        octet->setObjectName(QStringLiteral("Octet%1").arg(i + 1));
        octet->setRange(0, 255);
        octet->setButtonSymbols(QAbstractSpinBox::NoButtons);
        octet->setFrame(false);
        octet->setAlignment(Qt::AlignCenter);
        // A number typed beyond the range becomes the limit, not the old value.
        octet->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
        octet->setFixedWidth(kOctetWidth);
        octet->installEventFilter(this);
        layout->addWidget(octet);
        Octets_[i] = octet;
    }
    setFocusProxy(Octets_[0]);
}

uint32_t TIPAddressEdit::Value() const {
    uint32_t value = 0;
    for (const QSpinBox* octet : Octets_) value = (value << 8) | static_cast<uint32_t>(octet->value());
    return value;
}

void TIPAddressEdit::SetValue(uint32_t value) {
    for (size_t i = 0; i < Octets_.size(); ++i) Octets_[i]->setValue(static_cast<int>((value >> (8 * (3 - i))) & 0xFFu));
}

QString TIPAddressEdit::Text() const {
    const uint32_t value = Value();
    return QStringLiteral("%1.%2.%3.%4")
        .arg((value >> 24) & 0xFFu)
        .arg((value >> 16) & 0xFFu)
        .arg((value >> 8) & 0xFFu)
        .arg(value & 0xFFu);
}

bool TIPAddressEdit::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Period) {
            for (size_t i = 0; i + 1 < Octets_.size(); ++i) {
                if (watched != Octets_[i]) continue;
                if (!Octets_[i]->cleanText().isEmpty()) {
                    Octets_[i + 1]->setFocus(Qt::TabFocusReason);
                    Octets_[i + 1]->selectAll();
                }
                break;
            }
            return true;  // never typed into a number
        }
    }
    return QFrame::eventFilter(watched, event);
}

}  // namespace tarnwick
