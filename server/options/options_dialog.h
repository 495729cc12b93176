#pragma once
// What the server's main window calls for "Options".
class QWidget;

namespace modMain {
class frmAlpha;
}

namespace modOptions {

// Shows the options dialog modally over parent (the main window, whose caption it sets) and
// applies what was confirmed to the server. True when the settings were applied; after a
// service was installed or removed the server has shut down and the program is ending.
bool ShowOptionsDialog(modMain::frmAlpha& server, QWidget* parent);

}  // namespace modOptions
