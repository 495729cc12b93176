#include "editor/frmRecView.h"

#include <QApplication>
#include <QFocusEvent>
#include <QShortcut>

#include "platform/paths.h"
#include "widgets/lock_edit.h"
#include "widgets/qt_text.h"
#include "ui_frmRec.h"

namespace editor {
namespace {

using kestwidgets::LockEdit;
using kestwidgets::Q;
using kestwidgets::S;

QString Caption(const char* text) {
    QString s = QString::fromLatin1(text);
    if (s.endsWith(QLatin1Char(':'))) s.chop(1);
    return s;
}

}  // namespace

frmRecView::frmRecView(frmRec& controller, platform::ILauncher& launcher, QWidget* parent)
    : QDialog(parent), c_(controller), launcher_(launcher), ui_(std::make_unique<Ui::frmRec>()) {
    ui_->setupUi(this);
    for (const auto& t : RecordTypes()) ui_->comType->addItem(QString::fromLatin1(t.word));
    // Each box normalises its text when it is left.
    for (QLineEdit* e : {ui_->txtName, ui_->txtData, ui_->txtPref, ui_->txtWeight, ui_->txtPort})
        e->installEventFilter(this);
    const int digits = fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 12;
    for (QLineEdit* e : {ui_->txtPref, ui_->txtWeight, ui_->txtPort}) e->setFixedWidth(digits);
    ui_->txtName->setMinimumWidth(fontMetrics().averageCharWidth() * 40);
    connect(ui_->comType, &QComboBox::activated, this, [this](int index) {
        Push();
        c_.ChooseType(index);
        Pull();
    });
    connect(ui_->cmdOK, &QPushButton::clicked, this, &frmRecView::OK);
    connect(ui_->cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    const auto help = [this] { launcher_.OpenUrl(platform::ManualUrl("editor.html")); };
    connect(ui_->cmdHelp, &QPushButton::clicked, this, help);
    connect(new QShortcut(QKeySequence::HelpContents, this), &QShortcut::activated, this, help);
    Pull();
    ui_->txtTTL->SetSeconds(c_.TTL);
    ui_->txtIP->SetText(c_.txtIP);
    const bool ro = c_.ReadOnly;
    LockEdit(ui_->txtName, c_.NameLocked || ro);
    ui_->comType->setEnabled(!c_.NameLocked && !ro);
    for (QLineEdit* e : {ui_->txtData, ui_->txtPref, ui_->txtWeight, ui_->txtPort}) LockEdit(e, ro);
    ui_->txtIP->SetLocked(ro);
    ui_->txtTTL->SetLocked(ro);
    ui_->chkPTR->setEnabled(!ro);
    if (c_.NameLocked || ro) {
        if (ro)
            ui_->cmdOK->setFocus();
        else if (c_.ShowIP())
            ui_->txtIP->setFocus();
        else
            ui_->txtData->setFocus();
    } else {
        ui_->txtName->setFocus();
    }
    adjustSize();
}

frmRecView::~frmRecView() = default;

void frmRecView::Push() {
    c_.txtName = S(ui_->txtName->text());
    c_.TypeIndex = ui_->comType->currentIndex();
    c_.txtIP = ui_->txtIP->Text();
    c_.chkPTR = ui_->chkPTR->isChecked();
    c_.txtData = S(ui_->txtData->text());
    c_.txtPref = S(ui_->txtPref->text());
    c_.txtWeight = S(ui_->txtWeight->text());
    c_.txtPort = S(ui_->txtPort->text());
    c_.TTL = ui_->txtTTL->Seconds();
}

void frmRecView::Pull() {
    const auto setText = [](QLineEdit* e, const std::string& s) {
        if (e->text() != Q(s)) e->setText(Q(s));
    };
    setText(ui_->txtName, c_.txtName);
    ui_->comType->setCurrentIndex(c_.TypeIndex);
    const RecordType& t = c_.Type();
    ui_->lblType->setText(QString::fromLatin1(t.title));
    ui_->lbl1->setText(QString::fromLatin1(t.data));
    ui_->lbl1->setBuddy(c_.ShowIP() ? static_cast<QWidget*>(ui_->txtIP) : ui_->txtData);
    ui_->txtData->setAccessibleName(Caption(t.data));
    ui_->lbl2->setText(QString::fromLatin1(t.number));
    if (*t.number) ui_->txtPref->setAccessibleName(Caption(t.number));
    ui_->txtIP->setVisible(c_.ShowIP());
    ui_->chkPTR->setVisible(c_.ShowIP());
    ui_->txtData->setVisible(c_.ShowData());
    for (QWidget* w : {static_cast<QWidget*>(ui_->lbl2), static_cast<QWidget*>(ui_->txtPref)})
        w->setVisible(c_.ShowNumber());
    for (QWidget* w : {static_cast<QWidget*>(ui_->lbl3), static_cast<QWidget*>(ui_->txtWeight),
                       static_cast<QWidget*>(ui_->lbl4), static_cast<QWidget*>(ui_->txtPort)})
        w->setVisible(c_.ShowWeightPort());
    if (ui_->txtIP->Text() != c_.txtIP) ui_->txtIP->SetText(c_.txtIP);
    ui_->chkPTR->setChecked(c_.chkPTR);
    setText(ui_->txtData, c_.txtData);
    setText(ui_->txtPref, c_.txtPref);
    setText(ui_->txtWeight, c_.txtWeight);
    setText(ui_->txtPort, c_.txtPort);
    if (ui_->txtTTL->Seconds() != c_.TTL) ui_->txtTTL->SetSeconds(c_.TTL);
}

void frmRecView::ApplyFocus() {
    using F = frmRec::Field;
    QWidget* w = nullptr;
    switch (c_.FocusWanted) {
        case F::Name:
            w = ui_->txtName;
            break;
        case F::IP:
            w = ui_->txtIP;
            break;
        case F::Data:
            w = ui_->txtData;
            break;
        default:
            break;
    }
    if (w) w->setFocus(Qt::OtherFocusReason);
    c_.FocusWanted = F::None;
}

void frmRecView::OK() {
    // Enter presses the default button without moving the focus: the entry controls normalise
    // here, the controller does the rest.
    ui_->txtIP->Normalize();
    ui_->txtTTL->Normalize();
    Push();
    const bool close = c_.OK();
    Pull();
    if (close)
        accept();
    else
        ApplyFocus();
}

bool frmRecView::eventFilter(QObject* watched, QEvent* event) {
    auto* edit = qobject_cast<QLineEdit*>(watched);
    if (edit && event->type() == QEvent::FocusOut && !edit->isReadOnly()) {
        Push();
        if (edit == ui_->txtName) c_.NameLeft();
        if (edit == ui_->txtData) c_.DataLeft();
        if (edit == ui_->txtPref) c_.NumberLeft(frmRec::Field::Pref);
        if (edit == ui_->txtWeight) c_.NumberLeft(frmRec::Field::Weight);
        if (edit == ui_->txtPort) c_.NumberLeft(frmRec::Field::Port);
        Pull();
    } else if (edit && event->type() == QEvent::FocusIn &&
               (edit == ui_->txtPref || edit == ui_->txtWeight || edit == ui_->txtPort)) {
        edit->selectAll();
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace editor
