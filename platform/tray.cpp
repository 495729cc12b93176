#include "platform/tray.h"

#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

#include "platform/dispatch.h"

namespace platform {
namespace {

// A disc in the state's colour with a darker rim: green running, amber busy, red stopped.
QIcon Picture(int icon) {
    static const QColor fills[] = {QColor(40, 160, 60), QColor(230, 160, 20), QColor(200, 40, 40)};
    const QColor fill = fills[icon];
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(fill.darker(170), 2));
    painter.setBrush(fill);
    painter.drawEllipse(QRectF(3, 3, 26, 26));
    painter.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap));
    if (icon == 2) {
        painter.drawLine(QPointF(11, 11), QPointF(21, 21));
        painter.drawLine(QPointF(21, 11), QPointF(11, 21));
    } else {
        painter.setBrush(Qt::white);
        painter.drawEllipse(QRectF(12, 12, 8, 8));
    }
    return QIcon(pixmap);
}

}  // namespace

struct Tray::Impl {
    QSystemTrayIcon* icon = nullptr;
    QIcon pictures[3];
    int shownPicture = -1;
    QMenu* menu = nullptr;
};

Tray::Tray() : impl_(std::make_unique<Impl>()) {}

Tray::~Tray() {
    if (impl_->icon) {
        impl_->icon->hide();
        detail::Dispose(impl_->icon);
    }
}

bool Tray::HasSystemTray() const {
    return impl_->icon != nullptr;
}

void Tray::Show() {
    shown_ = true;
    if (!impl_->icon && qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr &&
        QSystemTrayIcon::isSystemTrayAvailable()) {
        impl_->icon = new QSystemTrayIcon;
        QObject::connect(
            impl_->icon, &QSystemTrayIcon::activated,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::DoubleClick)
                    return;
                detail::DispatchScope scope;
                const auto onClick = OnClick;
                if (onClick) onClick();
            });
        if (impl_->menu) impl_->icon->setContextMenu(impl_->menu);
    }
    Update();
}

void Tray::SetContextMenu(QMenu* menu) {
    impl_->menu = menu;
    if (impl_->icon) impl_->icon->setContextMenu(menu);
}

void Tray::Remove() {
    shown_ = false;
    Update();
}

void Tray::SetIcon(int icon) {
    icon_ = icon;
    Update();
}

void Tray::SetTip(const std::string& tip) {
    tip_ = tip;
    Update();
}

void Tray::Update() {
    QSystemTrayIcon* icon = impl_->icon;
    if (!icon) return;
    const int picture = icon_ < 0 || icon_ > 2 ? 2 : icon_;
    if (picture != impl_->shownPicture) {
        if (impl_->pictures[picture].isNull()) impl_->pictures[picture] = Picture(picture);
        icon->setIcon(impl_->pictures[picture]);
        impl_->shownPicture = picture;
    }
    icon->setToolTip(QString::fromStdString(tip_));
    icon->setVisible(shown_);
}

}  // namespace platform
