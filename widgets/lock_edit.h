#pragma once
// Locked text boxes, as every dialog shows them.
class QLineEdit;

namespace kestwidgets {

// Read-only, out of the tab order (a click still selects text to copy), in the button-face colour.
void LockEdit(QLineEdit* edit, bool locked);

}  // namespace kestwidgets
