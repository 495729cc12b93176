#pragma once
// The windows of the zone-making dialogs: each binds the widgets of its .ui file to its
// controller. ZoneDialogsView shows them for the main window.
#include <QDialog>
#include <memory>

#include "editor/frmArpa.h"
#include "editor/frmArpaLU.h"
#include "editor/frmCopy.h"
#include "editor/frmQuick.h"
#include "editor/frmZone.h"
#include "editor/zone_commands.h"
#include "platform/host.h"

namespace Ui {
class frmZone;
class frmQuick;
class frmCopy;
class frmArpa;
class frmArpaLU;
}  // namespace Ui

namespace editor {

class frmZoneView : public QDialog {
    Q_OBJECT
  public:
    frmZoneView(frmZone& controller, platform::ILauncher& launcher, QWidget* parent = nullptr);
    ~frmZoneView() override;
    Ui::frmZone& ui() { return *ui_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Push();
    void Pull();
    void OK();
    frmZone& c_;
    std::unique_ptr<Ui::frmZone> ui_;
};

class frmQuickView : public QDialog {
    Q_OBJECT
  public:
    frmQuickView(frmQuick& controller, platform::ILauncher& launcher, QWidget* parent = nullptr);
    ~frmQuickView() override;
    Ui::frmQuick& ui() { return *ui_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Push();
    void Pull();
    frmQuick& c_;
    std::unique_ptr<Ui::frmQuick> ui_;
};

class frmCopyView : public QDialog {
    Q_OBJECT
  public:
    frmCopyView(frmCopy& controller, platform::ILauncher& launcher, QWidget* parent = nullptr);
    ~frmCopyView() override;
    Ui::frmCopy& ui() { return *ui_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    frmCopy& c_;
    std::unique_ptr<Ui::frmCopy> ui_;
};

class frmArpaLUView : public QDialog {
    Q_OBJECT
  public:
    frmArpaLUView(frmArpaLU& controller, QWidget* parent = nullptr);
    ~frmArpaLUView() override;
    Ui::frmArpaLU& ui() { return *ui_; }
    // Brings the window up to the controller (after a reply or a tick).
    void Pull();

  private:
    frmArpaLU& c_;
    std::unique_ptr<Ui::frmArpaLU> ui_;
    class QTimer* timer_;
};

class frmArpaView : public QDialog {
    Q_OBJECT
  public:
    frmArpaView(frmArpa& controller, const clEditor& ed, platform::ILauncher& launcher,
                QWidget* parent = nullptr);
    ~frmArpaView() override;
    Ui::frmArpa& ui() { return *ui_; }
    // The host name dialog and the auto fill dialog, for the selected rows.
    void Edit();
    void AutoFill();
    void LookUp();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void PushSelection();
    void Pull();
    void OK();
    frmArpa& c_;
    const clEditor& ed_;
    std::unique_ptr<Ui::frmArpa> ui_;
    int shownRows_ = -1;
};

// Shows the zone-making dialogs modally over the main window.
class ZoneDialogsView : public IZoneDialogs {
  public:
    ZoneDialogsView(QWidget* parent, const clEditor& ed, platform::ILauncher& launcher)
        : parent_(parent), ed_(ed), launcher_(launcher) {}
    void ShowZone(frmZone& dialog) override;
    void ShowQuick(frmQuick& dialog) override;
    void ShowCopy(frmCopy& dialog) override;
    void ShowArpa(frmArpa& dialog) override;

  private:
    QWidget* parent_;
    const clEditor& ed_;
    platform::ILauncher& launcher_;
};

}  // namespace editor
