#include "widgets/ctlTTL.h"

#include <QApplication>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <cmath>

#include "core/numtext.h"

namespace {

constexpr int kMax[3] = {9, 23, 59};
constexpr int kUnit[3] = {86400, 3600, 60};
constexpr int32_t kLargest = 863940;  // 9 days 23 hours 59 minutes

// The absolute integer part of the field's numeric value.
int64_t FieldNumber(const QLineEdit* f) {
    const double v = std::abs(std::trunc(kest::LeadingNumber(f->text().toStdString())));
    return v > 1e12 ? int64_t{1000000000000} : static_cast<int64_t>(v);
}

}  // namespace

ctlTTL::ctlTTL(QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    const QFontMetrics fm(font());
    static const char* const captions[] = {"Days:", "Hours:", "Min.:"};
    static const char* const names[] = {"Days", "Hours", "Minutes"};
    static const int widths[] = {1, 2, 2};
    for (int i = 0; i < 3; ++i) {
        auto* lbl = new QLabel(QString::fromLatin1(captions[i]), this);
        lbl->setObjectName(QStringLiteral("lbl%1").arg(i));
        lbl->installEventFilter(this);
        auto* f = new QLineEdit(QStringLiteral("0"), this);
        f->setObjectName(QStringLiteral("txtNum%1").arg(i));
        f->setAccessibleName(QString::fromLatin1(names[i]));
        f->setMaxLength(widths[i]);
        f->setAlignment(Qt::AlignRight);
        f->setFixedWidth(fm.horizontalAdvance(QString(widths[i] + 1, QLatin1Char('0'))) + 10);
        f->installEventFilter(this);
        lbl->setBuddy(f);
        auto* s = new QScrollBar(Qt::Vertical, this);
        s->setObjectName(QStringLiteral("scrl%1").arg(i));
        s->setAccessibleName(QStringLiteral("%1 up or down").arg(names[i]));
        // The bar holds the negative number, so that its upper arrow counts up.
        s->setRange(-kMax[i], 0);
        s->setSingleStep(1);
        s->setPageStep(1);
        s->setFocusPolicy(Qt::NoFocus);
        s->setFixedSize(style()->pixelMetric(QStyle::PM_ScrollBarExtent), f->sizeHint().height());
        s->installEventFilter(this);
        labels_[static_cast<size_t>(i)] = lbl;
        fields_[static_cast<size_t>(i)] = f;
        spins_[static_cast<size_t>(i)] = s;
        connect(f, &QLineEdit::textEdited, this, [this, i] {
            touched_ = true;
            ShowOnSpin(i);
            emit Changed();
        });
        connect(s, &QScrollBar::valueChanged, this, [this, i](int v) {
            touched_ = true;
            Field(i)->setText(QString::number(-v));
            emit Changed();
        });
        row->addWidget(lbl);
        row->addWidget(f);
        row->addWidget(s);
        if (i < 2) row->addSpacing(fm.horizontalAdvance(QLatin1Char(' ')));
    }
    setFocusProxy(fields_[0]);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    SetLocked(false);
}

int32_t ctlTTL::Seconds() const {
    if (!touched_) return given_;
    int64_t total = 0;
    for (int i = 0; i < 3; ++i) total += FieldNumber(Field(i)) * kUnit[i];
    return static_cast<int32_t>(std::min<int64_t>(total, INT32_MAX));
}

void ctlTTL::SetSeconds(int32_t seconds) {
    given_ = seconds;
    int32_t v = seconds > 863999 ? kLargest : std::max(seconds, 0);
    for (int i = 0; i < 3; ++i) {
        const int n = v / kUnit[i];
        v -= n * kUnit[i];
        Field(i)->setText(QString::number(n));
        SetSpin(i, n);
    }
    touched_ = false;
    emit Changed();
}

void ctlTTL::SetLocked(bool locked) {
    locked_ = locked;
    QPalette p = QApplication::palette(this);
    p.setColor(QPalette::Base, locked ? p.color(QPalette::Button) : p.color(QPalette::Base));
    for (int i = 0; i < 3; ++i) {
        Field(i)->setReadOnly(locked);
        Field(i)->setPalette(p);
        Field(i)->setFocusPolicy(locked ? Qt::ClickFocus : Qt::StrongFocus);
        Spin(i)->setEnabled(!locked);
    }
}

void ctlTTL::Normalize() {
    for (int i = 0; i < 3; ++i) NormalizeField(i);
}

int ctlTTL::IndexOf(QObject* o) const {
    for (int i = 0; i < 3; ++i) {
        const auto k = static_cast<size_t>(i);
        if (fields_[k] == o || labels_[k] == o || spins_[k] == o) return i;
    }
    return -1;
}

void ctlTTL::NormalizeField(int i) {
    int64_t n = FieldNumber(Field(i));
    // Past the field's range the last valid number (the spin bar's) comes back.
    if (n > kMax[i]) n = -Spin(i)->value();
    const QString shown = QString::number(n);
    if (Field(i)->text() != shown) Field(i)->setText(shown);
}

void ctlTTL::ShowOnSpin(int i) {
    const int64_t n = FieldNumber(Field(i));
    if (n <= kMax[i]) SetSpin(i, static_cast<int>(n));
}

void ctlTTL::SetSpin(int i, int number) {
    QSignalBlocker quiet(Spin(i));
    Spin(i)->setValue(-number);
}

bool ctlTTL::eventFilter(QObject* watched, QEvent* event) {
    const int i = IndexOf(watched);
    if (i < 0) return QWidget::eventFilter(watched, event);
    QLineEdit* f = Field(i);
    if (watched == f) {
        switch (event->type()) {
            case QEvent::FocusIn:
                f->selectAll();
                if (static_cast<QFocusEvent*>(event)->reason() == Qt::MouseFocusReason)
                    QTimer::singleShot(0, f, &QLineEdit::selectAll);
                break;
            case QEvent::FocusOut:
                if (!locked_) NormalizeField(i);
                break;
            case QEvent::KeyPress: {
                // Up and Down work the spin bar from the keyboard.
                const int key = static_cast<QKeyEvent*>(event)->key();
                if (!locked_ && (key == Qt::Key_Up || key == Qt::Key_Down)) {
                    NormalizeField(i);
                    SetSpin(i, static_cast<int>(FieldNumber(f)));
                    Spin(i)->triggerAction(key == Qt::Key_Up
                                               ? QAbstractSlider::SliderSingleStepSub
                                               : QAbstractSlider::SliderSingleStepAdd);
                    f->selectAll();
                    return true;
                }
                break;
            }
            default:
                break;
        }
    } else if (event->type() == QEvent::MouseButtonPress) {
        // A click on a caption or a spin bar puts the focus into the field.
        if (!(locked_ && watched == Spin(i))) f->setFocus(Qt::MouseFocusReason);
    }
    return QWidget::eventFilter(watched, event);
}
