#include "widgets/ctlIP.h"

#include <QApplication>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <cmath>

#include "core/modIP.h"
#include "core/numtext.h"

namespace {

std::string CleanAddress(std::string_view text) {
    std::string ip = modIP::CleanIP(text);
    return ip == "0.0.0.0" ? std::string{} : ip;
}

}  // namespace

ctlIP::ctlIP(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::NoFocus);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(2, 1, 2, 1);
    row->setSpacing(0);
    const QFontMetrics fm(font());
    // Room for three digits and the caret, whatever the font.
    const int fieldWidth = fm.horizontalAdvance(QStringLiteral("0000")) + 4;
    static const char* const names[] = {"first", "second", "third", "fourth"};
    for (int i = 0; i < 4; ++i) {
        auto* f = new QLineEdit(this);
        f->setObjectName(QStringLiteral("txtIP%1").arg(i));
        f->setAccessibleName(QStringLiteral("%1 byte of the address").arg(names[i]));
        f->setFrame(false);
        f->setMaxLength(3);
        f->setAlignment(Qt::AlignCenter);
        f->setFixedWidth(fieldWidth);
        f->installEventFilter(this);
        connect(f, &QLineEdit::textEdited, this, &ctlIP::Changed);
        fields_[static_cast<size_t>(i)] = f;
        row->addWidget(f);
        if (i < 3) {
            auto* dot = new QLabel(QStringLiteral("."), this);
            dot->setAlignment(Qt::AlignCenter);
            dot->setFixedWidth(fm.horizontalAdvance(QLatin1Char('.')) + 2);
            dots_[static_cast<size_t>(i)] = dot;
            row->addWidget(dot);
        }
    }
    setFocusProxy(fields_[0]);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    SetLocked(false);
}

std::string ctlIP::Text() const {
    std::string joined;
    for (int i = 0; i < 4; ++i) {
        if (i) joined += '.';
        joined += Field(i)->text().toStdString();
    }
    return CleanAddress(joined);
}

void ctlIP::SetText(std::string_view text) {
    const std::string ip = CleanAddress(text);
    const std::string data = modIP::IPToData(ip);
    bool changed = false;
    for (int i = 0; i < 4; ++i) {
        const QString shown =
            ip.empty() ? QString() : QString::number(static_cast<unsigned char>(data[i]));
        if (Field(i)->text() == shown) continue;
        Field(i)->setText(shown);
        changed = true;
    }
    if (changed) emit Changed();
}

void ctlIP::SetLocked(bool locked) {
    locked_ = locked;
    QPalette p = QApplication::palette(this);
    const QColor face = locked ? p.color(QPalette::Button) : p.color(QPalette::Base);
    p.setColor(QPalette::Base, face);
    p.setColor(QPalette::Window, face);
    setPalette(p);
    for (QLineEdit* f : fields_) {
        f->setReadOnly(locked);
        f->setFocusPolicy(locked ? Qt::ClickFocus : Qt::StrongFocus);
    }
}

void ctlIP::Normalize() {
    for (int i = 0; i < 4; ++i) NormalizeField(i);
    SetText(Text());
}

int ctlIP::IndexOf(QObject* o) const {
    for (int i = 0; i < 4; ++i)
        if (fields_[static_cast<size_t>(i)] == o) return i;
    return -1;
}

void ctlIP::NormalizeField(int i) {
    QLineEdit* f = Field(i);
    const double v = std::abs(std::trunc(kest::LeadingNumber(f->text().toStdString())));
    const QString shown = QString::number(v > 255 ? 255 : static_cast<int>(v));
    if (f->text() != shown) {
        f->setText(shown);
        emit Changed();
    }
}

void ctlIP::Focus(int i) {
    Field(i)->setFocus(Qt::OtherFocusReason);
}

bool ctlIP::eventFilter(QObject* watched, QEvent* event) {
    const int i = IndexOf(watched);
    if (i < 0) return QFrame::eventFilter(watched, event);
    QLineEdit* f = Field(i);
    switch (event->type()) {
        case QEvent::FocusIn: {
            f->selectAll();
            // A click places the caret after focusing; select once it has.
            if (static_cast<QFocusEvent*>(event)->reason() == Qt::MouseFocusReason)
                QTimer::singleShot(0, f, &QLineEdit::selectAll);
            break;
        }
        case QEvent::FocusOut: {
            if (locked_) break;
            NormalizeField(i);
            QWidget* next = QApplication::focusWidget();
            if (next != f && !isAncestorOf(next)) SetText(Text());
            break;
        }
        case QEvent::KeyPress: {
            auto* k = static_cast<QKeyEvent*>(event);
            const bool plain = !(k->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
            if (k->key() == Qt::Key_Left && plain && i > 0 && f->cursorPosition() == 0) {
                Focus(i - 1);
                return true;
            }
            if (k->key() == Qt::Key_Right && plain && i < 3 &&
                f->cursorPosition() == f->text().size()) {
                Focus(i + 1);
                return true;
            }
            if (k->key() == Qt::Key_Backspace && i > 0 && f->cursorPosition() == 0 &&
                !f->hasSelectedText()) {
                Focus(i - 1);
                return true;
            }
            const QString t = k->text();
            if (t.size() != 1 || !plain) break;
            const QChar c = t.at(0);
            if (c == QLatin1Char('.')) {
                if (i < 3) Focus(i + 1);
                return true;
            }
            // Printable characters other than digits are swallowed; control keys pass.
            if (c.unicode() >= 0x20 && c.unicode() != 0x7f && !c.isDigit()) return true;
            if (c.isDigit() && (c.unicode() < '0' || c.unicode() > '9')) return true;
            break;
        }
        default:
            break;
    }
    return QFrame::eventFilter(watched, event);
}
