// TIPAddressEdit: an address entry for either family. It shows four numbers
// 0..255 between dots for an IPv4 address: a '.' typed in a number moves on
// to the next one; a number typed beyond 255 becomes 255 when its box is
// left. Typing what only an IPv6 address holds (a ':', a hex letter, or a
// first group of four digits beyond 255) turns it into one free-text line,
// keeping what was typed; that line takes an address of either family, and
// when it is left holding a dotted address or nothing, the four numbers come
// back with that address (0.0.0.0 for nothing).
#pragma once

#include <QFrame>
#include <QString>

#include <array>
#include <cstdint>

class QLineEdit;
class QSpinBox;
class QStackedLayout;

namespace tarnwick {

class TIPAddressEdit final : public QFrame {
    Q_OBJECT
public:
    explicit TIPAddressEdit(QWidget* parent = nullptr);

    // The four numbers, the first in the most significant byte: 1.2.3.4 is
    // 0x01020304. SetValue shows the four numbers.
    uint32_t Value() const;
    void SetValue(uint32_t value);

    // The address shown. From the four numbers, dotted decimal ("1.2.3.4";
    // value 0 reads "0.0.0.0"). From the free-text line, an IPv6 address in
    // RFC 5952 form, a dotted one without leading zeros, anything else as
    // typed less surrounding blanks.
    QString Text() const;
    // Shows a dotted address in the four numbers and any other text (an IPv6
    // address in RFC 5952 form) in the free-text line.
    void SetText(const QString& text);

    // Whether the free-text line is shown instead of the four numbers.
    bool IsFreeText() const;

    // The box of number `index` (0 = first), and the free-text line.
    QSpinBox* Octet(int index) const { return Octets_.at(static_cast<size_t>(index)); }
    QLineEdit* FreeText() const { return FreeText_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowOctets();
    void ShowFreeText(const QString& text);
    // The free-text line was left: a dotted address or nothing goes back to the numbers.
    void FreeTextFinished();
    void MarkFreeText();

    std::array<QSpinBox*, 4> Octets_{};
    QStackedLayout* Pages_ = nullptr;
    QWidget* OctetPage_ = nullptr;
    QLineEdit* FreeText_ = nullptr;
};

}  // namespace tarnwick
