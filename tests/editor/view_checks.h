#pragma once
// Checks shared by the editor's window tests: finding a control by its name, naming every
// control for screen readers, and pictures of a window on request.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <QWidget>
#include <cstdlib>
#include <string>

#include "widgets/ctlIP.h"
#include "widgets/ctlTTL.h"

namespace kest::test {

template <typename T>
T* Child(QWidget* w, const char* name) {
    T* c = w->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(c, nullptr) << name;
    return c;
}

// Saves a picture of the window when KEST_SHOTS_DIR names a folder.
inline void Shot(QWidget* w, const std::string& name) {
    const char* dir = std::getenv("KEST_SHOTS_DIR");
    if (!dir || !*dir) return;
    QApplication::processEvents();
    w->grab().save(QString::fromStdString(std::string(dir) + "/" + name + ".png"));
}

// Every control a user can reach has a name a screen reader can say, and ours have an object
// name tests and scripts find them by.
inline void ExpectNamed(QWidget* top) {
    EXPECT_FALSE(top->accessibleName().isEmpty()) << top->objectName().toStdString();
    for (QWidget* w : top->findChildren<QWidget*>()) {
        const bool control = qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w) ||
                             qobject_cast<QAbstractButton*>(w) || qobject_cast<QListWidget*>(w) ||
                             qobject_cast<QTreeWidget*>(w) || qobject_cast<QScrollBar*>(w) ||
                             qobject_cast<ctlIP*>(w) || qobject_cast<ctlTTL*>(w) ||
                             qobject_cast<QTabWidget*>(w);
        if (!control || w->objectName().startsWith(QLatin1String("qt_"))) continue;
        // The parts inside the entry controls are theirs to name.
        if (qobject_cast<ctlIP*>(w->parentWidget()) ||
            qobject_cast<ctlTTL*>(w->parentWidget()))
            continue;
        // Scroll bars inside item views belong to Qt.
        if (qobject_cast<QScrollBar*>(w) && w->objectName().isEmpty()) continue;
        auto* button = qobject_cast<QAbstractButton*>(w);
        // Buttons Qt makes for tool bars and tab bars are said by their text.
        if (!button) {
            EXPECT_FALSE(w->objectName().isEmpty()) << w->metaObject()->className();
        }
        const QString name =
            w->accessibleName().isEmpty() && button ? button->text() : w->accessibleName();
        EXPECT_FALSE(name.isEmpty())
            << w->metaObject()->className() << " " << w->objectName().toStdString();
    }
}

inline bool Open(QWidget* w) {
    w->show();
    w->activateWindow();
    return QTest::qWaitForWindowActive(w);
}

}  // namespace kest::test
