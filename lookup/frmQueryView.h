#pragma once
// The look-up window: widgets from frmQuery.ui bound to the controller. No logic of its own.
#include <QMainWindow>
#include <memory>

#include "lookup/frmQuery.h"

class QLabel;
class QMenu;
class QToolButton;

namespace platform {
class SettingsStore;
}

namespace Ui {
class frmQuery;
}

namespace lookup {

class frmQueryView : public QMainWindow {
  public:
    // store: the per-user settings (read now, written when the window closes).
    frmQueryView(frmQuery& query, platform::SettingsStore& store, QWidget* parent = nullptr);
    ~frmQueryView() override;

    Ui::frmQuery& Widgets() { return *ui_; }
    QToolButton* LookUpButton() const { return lookUpButton_; }
    // Copies the controller's state into the widgets.
    void Refresh();

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildTypeMenus();
    frmQuery& query_;
    platform::SettingsStore& store_;
    std::unique_ptr<Ui::frmQuery> ui_;
    QLabel* statusIcon_ = nullptr;
    QLabel* statusText_ = nullptr;
    QToolButton* lookUpButton_ = nullptr;
    QMenu* dropDown_ = nullptr;
    bool refreshing_ = false;
};

}  // namespace lookup
