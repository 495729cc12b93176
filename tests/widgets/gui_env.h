#pragma once
// A QApplication on the offscreen platform for widget tests, and a window to host a control
// beside a field that can take the focus away from it.
#include <QLineEdit>
#include <QVBoxLayout>
#include <QWidget>

namespace kest::test {

// Types each character into whichever widget has the focus at that moment, as a user does.
void TypeKeys(const char* text);

class Host : public QWidget {
  public:
    explicit Host(QWidget* control) {
        auto* box = new QVBoxLayout(this);
        box->addWidget(control);
        other = new QLineEdit(this);
        other->setObjectName("other");
        box->addWidget(other);
    }
    // Shows the window and waits until it is active, so focus moves as with a user.
    bool Open();
    QLineEdit* other = nullptr;
};

}  // namespace kest::test
