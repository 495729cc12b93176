#pragma once
// An IPv4 address entry of four one-byte fields that normalises what is typed, so a dialog can
// read a clean dotted address at any time.
#include <QFrame>
#include <array>
#include <string>
#include <string_view>

class QLabel;
class QLineEdit;

class ctlIP : public QFrame {
    Q_OBJECT
    Q_PROPERTY(bool Locked READ Locked WRITE SetLocked)

  public:
    explicit ctlIP(QWidget* parent = nullptr);

    // The dotted address; empty when the fields are empty or hold 0.0.0.0.
    std::string Text() const;
    // Cleans the address; 0.0.0.0 (or anything that reads as it) empties the fields.
    void SetText(std::string_view text);

    bool Locked() const { return locked_; }
    // Read-only, in the button-face colour and out of the tab order while locked.
    void SetLocked(bool locked);

    // What leaving the fields and the control does; dialogs call it before reading Text, since a
    // default button takes no focus. Running it twice changes nothing more.
    void Normalize();

    // The field of byte i (0 to 3), for views that label it and for tests.
    QLineEdit* Field(int i) const { return fields_[static_cast<size_t>(i)]; }

  signals:
    // The address was set or edited.
    void Changed();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    int IndexOf(QObject* o) const;
    void NormalizeField(int i);
    void Focus(int i);

    std::array<QLineEdit*, 4> fields_{};
    std::array<QLabel*, 3> dots_{};
    bool locked_ = false;
};
