#pragma once
// The tray icon: a QSystemTrayIcon when there is a QApplication and a system tray; otherwise
// only the state is kept (and readable).
#include <functional>
#include <memory>
#include <string>

#include "platform/host.h"

class QMenu;

namespace platform {

class Tray : public ITray {
  public:
    Tray();
    ~Tray() override;
    Tray(const Tray&) = delete;
    Tray& operator=(const Tray&) = delete;

    void Show() override;
    void Remove() override;
    // 0 running (green), 1 request just handled (amber), 2 stopped or failed (red).
    void SetIcon(int icon) override;
    void SetTip(const std::string& tip) override;

    int Icon() const { return icon_; }
    const std::string& Tip() const { return tip_; }
    bool Shown() const { return shown_; }
    // A real tray icon is behind this object.
    bool HasSystemTray() const;

    // A click (or activation) on the icon.
    std::function<void()> OnClick;
    // The menu of a right click on the icon (owned by the caller; null for none).
    void SetContextMenu(QMenu* menu);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    int icon_ = 0;
    std::string tip_;
    bool shown_ = false;
    void Update();
};

}  // namespace platform
