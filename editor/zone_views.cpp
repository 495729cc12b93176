#include "editor/zone_views.h"

#include "editor/frmArpaEdit.h"
#include "editor/frmArpaFill.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QShortcut>
#include <QTimer>

#include "platform/paths.h"
#include "widgets/lock_edit.h"
#include "widgets/qt_text.h"
#include "ui_frmArpa.h"
#include "ui_frmArpaEdit.h"
#include "ui_frmArpaFill.h"
#include "ui_frmArpaLU.h"
#include "ui_frmCopy.h"
#include "ui_frmQuick.h"
#include "ui_frmZone.h"

namespace editor {
namespace {

using kestwidgets::LockEdit;
using kestwidgets::Q;
using kestwidgets::S;

void Lock(ctlTTL* ttl, bool locked) {
    ttl->SetLocked(locked);
}

// "O K", "Cancel" and "Help" (and F1) of every dialog.
template <typename Ui>
void CommonButtons(QDialog* d, Ui& ui, platform::ILauncher& launcher) {
    QObject::connect(ui.cmdCancel, &QPushButton::clicked, d, &QDialog::reject);
    const auto help = [&launcher] { launcher.OpenUrl(platform::ManualUrl("editor.html")); };
    QObject::connect(ui.cmdHelp, &QPushButton::clicked, d, help);
    QObject::connect(new QShortcut(QKeySequence::HelpContents, d), &QShortcut::activated, d, help);
    ui.cmdOK->setDefault(true);
}

bool Inside(QObject* o, QWidget* w) {
    for (auto* p = qobject_cast<QWidget*>(o); p; p = p->parentWidget())
        if (p == w) return true;
    return false;
}

}  // namespace

// ---- Zone properties ----------------------------------------------------------------------------

frmZoneView::frmZoneView(frmZone& controller, platform::ILauncher& launcher, QWidget* parent)
    : QDialog(parent), c_(controller), ui_(std::make_unique<Ui::frmZone>()) {
    auto& u = *ui_;
    u.setupUi(this);
    // Control arrays keep the index in their names.
    u.txtTTL0->setObjectName(QStringLiteral("txtTTL(0)"));
    u.txtTTL1->setObjectName(QStringLiteral("txtTTL(1)"));
    u.txtTTL2->setObjectName(QStringLiteral("txtTTL(2)"));
    setWindowTitle(Q(c_.Caption));
    setAccessibleName(Q(c_.Caption));
    CommonButtons(this, u, launcher);
    for (QWidget* e : {static_cast<QWidget*>(u.txtName), static_cast<QWidget*>(u.txtPrimS),
                       static_cast<QWidget*>(u.txtEMail), static_cast<QWidget*>(u.txtSer)})
        e->installEventFilter(this);
    u.txtName->setMinimumWidth(fontMetrics().averageCharWidth() * 36);
    connect(u.chkPrimary, &QCheckBox::toggled, this, [this](bool on) {
        Push();
        c_.PrimaryClicked(on);
        Pull();
    });
    connect(u.cmdAdd, &QPushButton::clicked, this, [this] {
        Push();
        c_.Add();
        Pull();
    });
    connect(u.cmdRemove, &QPushButton::clicked, this, [this] {
        Push();
        c_.Remove();
        Pull();
    });
    connect(u.List1, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        c_.ListClicked(ui_->List1->row(item));
        ui_->txtIP->SetText(c_.txtIP);
    });
    connect(u.cmdDefault, &QPushButton::clicked, this, [this] {
        Push();
        c_.UseAsDefault();
    });
    connect(u.cmdOK, &QPushButton::clicked, this, &frmZoneView::OK);
    // While the address of the notify list is typed, Enter adds it.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        const bool adding = Inside(now, ui_->txtIP);
        ui_->cmdAdd->setDefault(adding);
        ui_->cmdOK->setDefault(!adding);
    });
    Pull();
    u.SSTab1->setCurrentIndex(0);
    (c_.NameLocked() ? static_cast<QWidget*>(u.txtPrimS) : u.txtName)->setFocus();
}

frmZoneView::~frmZoneView() {
    // Hiding the dialog moves the focus after our widgets are gone.
    disconnect(qApp, &QApplication::focusChanged, this, nullptr);
}

void frmZoneView::Pull() {
    auto& u = *ui_;
    const QSignalBlocker block(u.chkPrimary);
    u.txtName->setText(Q(c_.txtName));
    LockEdit(u.txtName, c_.NameLocked());
    u.chkPrimary->setChecked(c_.chkPrimary);
    u.txtPrimS->setText(Q(c_.txtPrimS));
    u.txtEMail->setText(Q(c_.txtEMail));
    u.minTTL->SetSeconds(c_.minTTL);
    u.txtPrimIP->SetText(c_.txtPrimIP);
    u.txtSer->setText(Q(c_.txtSer));
    u.txtTTL0->SetSeconds(c_.txtTTL[0]);
    u.txtTTL1->SetSeconds(c_.txtTTL[1]);
    u.txtTTL2->SetSeconds(c_.txtTTL[2]);
    u.List1->clear();
    for (const auto& ip : c_.List1) u.List1->addItem(Q(ip));
    u.txtIP->SetText(c_.txtIP);
    u.chkOS->setChecked(c_.chkOS);
    const bool soa = c_.SoaLocked();
    for (QLineEdit* e : {u.txtPrimS, u.txtEMail, u.txtSer}) LockEdit(e, soa);
    for (ctlTTL* t : {u.minTTL, u.txtTTL0, u.txtTTL1, u.txtTTL2}) Lock(t, soa);
    u.txtPrimIP->SetLocked(c_.PrimIPLocked());
}

void frmZoneView::Push() {
    auto& u = *ui_;
    for (ctlTTL* t : {u.minTTL, u.txtTTL0, u.txtTTL1, u.txtTTL2}) t->Normalize();
    u.txtPrimIP->Normalize();
    u.txtIP->Normalize();
    c_.txtName = S(u.txtName->text());
    c_.chkPrimary = u.chkPrimary->isChecked();
    c_.txtPrimS = S(u.txtPrimS->text());
    c_.txtEMail = S(u.txtEMail->text());
    c_.minTTL = u.minTTL->Seconds();
    c_.txtPrimIP = u.txtPrimIP->Text();
    c_.txtSer = S(u.txtSer->text());
    c_.txtTTL[0] = u.txtTTL0->Seconds();
    c_.txtTTL[1] = u.txtTTL1->Seconds();
    c_.txtTTL[2] = u.txtTTL2->Seconds();
    c_.txtIP = u.txtIP->Text();
    c_.chkOS = u.chkOS->isChecked();
}

bool frmZoneView::eventFilter(QObject* watched, QEvent* event) {
    auto& u = *ui_;
    if (event->type() == QEvent::FocusIn && watched == u.txtName && !c_.NameLocked()) {
        c_.txtName = S(u.txtName->text());
        c_.NameEntered();
        u.txtName->setText(Q(c_.txtName));
        QTimer::singleShot(0, u.txtName, &QLineEdit::selectAll);
    } else if (event->type() == QEvent::FocusOut) {
        Push();
        if (watched == u.txtName) c_.NameLeft();
        if (watched == u.txtEMail) c_.EMailLeft();
        if (watched == u.txtPrimS) c_.PrimSLeft();
        if (watched == u.txtSer) c_.SerialLeft();
        Pull();
    }
    return QDialog::eventFilter(watched, event);
}

void frmZoneView::OK() {
    Push();
    if (c_.OK()) {
        accept();
        return;
    }
    Pull();
    auto& u = *ui_;
    u.SSTab1->setCurrentIndex(static_cast<int>(c_.TabWanted));
    using F = frmZone::Field;
    switch (c_.FocusWanted) {
        case F::Name:
            u.txtName->setFocus();
            break;
        case F::PrimS:
            u.txtPrimS->setFocus();
            break;
        case F::EMail:
            u.txtEMail->setFocus();
            break;
        case F::PrimIP:
            u.txtPrimIP->setFocus();
            break;
        case F::Serial:
            u.txtSer->setFocus();
            break;
        case F::Refresh:
            u.txtTTL0->setFocus();
            break;
        case F::Retry:
            u.txtTTL1->setFocus();
            break;
        case F::Expire:
            u.txtTTL2->setFocus();
            break;
        case F::None:
            break;
    }
}

// ---- Quick domain wizard ------------------------------------------------------------------------

frmQuickView::frmQuickView(frmQuick& controller, platform::ILauncher& launcher, QWidget* parent)
    : QDialog(parent), c_(controller), ui_(std::make_unique<Ui::frmQuick>()) {
    auto& u = *ui_;
    u.setupUi(this);
    CommonButtons(this, u, launcher);
    u.txtName->installEventFilter(this);
    u.txtDNS->installEventFilter(this);
    u.txtName->setMinimumWidth(fontMetrics().averageCharWidth() * 32);
    connect(u.cmdDefault, &QPushButton::clicked, this, [this] {
        Push();
        c_.UseAsDefault();
    });
    connect(u.cmdOK, &QPushButton::clicked, this, [this] {
        Push();
        if (c_.OK()) return accept();
        Pull();
        if (c_.FocusWanted == frmQuick::Field::Name) ui_->txtName->setFocus();
    });
    Pull();
    u.txtName->setFocus();
}

frmQuickView::~frmQuickView() = default;

void frmQuickView::Pull() {
    auto& u = *ui_;
    u.txtName->setText(Q(c_.txtName));
    u.txtIP1->SetText(c_.txtIP1);
    u.txtIP2->SetText(c_.txtIP2);
    u.txtIP3->SetText(c_.txtIP3);
    u.txtDNS->setText(Q(c_.txtDNS));
    u.txtIP4->SetText(c_.txtIP4);
}

void frmQuickView::Push() {
    auto& u = *ui_;
    for (ctlIP* ip : {u.txtIP1, u.txtIP2, u.txtIP3, u.txtIP4}) ip->Normalize();
    c_.txtName = S(u.txtName->text());
    c_.txtIP1 = u.txtIP1->Text();
    c_.txtIP2 = u.txtIP2->Text();
    c_.txtIP3 = u.txtIP3->Text();
    c_.txtDNS = S(u.txtDNS->text());
    c_.txtIP4 = u.txtIP4->Text();
}

bool frmQuickView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        Push();
        if (watched == ui_->txtName) c_.NameLeft();
        if (watched == ui_->txtDNS) c_.DNSLeft();
        Pull();
    }
    return QDialog::eventFilter(watched, event);
}

// ---- Copy ---------------------------------------------------------------------------------------

frmCopyView::frmCopyView(frmCopy& controller, platform::ILauncher& launcher, QWidget* parent)
    : QDialog(parent), c_(controller), ui_(std::make_unique<Ui::frmCopy>()) {
    auto& u = *ui_;
    u.setupUi(this);
    CommonButtons(this, u, launcher);
    u.txtFrom->setText(Q(c_.txtFrom));
    LockEdit(u.txtFrom, true);
    u.txtTo->setText(Q(c_.txtTo));
    u.txtTo->installEventFilter(this);
    u.txtTo->setMinimumWidth(fontMetrics().averageCharWidth() * 32);
    connect(u.cmdOK, &QPushButton::clicked, this, [this] {
        c_.txtTo = S(ui_->txtTo->text());
        if (c_.OK()) return accept();
        ui_->txtTo->setText(Q(c_.txtTo));
        if (c_.FocusWanted == frmCopy::Field::To) ui_->txtTo->setFocus();
    });
    u.txtTo->setFocus();
}

frmCopyView::~frmCopyView() = default;

bool frmCopyView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut && watched == ui_->txtTo) {
        c_.txtTo = S(ui_->txtTo->text());
        c_.ToLeft();
        ui_->txtTo->setText(Q(c_.txtTo));
    }
    return QDialog::eventFilter(watched, event);
}

// ---- Reverse zone look-up -----------------------------------------------------------------------

frmArpaLUView::frmArpaLUView(frmArpaLU& controller, QWidget* parent)
    : QDialog(parent),
      c_(controller),
      ui_(std::make_unique<Ui::frmArpaLU>()),
      timer_(new QTimer(this)) {
    auto& u = *ui_;
    u.setupUi(this);
    // Room for the longest answer line: two reverse names of a classless network.
    u.List1->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral(
                                 "Answer: CNAME-record for 255.255.255.255.in-addr.arpa. = "
                                 "255.252/30.255.255.255.in-addr.arpa.")) +
                             32);
    timer_->setInterval(frmArpaLU::kIntervalMs);
    connect(timer_, &QTimer::timeout, this, [this] {
        c_.Tick();
        Pull();
    });
    connect(u.cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(u.cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(this, &QDialog::rejected, this, [this] { c_.Cancel(); });
    c_.Changed = [this] { Pull(); };
    Pull();
}

frmArpaLUView::~frmArpaLUView() {
    c_.Changed = nullptr;
}

void frmArpaLUView::Pull() {
    auto& u = *ui_;
    u.List1->clear();
    for (const auto& line : c_.Lines) u.List1->addItem(Q(line));
    u.cmdOK->setEnabled(c_.OKEnabled);
    if (c_.OKEnabled) u.cmdOK->setDefault(true);
    if (c_.TimerActive && !timer_->isActive()) timer_->start();
    if (!c_.TimerActive) timer_->stop();
}

// ---- Reverse zone wizard ------------------------------------------------------------------------

frmArpaView::frmArpaView(frmArpa& controller, const clEditor& ed, platform::ILauncher& launcher,
                         QWidget* parent)
    : QDialog(parent), c_(controller), ed_(ed), ui_(std::make_unique<Ui::frmArpa>()) {
    auto& u = *ui_;
    u.setupUi(this);
    CommonButtons(this, u, launcher);
    for (const auto& t : frmArpa::SubnetTexts()) u.comSubnet->addItem(Q(t));
    u.comSubnet->view()->setAccessibleName(QStringLiteral("Subnet Mask list"));
    u.List->installEventFilter(this);
    u.List->setMinimumSize(fontMetrics().averageCharWidth() * 56, fontMetrics().height() * 14);
    u.List->setColumnWidth(0, fontMetrics().averageCharWidth() * 18);
    u.txtZone->setMinimumWidth(fontMetrics().averageCharWidth() * 36);
    connect(u.comSubnet, &QComboBox::activated, this, [this](int index) {
        PushSelection();
        ui_->txtIP->Normalize();
        c_.IPLeft(ui_->txtIP->Text());
        c_.ChooseSubnet(index);
        Pull();
    });
    // Leaving the address with a changed value rebuilds the table.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
        if (Inside(old, ui_->txtIP) && !Inside(now, ui_->txtIP)) {
            PushSelection();
            ui_->txtIP->Normalize();
            c_.IPLeft(ui_->txtIP->Text());
            Pull();
        }
        const bool inList = now == ui_->List;
        ui_->cmdEdit->setDefault(inList);
        ui_->cmdOK->setDefault(!inList);
    });
    connect(u.cmdEdit, &QPushButton::clicked, this, &frmArpaView::Edit);
    connect(u.List, &QTreeWidget::itemDoubleClicked, this, &frmArpaView::Edit);
    connect(u.Command2, &QPushButton::clicked, this, &frmArpaView::AutoFill);
    connect(u.cmdSelAll, &QPushButton::clicked, this, [this] {
        c_.SelectAll();
        ui_->List->selectAll();
    });
    connect(u.cmdDelete, &QPushButton::clicked, this, [this] {
        PushSelection();
        c_.ClearSelected();
        Pull();
    });
    connect(u.cmdLookUp, &QPushButton::clicked, this, &frmArpaView::LookUp);
    connect(u.cmdOK, &QPushButton::clicked, this, &frmArpaView::OK);
    Pull();
    u.txtIP->SetText(c_.txtIP);
    u.txtIP->setFocus();
}

frmArpaView::~frmArpaView() {
    // Hiding the dialog moves the focus after our widgets are gone.
    disconnect(qApp, &QApplication::focusChanged, this, nullptr);
}

void frmArpaView::PushSelection() {
    auto* list = ui_->List;
    for (int i = 0; i < list->topLevelItemCount() && i < static_cast<int>(c_.Rows.size()); ++i)
        c_.Rows[static_cast<size_t>(i)].selected = list->topLevelItem(i)->isSelected();
    c_.txtZone = S(ui_->txtZone->text());
}

void frmArpaView::Pull() {
    auto& u = *ui_;
    u.comSubnet->setCurrentIndex(c_.SubnetIndex);
    u.txtZone->setText(Q(c_.txtZone));
    LockEdit(u.txtZone, c_.ZoneLocked);
    u.cmdLookUp->setEnabled(c_.LookUpEnabled);
    const QSignalBlocker block(u.List);
    if (u.List->topLevelItemCount() != static_cast<int>(c_.Rows.size()) ||
        (u.List->topLevelItemCount() > 0 && S(u.List->topLevelItem(0)->text(0)) != c_.Rows[0].ip)) {
        u.List->clear();
        QList<QTreeWidgetItem*> items;
        for (const auto& r : c_.Rows) items.append(new QTreeWidgetItem({Q(r.ip), Q(r.name)}));
        u.List->addTopLevelItems(items);
    }
    for (int i = 0; i < static_cast<int>(c_.Rows.size()); ++i) {
        auto* item = u.List->topLevelItem(i);
        item->setText(1, Q(c_.Rows[static_cast<size_t>(i)].name));
        item->setSelected(c_.Rows[static_cast<size_t>(i)].selected);
    }
}

void frmArpaView::Edit() {
    PushSelection();
    const int row = c_.FirstSelected();
    if (row < 0) return;
    const auto& r = c_.Rows[static_cast<size_t>(row)];
    frmArpaEdit edit(r.ip, r.name);
    QDialog d(this);
    Ui::frmArpaEdit u;
    u.setupUi(&d);
    u.txtIPShown->setText(Q(edit.lblIP));
    LockEdit(u.txtIPShown, true);
    u.txtName->setText(Q(edit.txtName));
    u.txtName->setMinimumWidth(fontMetrics().averageCharWidth() * 36);
    u.cmdOK->setDefault(true);
    connect(u.cmdOK, &QPushButton::clicked, &d, &QDialog::accept);
    connect(u.cmdCancel, &QPushButton::clicked, &d, &QDialog::reject);
    u.txtName->setFocus();
    u.txtName->selectAll();
    if (d.exec() != QDialog::Accepted) return;
    edit.txtName = S(u.txtName->text());
    c_.EditSelected(edit.OK());
    Pull();
}

void frmArpaView::AutoFill() {
    PushSelection();
    frmArpaFill fill;
    QDialog d(this);
    Ui::frmArpaFill u;
    u.setupUi(&d);
    u.txtDomain->setMinimumWidth(fontMetrics().averageCharWidth() * 36);
    u.cmdOK->setDefault(true);
    connect(u.cmdOK, &QPushButton::clicked, &d, &QDialog::accept);
    connect(u.cmdCancel, &QPushButton::clicked, &d, &QDialog::reject);
    if (d.exec() != QDialog::Accepted) return;
    fill.txtDomain = S(u.txtDomain->text());
    c_.FillSelected(fill.OK());
    Pull();
}

void frmArpaView::LookUp() {
    PushSelection();
    frmArpaLU* lu = nullptr;
    auto socket =
        MakeUdpLookupSocket([&lu](const std::string& data, const std::string& ip, uint16_t port) {
            if (lu) lu->Reply(data, ip, port);
        });
    frmArpaLU look(ed_, *socket);
    lu = &look;
    look.LookFor = c_.LookFor();
    frmArpaLUView view(look, this);
    look.LookUp();
    view.Pull();
    if (view.exec() == QDialog::Accepted && !look.OK().empty()) c_.txtZone = look.OK();
    lu = nullptr;
    Pull();
}

bool frmArpaView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui_->List && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        PushSelection();
        c_.ClearSelected();
        Pull();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void frmArpaView::OK() {
    PushSelection();
    ui_->txtIP->Normalize();
    c_.IPLeft(ui_->txtIP->Text());
    if (c_.OK()) return accept();
    Pull();
    if (c_.FocusWanted == frmArpa::Field::Zone) ui_->txtZone->setFocus();
    if (c_.FocusWanted == frmArpa::Field::IP) ui_->txtIP->setFocus();
}

// ---- For the main window ------------------------------------------------------------------------

void ZoneDialogsView::ShowZone(frmZone& dialog) {
    frmZoneView(dialog, launcher_, parent_).exec();
}
void ZoneDialogsView::ShowQuick(frmQuick& dialog) {
    frmQuickView(dialog, launcher_, parent_).exec();
}
void ZoneDialogsView::ShowCopy(frmCopy& dialog) {
    frmCopyView(dialog, launcher_, parent_).exec();
}
void ZoneDialogsView::ShowArpa(frmArpa& dialog) {
    frmArpaView(dialog, ed_, launcher_, parent_).exec();
}

}  // namespace editor
