// TIPAddressEdit: an IPv4 address entry of four numbers 0..255 between dots.
// A '.' typed in a number moves on to the next one; a number typed beyond 255
// becomes 255 when its box is left.
#pragma once

#include <QFrame>
#include <QString>

#include <array>
#include <cstdint>

class QSpinBox;

namespace tarnwick {

class TIPAddressEdit final : public QFrame {
    Q_OBJECT
public:
    explicit TIPAddressEdit(QWidget* parent = nullptr);

    // The address with the first number in the most significant byte:
    // 1.2.3.4 is 0x01020304.
    uint32_t Value() const;
    void SetValue(uint32_t value);
    // Dotted decimal: "1.2.3.4"; value 0 reads "0.0.0.0".
    QString Text() const;

    // The box of number `index` (0 = first).
    QSpinBox* Octet(int index) const { return Octets_.at(static_cast<size_t>(index)); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::array<QSpinBox*, 4> Octets_{};
};

}  // namespace tarnwick
