#pragma once
// The record dialog's window: binds the widgets of frmRec.ui to the frmRec controller.
#include <QDialog>
#include <memory>

#include "editor/frmRec.h"
#include "platform/host.h"

namespace Ui {
class frmRec;
}

namespace editor {

class frmRecView : public QDialog {
    Q_OBJECT

  public:
    frmRecView(frmRec& controller, platform::ILauncher& launcher, QWidget* parent = nullptr);
    ~frmRecView() override;

    Ui::frmRec& ui() { return *ui_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Push();  // widgets into the controller
    void Pull();  // the controller into the widgets
    void ApplyFocus();
    void OK();

    frmRec& c_;
    platform::ILauncher& launcher_;
    std::unique_ptr<Ui::frmRec> ui_;
};

}  // namespace editor
