#include "ui/ip_address_edit.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QStackedLayout>

#include <optional>
#include <string>

#include "common/inet_address.h"
#include "common/text_util.h"

namespace tarnwick {

namespace {

constexpr int kOctetWidth = 28;
// The longest IPv6 text, ::ffff:255.255.255.255 style tails included.
constexpr int kMaxFreeTextLength = 45;

const QColor kNotAnAddress(0xC0, 0x00, 0x00);

// The free-text line's text as the address it names, in its usual form.
std::optional<std::string> AddressText(const QString& typed) {
    const std::string text = typed.trimmed().toStdString();
    if (const auto field = ParseDottedQuad(text)) return DottedText(*field);
    if (const auto address = ParseIp6(text)) return Ip6Text(*address);
    return std::nullopt;
}

bool IsDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

bool IsHexLetter(QChar c) {
    return (c >= QLatin1Char('a') && c <= QLatin1Char('f')) || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

// The text of a number's box once `typed` has replaced its selection (or
// gone in at the cursor). The 0 an untouched box shows is no typed digit.
QString EditedText(const QSpinBox* octet, const QString& typed) {
    const auto* line = octet->findChild<QLineEdit*>();
    if (line == nullptr || line->text() == QLatin1String("0")) return typed;
    QString text = line->text();
    if (line->hasSelectedText())
        text.replace(line->selectionStart(), line->selectedText().size(), typed);
    else
        text.insert(line->cursorPosition(), typed);
    return text;
}

}  // namespace

TIPAddressEdit::TIPAddressEdit(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::StrongFocus);
    setToolTip(QStringLiteral("An IPv4 address, or type ':' for an IPv6 address"));

    Pages_ = new QStackedLayout(this);
    Pages_->setContentsMargins(0, 0, 0, 0);

    OctetPage_ = new QWidget(this);
    auto* layout = new QHBoxLayout(OctetPage_);
    layout->setContentsMargins(2, 1, 2, 1);
    layout->setSpacing(0);
    for (size_t i = 0; i < Octets_.size(); ++i) {
        if (i > 0) {
            auto* dot = new QLabel(QStringLiteral("."), OctetPage_);
            dot->setForegroundRole(QPalette::Text);
            layout->addWidget(dot);
        }
        auto* octet = new QSpinBox(OctetPage_);
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
    Pages_->addWidget(OctetPage_);

    FreeText_ = new QLineEdit(this);
    FreeText_->setObjectName(QStringLiteral("FreeText"));
    FreeText_->setFrame(false);
    FreeText_->setContentsMargins(2, 1, 2, 1);
    FreeText_->setMaxLength(kMaxFreeTextLength);
    // Only what an address of either family is written with.
    FreeText_->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9A-Fa-f:.]*")), FreeText_));
    Pages_->addWidget(FreeText_);
    connect(FreeText_, &QLineEdit::editingFinished, this, &TIPAddressEdit::FreeTextFinished);
    connect(FreeText_, &QLineEdit::textChanged, this, &TIPAddressEdit::MarkFreeText);

    ShowOctets();
}

uint32_t TIPAddressEdit::Value() const {
    uint32_t value = 0;
    for (const QSpinBox* octet : Octets_) value = (value << 8) | static_cast<uint32_t>(octet->value());
    return value;
}

void TIPAddressEdit::SetValue(uint32_t value) {
    for (size_t i = 0; i < Octets_.size(); ++i) Octets_[i]->setValue(static_cast<int>((value >> (8 * (3 - i))) & 0xFFu));
    ShowOctets();
}

QString TIPAddressEdit::Text() const {
    if (IsFreeText()) {
        const auto address = AddressText(FreeText_->text());
        return address ? QString::fromStdString(*address) : FreeText_->text().trimmed();
    }
    const uint32_t value = Value();
    return QStringLiteral("%1.%2.%3.%4")
        .arg((value >> 24) & 0xFFu)
        .arg((value >> 16) & 0xFFu)
        .arg((value >> 8) & 0xFFu)
        .arg(value & 0xFFu);
}

void TIPAddressEdit::SetText(const QString& text) {
    const std::string typed = text.trimmed().toStdString();
    if (const auto field = ParseDottedQuad(typed)) {
        SetValue(SwapIPBytes(*field));
        return;
    }
    const auto address = ParseIp6(typed);
    ShowFreeText(address ? QString::fromStdString(Ip6Text(*address)) : text);
}

bool TIPAddressEdit::IsFreeText() const { return Pages_->currentWidget() == FreeText_; }

void TIPAddressEdit::ShowOctets() {
    const bool hadFocus = FreeText_->hasFocus();
    setFocusProxy(Octets_[0]);
    Pages_->setCurrentWidget(OctetPage_);
    if (hadFocus) Octets_[0]->setFocus(Qt::OtherFocusReason);
}

void TIPAddressEdit::ShowFreeText(const QString& text) {
    const bool hadFocus = OctetPage_->isAncestorOf(QApplication::focusWidget());
    FreeText_->setText(text);
    setFocusProxy(FreeText_);
    Pages_->setCurrentWidget(FreeText_);
    if (hadFocus) {
        FreeText_->setFocus(Qt::OtherFocusReason);
        FreeText_->end(false);
    }
}

void TIPAddressEdit::FreeTextFinished() {
    if (!IsFreeText()) return;
    const std::string text = FreeText_->text().trimmed().toStdString();
    if (text.empty()) {
        SetValue(0);
    } else if (const auto field = ParseDottedQuad(text)) {
        SetValue(SwapIPBytes(*field));
    }
}

void TIPAddressEdit::MarkFreeText() {
    // Red while the line names no address yet, so a typo shows before it is used.
    QPalette colours = palette();
    const QString text = FreeText_->text();
    if (!text.trimmed().isEmpty() && !AddressText(text)) colours.setColor(QPalette::Text, kNotAnAddress);
    FreeText_->setPalette(colours);
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
        const QString typed = key->text();
        const bool plain = !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
        if (plain && typed.size() == 1) {
            const QChar c = typed.front();
            const bool first = watched == Octets_[0];
            const QString edited = first ? EditedText(Octets_[0], typed) : typed;
            // "2001" is no number of an IPv4 address but the first group of an IPv6 one.
            const bool firstGroup = first && IsDigit(c) && edited.size() >= 4 && edited.toUInt() > 255;
            if (c == QLatin1Char(':') || IsHexLetter(c) || firstGroup) {
                ShowFreeText(edited);
                return true;
            }
        }
    }
    return QFrame::eventFilter(watched, event);
}

}  // namespace tarnwick
