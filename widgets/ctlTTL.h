#pragma once
// A time-to-live entry: seconds shown as days, hours and minutes, each with a spin bar.
#include <QWidget>
#include <array>
#include <cstdint>

class QLabel;
class QLineEdit;
class QScrollBar;

class ctlTTL : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int TTL READ Seconds WRITE SetSeconds)
    Q_PROPERTY(bool Locked READ Locked WRITE SetLocked)

  public:
    explicit ctlTTL(QWidget* parent = nullptr);

    // The value given to SetSeconds until the user changes a field or a spin bar; from then on the
    // days, hours and minutes shown.
    int32_t Seconds() const;
    // Shows the value in whole minutes, at most 9 days 23 hours 59 minutes.
    void SetSeconds(int32_t seconds);

    bool Locked() const { return locked_; }
    // Read-only fields in the button-face colour, out of the tab order, spin bars disabled.
    void SetLocked(bool locked);

    int32_t WhatsThisHelpIDD() const { return helpId_; }
    void SetWhatsThisHelpIDD(int32_t id) { helpId_ = id; }

    // What leaving each field does; dialogs call it before reading Seconds. Idempotent.
    void Normalize();

    // Field i: 0 days, 1 hours, 2 minutes; its spin bar and caption.
    QLineEdit* Field(int i) const { return fields_[static_cast<size_t>(i)]; }
    QScrollBar* Spin(int i) const { return spins_[static_cast<size_t>(i)]; }
    QLabel* Caption(int i) const { return labels_[static_cast<size_t>(i)]; }

  signals:
    // The value was set or changed by the user.
    void Changed();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    int IndexOf(QObject* o) const;
    void NormalizeField(int i);
    void ShowOnSpin(int i);
    void SetSpin(int i, int number);

    std::array<QLineEdit*, 3> fields_{};
    std::array<QLabel*, 3> labels_{};
    std::array<QScrollBar*, 3> spins_{};
    int32_t given_ = 0;
    bool touched_ = false;
    bool locked_ = false;
    int32_t helpId_ = 0;
};
