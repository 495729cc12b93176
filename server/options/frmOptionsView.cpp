#include "server/options/frmOptionsView.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabWidget>

#include "server/options/options_dialog.h"
#include "server/options/options_host.h"
#include "ui_frmOptions.h"
#include "widgets/ctlIP.h"
#include "widgets/ctlTTL.h"
#include "widgets/qt_text.h"

namespace modOptions {
namespace {

using kestwidgets::Q;
using kestwidgets::S;

void SetItems(QComboBox* box, const std::vector<std::string>& items, const std::string& current) {
    const QSignalBlocker block(box);
    box->clear();
    for (const auto& i : items) box->addItem(Q(i));
    box->setCurrentIndex(box->findText(Q(current)));
}

void SetItems(QListWidget* list, const AddressList& l) {
    const QSignalBlocker block(list);
    list->clear();
    for (const auto& i : l.Items) list->addItem(Q(i));
    list->setCurrentRow(l.Selected);
}

void SetText(QLineEdit* e, const std::string& text) {
    // Rewriting an unchanged field would move its caret.
    if (e->text() != Q(text)) e->setText(Q(text));
}

void SetChecked(QCheckBox* c, bool on) {
    const QSignalBlocker block(c);
    c->setChecked(on);
}

void SetAddress(ctlIP* c, const std::string& ip) {
    const QSignalBlocker block(c);
    if (c->Text() != ip) c->SetText(ip);
}

void SetTTL(ctlTTL* c, int32_t seconds) {
    const QSignalBlocker block(c);
    if (c->Seconds() != seconds) c->SetSeconds(seconds);
}

std::string Address(ctlIP* c) {
    c->Normalize();
    return c->Text();
}

int32_t Seconds(ctlTTL* c) {
    c->Normalize();
    return c->Seconds();
}

}  // namespace

frmOptionsView::frmOptionsView(frmOptions& controller, QWidget* parent)
    : QDialog(parent), ctl_(controller), ui_(std::make_unique<Ui::frmOptions>()) {
    ui_->setupUi(this);
    ui_->cmdOK->setDefault(true);
    // A combo box's drop-down list is read out under the box's own name.
    for (QComboBox* box : findChildren<QComboBox*>())
        box->view()->setAccessibleName(box->accessibleName());
    ctl_.OnTab = [this](Tab tab) { ui_->tabOptions->setCurrentIndex(static_cast<int>(tab)); };

    auto& u = *ui_;
    connect(u.chkBind, &QCheckBox::toggled, this,
            [this] { Event([this] { ctl_.BindChanged(); }); });
    connect(u.comBind, &QComboBox::currentTextChanged, this,
            [this] { Event([this] { ctl_.BindChanged(); }); });
    connect(u.chkService, &QCheckBox::clicked, this,
            [this] { Event([this] { ctl_.ServiceClick(); }); });
    connect(u.chkStartWin, &QCheckBox::clicked, this,
            [this] { Event([this] { ctl_.StartWinClick(); }); });
    connect(u.chkStartMini, &QCheckBox::clicked, this,
            [this] { Event([this] { ctl_.StartMiniClick(); }); });
    for (QLineEdit* e : {u.txtBomb, u.txtMinTO, u.txtSync, u.txtPort}) {
        connect(e, &QLineEdit::editingFinished, this,
                [this, e] { Event([this, e] { ctl_.LostFocus(S(e->objectName())); }); });
    }
    const auto list = [this](QPushButton* add, QPushButton* remove, QListWidget* items,
                             AddressList frmOptions::*l) {
        connect(add, &QPushButton::clicked, this,
                [this, l] { Event([this, l] { (ctl_.*l).Add(); }); });
        connect(remove, &QPushButton::clicked, this,
                [this, l] { Event([this, l] { (ctl_.*l).Remove(); }); });
        connect(items, &QListWidget::currentRowChanged, this,
                [this, l](int row) { (ctl_.*l).Selected = row; });
    };
    list(u.cmdAddNS, u.cmdRemoveNS, u.lstNS, &frmOptions::NS);
    list(u.cmdAddBlock, u.cmdRemoveBlock, u.lstBlock, &frmOptions::Blocked);
    list(u.cmdAddNoBlock, u.cmdRemoveNoBlock, u.lstNoBlock, &frmOptions::NoBlock);
    connect(u.comIF, &QComboBox::currentIndexChanged, this,
            [this](int i) { Event([this, i] { ctl_.SelectInterface(i); }); });
    connect(u.cmdHosts, &QPushButton::clicked, this,
            [this] { Event([this] { ctl_.BrowseHosts(); }); });
    connect(u.cmdEdit, &QPushButton::clicked, this,
            [this] { Event([this] { ctl_.EditHosts(); }); });
    connect(u.cmdCopy, &QPushButton::clicked, this,
            [this] { Event([this] { ctl_.BrowseCopy(); }); });
    connect(u.cmdOK, &QPushButton::clicked, this, &frmOptionsView::OnOK);
    connect(u.cmdCancel, &QPushButton::clicked, this, &QDialog::reject);

    Push();
}

frmOptionsView::~frmOptionsView() {
    ctl_.OnTab = nullptr;
}

template <typename F>
void frmOptionsView::Event(F&& f) {
    Pull();
    f();
    Push();
}

void frmOptionsView::Push() {
    auto& u = *ui_;
    const frmOptions& c = ctl_;
    SetText(u.txtName, c.txtName);
    SetChecked(u.chkBind, c.chkBind);
    SetItems(u.comBind, c.BindChoices, c.comBind);
    u.comBind->setEnabled(c.chkBind);
    SetText(u.txtPort, c.txtPort);
    SetChecked(u.chkService, c.chkService);
    SetChecked(u.chkStartWin, c.chkStartWin);
    SetChecked(u.chkStartMini, c.chkStartMini);
    SetChecked(u.chkLog, c.chkLog);
    SetChecked(u.chkDetail, c.chkDetail);
    SetChecked(u.chkOut, c.chkOut);
    SetChecked(u.chkLogBlock, c.chkLogBlock);

    SetItems(u.comRecur, c.RecurChoices, c.comRecur);
    SetText(u.txtMinTO, c.txtMinTO);
    SetChecked(u.chkSpoof, c.chkSpoof);
    SetChecked(u.chkCNAME, c.chkCNAME);
    SetChecked(u.chkForward, c.chkForward);
    SetAddress(u.ipNS, c.NS.Entry);
    SetItems(u.lstNS, c.NS);

    SetText(u.txtCopy, c.txtCopy);
    SetText(u.txtSync, c.txtSync);
    SetText(u.txtHosts, c.txtHosts);
    SetTTL(u.ttlHosts, c.ttlHosts);
    SetTTL(u.ttlCache, c.ttlCache);
    SetChecked(u.chkCacheReload, c.chkCacheReload);

    SetText(u.txtBomb, c.txtBomb);
    SetAddress(u.ipBlock, c.Blocked.Entry);
    SetItems(u.lstBlock, c.Blocked);
    SetAddress(u.ipNoBlock, c.NoBlock.Entry);
    SetItems(u.lstNoBlock, c.NoBlock);

    {
        const QSignalBlocker block(u.comIF);
        if (u.comIF->count() != static_cast<int>(c.Interfaces.size())) {
            u.comIF->clear();
            for (const auto& f : c.Interfaces) u.comIF->addItem(Q(f.IPaddr));
        }
        u.comIF->setCurrentIndex(c.comIF);
    }
    SetChecked(u.chkDHCP, c.chkDHCP);
    SetText(u.txtDomain, c.txtDomain);
    SetAddress(u.ipFrom, c.ipFrom);
    SetAddress(u.ipTo, c.ipTo);
    SetAddress(u.ipMask, c.ipMask);
    SetAddress(u.ipGateway, c.ipGateway);
    SetTTL(u.ttlLease, c.ttlLease);
    u.grpDHCP->setEnabled(!c.Interfaces.empty());
}

void frmOptionsView::Pull() {
    auto& u = *ui_;
    frmOptions& c = ctl_;
    c.txtName = S(u.txtName->text());
    c.chkBind = u.chkBind->isChecked();
    c.comBind = S(u.comBind->currentText());
    c.txtPort = S(u.txtPort->text());
    c.chkService = u.chkService->isChecked();
    c.chkStartWin = u.chkStartWin->isChecked();
    c.chkStartMini = u.chkStartMini->isChecked();
    c.chkLog = u.chkLog->isChecked();
    c.chkDetail = u.chkDetail->isChecked();
    c.chkOut = u.chkOut->isChecked();
    c.chkLogBlock = u.chkLogBlock->isChecked();

    c.comRecur = S(u.comRecur->currentText());
    c.txtMinTO = S(u.txtMinTO->text());
    c.chkSpoof = u.chkSpoof->isChecked();
    c.chkCNAME = u.chkCNAME->isChecked();
    c.chkForward = u.chkForward->isChecked();
    c.NS.Entry = Address(u.ipNS);

    c.txtCopy = S(u.txtCopy->text());
    c.txtSync = S(u.txtSync->text());
    c.txtHosts = S(u.txtHosts->text());
    c.ttlHosts = Seconds(u.ttlHosts);
    c.ttlCache = Seconds(u.ttlCache);
    c.chkCacheReload = u.chkCacheReload->isChecked();

    c.txtBomb = S(u.txtBomb->text());
    c.Blocked.Entry = Address(u.ipBlock);
    c.NoBlock.Entry = Address(u.ipNoBlock);

    // The selection itself changes only through SelectInterface.
    c.chkDHCP = u.chkDHCP->isChecked();
    c.txtDomain = S(u.txtDomain->text());
    c.ipFrom = Address(u.ipFrom);
    c.ipTo = Address(u.ipTo);
    c.ipMask = Address(u.ipMask);
    c.ipGateway = Address(u.ipGateway);
    c.ttlLease = Seconds(u.ttlLease);
}

void frmOptionsView::OnOK() {
    Pull();
    if (!ctl_.Check()) {
        Push();
        ui_->tabOptions->setCurrentIndex(static_cast<int>(ctl_.CurrentTab));
        if (QWidget* w = findChild<QWidget*>(Q(ctl_.Focus))) {
            if (auto* a = qobject_cast<ctlIP*>(w)) w = a->Field(0);
            if (auto* t = qobject_cast<ctlTTL*>(w)) w = t->Field(0);
            w->setFocus(Qt::OtherFocusReason);
        }
        return;
    }
    Push();
    hide();
    outcome_ = ctl_.Apply();
    accept();
}

bool ShowOptionsDialog(modMain::frmAlpha& server, QWidget* parent) {
    AlphaTarget target(server);
    QWidget* main = parent ? parent->window() : nullptr;
    target.onCaption = [main](const std::string& caption) {
        if (main) main->setWindowTitle(Q(caption));
    };
    target.onHideMainWindow = [main] {
        if (main) main->hide();
    };
    SystemdService service(server.ProgramDir());
    XdgStartupEntry startup(server.ProgramDir());
    frmOptions controller(target, service, startup, server.Prompt(), server.Launcher());
    controller.Load();
    frmOptionsView view(controller, parent);
    view.exec();
    return view.Result() != frmOptions::Outcome::Stay;
}

}  // namespace modOptions
