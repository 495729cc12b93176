#pragma once
// The Qt views of the server's windows: thin bindings of the .ui layouts to the controllers.
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>

#include "platform/settings_store.h"
#include "server/frmAlpha.h"
#include "server/ui/frmGraph.h"
#include "server/ui/frmMain.h"

class QMdiSubWindow;
class QMenu;
class QProgressDialog;
class QTimer;
namespace Ui {
class frmMain;
class frmGraph;
class frmLog;
class frmLeases;
}  // namespace Ui
namespace platform {
class Tray;
}

namespace serverui {

// The graph's drawing area.
class GraphArea : public QWidget {
    Q_OBJECT
  public:
    explicit GraphArea(QWidget* parent = nullptr);
    // The counts and the present second to draw.
    std::function<GraphDrawing(int width, int height)> draw;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

class frmGraphView : public QWidget {
    Q_OBJECT
  public:
    explicit frmGraphView(modMain::frmAlpha& alpha, QWidget* parent = nullptr);
    ~frmGraphView() override;
    void Redraw();

  private:
    std::unique_ptr<Ui::frmGraph> ui_;
};

class frmLogView : public QWidget {
    Q_OBJECT
  public:
    explicit frmLogView(modMain::ActivityLog& log, QWidget* parent = nullptr);
    ~frmLogView() override;
    void Clear();
    int LineCount() const;
    QString Line(int row) const;

  private:
    void Append(const std::string& line);
    std::unique_ptr<Ui::frmLog> ui_;
    modMain::ActivityLog& log_;
};

class frmLeasesView : public QWidget {
    Q_OBJECT
  public:
    explicit frmLeasesView(frmLeases& leases, QWidget* parent = nullptr);
    ~frmLeasesView() override;
    void Fill();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Delete();
    std::unique_ptr<Ui::frmLeases> ui_;
    frmLeases& leases_;
};

class frmMainView : public QMainWindow, public IMainView {
    Q_OBJECT
  public:
    frmMainView(frmMain& controller, platform::IPrompt* prompt, platform::SettingsStore* store,
                QWidget* parent = nullptr);
    ~frmMainView() override;

    // IMainView
    void ShowChild(Child child) override;
    bool Minimized() const override;
    void CloseMain() override;
    void Refresh() override;
    void RedrawGraph() override;
    void RefreshLeases() override;
    void ClearLogList() override;
    void ShowAbout() override;
    bool DownloadProgress(int64_t received, int64_t total) override;
    void DownloadDone() override;

    frmLogView* LogView() const { return log_; }
    frmGraphView* GraphView() const { return graph_; }
    frmLeasesView* LeasesView() const { return leases_; }

    // Writes "MainWindows": the main window's and the child windows' places.
    void SaveWindowsPos();

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    QMdiSubWindow* AddChild(QWidget* view, const char* key, Child child);
    std::string ChildPlace(const char* key) const;

    std::unique_ptr<Ui::frmMain> ui_;
    frmMain& ctl_;
    platform::IPrompt* prompt_;
    platform::SettingsStore* store_;
    QLabel* pnlPicture_ = nullptr;
    QLabel* pnlStatus_ = nullptr;
    QLabel* pnlRequests_ = nullptr;
    QLabel* pnlCache_ = nullptr;
    QPointer<frmGraphView> graph_;
    QPointer<frmLogView> log_;
    QPointer<frmLeasesView> leases_;
    QProgressDialog* progress_ = nullptr;
    bool closing_ = false;
    QTimer* saveLater_ = nullptr;  // gathers a drag's many moves into one write
};

// The desktop's window set: the main window controller (which outlives the main window, since the
// window exists only while it is open), the main window itself and the tray menu.
class ServerWindows : public modMain::IServerWindows {
  public:
    // store null: the user's window settings store (QSettings, organisation and application
    // of the program).
    ServerWindows(modMain::frmAlpha& alpha, platform::IPrompt* prompt,
                  platform::ILauncher* launcher, platform::SettingsStore* store,
                  platform::Tray* tray);
    ~ServerWindows() override;

    bool MainOpen() const override;
    void ShowMain() override;
    void StatusChanged() override;
    void DisplayStep() override;

    frmMain& Controller() { return ctl_; }
    frmMainView* MainView() const { return view_; }
    QMenu* TrayMenu() const { return trayMenu_.get(); }

  private:
    class Fetcher;
    std::unique_ptr<platform::SettingsStore> ownStore_;  // first: outlives what uses it
    modMain::frmAlpha& alpha_;
    platform::IPrompt* prompt_;
    platform::SettingsStore* store_;
    platform::Tray* tray_;
    std::unique_ptr<Fetcher> fetcher_;
    frmMain ctl_;
    QPointer<frmMainView> view_;
    std::unique_ptr<QMenu> trayMenu_;
};

}  // namespace serverui
