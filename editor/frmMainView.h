#pragma once
// The editor's main window: binds the widgets of frmMain.ui to the frmMain controller and shows
// its dialogs.
#include <QMainWindow>
#include <memory>

#include "editor/frmMain.h"
#include "platform/host.h"

namespace Ui {
class frmMain;
}

namespace editor {

class frmMainView : public QMainWindow, public IMainDialogs, public IReverseChooser {
    Q_OBJECT

  public:
    explicit frmMainView(platform::ILauncher& launcher, QWidget* parent = nullptr);
    ~frmMainView() override;

    // Connects the widgets to the controller; call once, before Open.
    void Bind(frmMain& controller);
    // Shows the controller's state: lists, labels, enabled commands, the focus side.
    void Sync();

    void ShowRecordDialog(frmRec& dialog) override;
    std::string ChooseReverseZone(const std::vector<std::string>& candidates) override;

    Ui::frmMain& ui() { return *ui_; }
    // After opening, the zone list has the focus.
    void FocusZoneList();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    template <typename Command>
    void Run(Command command);
    void SyncZones();
    void SyncRecords();
    void SyncCommands();
    void PopUp(QWidget* list, const QPoint& at);

    platform::ILauncher& launcher_;
    std::unique_ptr<Ui::frmMain> ui_;
    frmMain* c_ = nullptr;
    int shownVersion_ = -1;
    bool syncing_ = false;
    bool closed_ = false;
};

}  // namespace editor
