#pragma once
// The options dialog's Qt view: binds the widgets of frmOptions.ui to the controller's fields and
// passes the events on. No checks or rules of its own.
#include <QDialog>
#include <memory>

#include "server/options/frmOptions.h"

namespace Ui {
class frmOptions;
}

namespace modOptions {

class frmOptionsView : public QDialog {
    Q_OBJECT

  public:
    frmOptionsView(frmOptions& controller, QWidget* parent = nullptr);
    ~frmOptionsView() override;

    // Controller to widgets, and back.
    void Push();
    void Pull();

    // What the last "O K" came to (Stay while the dialog is open or after Cancel).
    frmOptions::Outcome Result() const { return outcome_; }
    Ui::frmOptions& Widgets() { return *ui_; }

  private:
    void OnOK();
    // Pulls the widgets, runs an event of the controller, pushes the result back.
    template <typename F>
    void Event(F&& f);

    frmOptions& ctl_;
    std::unique_ptr<Ui::frmOptions> ui_;
    frmOptions::Outcome outcome_ = frmOptions::Outcome::Stay;
};

}  // namespace modOptions
