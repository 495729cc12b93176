#include "widgets/lock_edit.h"

#include <QApplication>
#include <QLineEdit>
#include <QPalette>

namespace kestwidgets {

void LockEdit(QLineEdit* edit, bool locked) {
    edit->setReadOnly(locked);
    edit->setFocusPolicy(locked ? Qt::ClickFocus : Qt::StrongFocus);
    QPalette p = edit->palette();
    p.setColor(QPalette::Base,
               QApplication::palette(edit).color(locked ? QPalette::Button : QPalette::Base));
    edit->setPalette(p);
}

}  // namespace kestwidgets
