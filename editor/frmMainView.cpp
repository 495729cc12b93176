#include "editor/frmMainView.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QStyle>
#include <QToolButton>

#include "editor/frmRecView.h"
#include "widgets/qt_text.h"
#include "ui_frmFindReverse.h"
#include "ui_frmMain.h"

namespace editor {
namespace {

using kestwidgets::Q;

// The hourglass while a zone is read or the list is rebuilt.
class Busy {
  public:
    Busy() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~Busy() { QApplication::restoreOverrideCursor(); }
};

}  // namespace

frmMainView::frmMainView(platform::ILauncher& launcher, QWidget* parent)
    : QMainWindow(parent), launcher_(launcher), ui_(std::make_unique<Ui::frmMain>()) {
    ui_->setupUi(this);
    QStyle* s = style();
    ui_->tbNew->setIcon(s->standardIcon(QStyle::SP_FileIcon));
    ui_->tbProp->setIcon(s->standardIcon(QStyle::SP_FileDialogInfoView));
    ui_->tbCopy->setIcon(s->standardIcon(QStyle::SP_FileDialogDetailedView));
    ui_->tbDelete->setIcon(s->standardIcon(QStyle::SP_TrashIcon));
    ui_->tbHelp->setIcon(s->standardIcon(QStyle::SP_DialogHelpButton));
    // The New button's drop-down lists what can be made new.
    auto* newMenu = new QMenu(this);
    newMenu->addAction(ui_->mnuNewZone);
    newMenu->addAction(ui_->mnuNewRecord);
    ui_->tbNew->setMenu(newMenu);
    if (auto* b = qobject_cast<QToolButton*>(ui_->tbToolBar->widgetForAction(ui_->tbNew))) {
        b->setPopupMode(QToolButton::MenuButtonPopup);
        b->setAccessibleName(QStringLiteral("New"));
    }
    ui_->tbQuick->setIcon(s->standardIcon(QStyle::SP_FileDialogNewFolder));
    ui_->tbReverse->setIcon(s->standardIcon(QStyle::SP_BrowserReload));
    for (QAction* a :
         {ui_->tbProp, ui_->tbCopy, ui_->tbDelete, ui_->tbHelp, ui_->tbQuick, ui_->tbReverse})
        if (QWidget* w = ui_->tbToolBar->widgetForAction(a)) w->setAccessibleName(a->text());
    // Sizes from the font: room for a reverse zone's name, an owner name and the longest type.
    const QFontMetrics fm = fontMetrics();
    const int zonesWidth =
        fm.horizontalAdvance(QStringLiteral("0/25.100.168.192.in-addr.arpa")) + 24;
    const int nameWidth = fm.horizontalAdvance(QStringLiteral("mail.branch.example.com")) + 24;
    const int typeWidth = fm.horizontalAdvance(QStringLiteral("CNAME")) + 24;
    const int dataWidth =
        fm.horizontalAdvance(QStringLiteral("sip.example.com (Priority 0, Weight 5, Port 5060)")) +
        24;
    ui_->ListR->setColumnWidth(0, nameWidth);
    ui_->ListR->setColumnWidth(1, typeWidth);
    ui_->ListR->setColumnWidth(2, dataWidth);
    ui_->ListR->sortByColumn(-1, Qt::AscendingOrder);
    ui_->splitter->setStretchFactor(1, 1);
    const int recordsWidth = nameWidth + typeWidth + dataWidth + 24;
    ui_->splitter->setSizes({zonesWidth, recordsWidth});
    resize(zonesWidth + recordsWidth + 24, fm.height() * 30);
}

frmMainView::~frmMainView() = default;

template <typename Command>
void frmMainView::Run(Command command) {
    if (!c_) return;
    command();
    Sync();
    // Commands may move the focus side (a new record selects it, a deleted zone the zone list).
    QWidget* side = c_->Focus == frmMain::Side::Zones ? static_cast<QWidget*>(ui_->ListZ)
                                                      : static_cast<QWidget*>(ui_->ListR);
    if (isActiveWindow() || QApplication::activeWindow() == nullptr) side->setFocus();
}

void frmMainView::Bind(frmMain& controller) {
    c_ = &controller;
    auto& u = *ui_;
    connect(u.ListZ, &QListWidget::currentRowChanged, this, [this](int row) {
        if (syncing_ || row < 0) return;
        Busy busy;
        c_->SelectZone(row);
        Sync();
    });
    connect(u.ListR, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (syncing_ || !item) return;
        c_->SelectRecord(item->data(0, Qt::UserRole).toString().toStdString());
    });
    connect(u.ListZ, &QListWidget::itemDoubleClicked, this,
            [this] { Run([this] { c_->Properties(); }); });
    connect(u.ListR, &QTreeWidget::itemDoubleClicked, this,
            [this] { Run([this] { c_->Properties(); }); });
    connect(u.ListZ, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { PopUp(ui_->ListZ, p); });
    connect(u.ListR, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { PopUp(ui_->ListR->viewport(), p); });
    for (QWidget* list : {static_cast<QWidget*>(u.ListZ), static_cast<QWidget*>(u.ListR)})
        list->installEventFilter(this);

    const auto on = [this](QAction* a, auto command) {
        connect(a, &QAction::triggered, this, [this, command] {
            Run([this, command] {
                // Through a local: GCC 12's address checker misreads c_->*command here.
                frmMain* c = c_;
                (c->*command)();
            });
        });
    };
    on(u.mnuNewRecord, &frmMain::NewRecord);
    on(u.tbNew, &frmMain::NewByFocus);
    on(u.mnuNewZone, &frmMain::NewZone);
    on(u.mnuQuick, &frmMain::QuickDomain);
    on(u.tbQuick, &frmMain::QuickDomain);
    on(u.mnuReverse, &frmMain::ReverseWizard);
    on(u.tbReverse, &frmMain::ReverseWizard);
    on(u.mnuProperties, &frmMain::Properties);
    on(u.tbProp, &frmMain::Properties);
    on(u.mnuCopy, &frmMain::Copy);
    on(u.tbCopy, &frmMain::Copy);
    on(u.mnuDelete, &frmMain::Delete);
    on(u.tbDelete, &frmMain::Delete);
    on(u.mnuContents, &frmMain::Help);
    on(u.tbHelp, &frmMain::Help);
    on(u.mnuSupport, &frmMain::OnlineSupport);
    connect(u.mnuExit, &QAction::triggered, this, &QWidget::close);
    connect(u.mnuToolBar, &QAction::toggled, this, [this](bool shown) {
        c_->SetToolBar(shown);
        ui_->tbToolBar->setVisible(shown);
    });
    connect(u.mnuStatusBar, &QAction::toggled, this, [this](bool shown) {
        c_->SetStatusBar(shown);
        ui_->sbStatusBar->setVisible(shown);
    });
}

void frmMainView::Sync() {
    if (!c_) return;
    syncing_ = true;
    SyncZones();
    SyncRecords();
    ui_->lblZone->setText(Q(c_->ZoneLabel()));
    ui_->sbStatusBar->showMessage(Q(c_->StatusText()));
    ui_->mnuToolBar->setChecked(c_->ShowToolBar);
    ui_->tbToolBar->setVisible(c_->ShowToolBar);
    ui_->mnuStatusBar->setChecked(c_->ShowStatusBar);
    ui_->sbStatusBar->setVisible(c_->ShowStatusBar);
    SyncCommands();
    syncing_ = false;
}

void frmMainView::FocusZoneList() {
    ui_->ListZ->setFocus();
}

void frmMainView::SyncZones() {
    QListWidget* list = ui_->ListZ;
    bool same = list->count() == static_cast<int>(c_->ZoneList.size());
    for (int i = 0; same && i < list->count(); ++i)
        same = list->item(i)->text() == Q(c_->ZoneList[static_cast<size_t>(i)]);
    if (!same) {
        list->clear();
        for (const auto& z : c_->ZoneList) list->addItem(Q(z));
    }
    if (list->currentRow() != c_->SelectedZone) list->setCurrentRow(c_->SelectedZone);
}

void frmMainView::SyncRecords() {
    QTreeWidget* list = ui_->ListR;
    if (shownVersion_ != c_->RecordsVersion) {
        Busy busy;
        shownVersion_ = c_->RecordsVersion;
        const bool sorting = list->isSortingEnabled();
        list->setSortingEnabled(false);
        list->clear();
        QList<QTreeWidgetItem*> items;
        for (const auto& row : c_->Rows()) {
            auto* item = new QTreeWidgetItem({Q(row.name), Q(row.type), Q(row.data)});
            item->setData(0, Qt::UserRole, Q(row.key));
            items.append(item);
        }
        list->addTopLevelItems(items);
        list->setSortingEnabled(sorting);
    }
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list->topLevelItem(i);
        if (item->data(0, Qt::UserRole).toString() == Q(c_->SelectedRecord)) {
            if (list->currentItem() != item) list->setCurrentItem(item);
            list->scrollToItem(item);
            break;
        }
    }
}

void frmMainView::SyncCommands() {
    auto& u = *ui_;
    u.mnuNewRecord->setEnabled(c_->CanNewRecord());
    u.tbNew->setEnabled(c_->CanNewByFocus());
    u.mnuProperties->setEnabled(c_->CanProperties());
    u.tbProp->setEnabled(c_->CanProperties());
    u.mnuCopy->setEnabled(c_->CanCopy());
    u.tbCopy->setEnabled(c_->CanCopy());
    u.mnuDelete->setEnabled(c_->CanDelete());
    u.tbDelete->setEnabled(c_->CanDelete());
}

void frmMainView::PopUp(QWidget* list, const QPoint& at) {
    const bool zones = list == ui_->ListZ;
    if (zones) {
        if (QListWidgetItem* item = ui_->ListZ->itemAt(at)) ui_->ListZ->setCurrentItem(item);
        ui_->ListZ->setFocus();
    } else {
        if (QTreeWidgetItem* item = ui_->ListR->itemAt(at)) ui_->ListR->setCurrentItem(item);
        ui_->ListR->setFocus();
    }
    c_->SetFocus(zones ? frmMain::Side::Zones : frmMain::Side::Records);
    SyncCommands();
    QMenu menu(this);
    menu.addAction(ui_->mnuProperties);
    menu.addAction(ui_->mnuCopy);
    menu.addAction(ui_->mnuDelete);
    menu.exec(list->mapToGlobal(at));
}

bool frmMainView::eventFilter(QObject* watched, QEvent* event) {
    const bool zones = watched == ui_->ListZ;
    if (c_ && (zones || watched == ui_->ListR)) {
        if (event->type() == QEvent::FocusIn) {
            c_->SetFocus(zones ? frmMain::Side::Zones : frmMain::Side::Records);
            SyncCommands();
        } else if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Delete) {
                Run([this] { c_->Delete(); });
                return true;
            }
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                Run([this] { c_->Properties(); });
                return true;
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmMainView::closeEvent(QCloseEvent* event) {
    if (c_ && !closed_) {
        closed_ = true;
        c_->Close();
    }
    event->accept();
}

void frmMainView::ShowRecordDialog(frmRec& dialog) {
    frmRecView view(dialog, launcher_, this);
    view.exec();
}

std::string frmMainView::ChooseReverseZone(const std::vector<std::string>& candidates) {
    QDialog dialog(this);
    Ui::frmFindReverse ui;
    ui.setupUi(&dialog);
    for (const auto& z : candidates) ui.List1->addItem(Q(z));
    ui.List1->setCurrentRow(0);
    connect(ui.cmdOK, &QPushButton::clicked, &dialog, &QDialog::accept);
    connect(ui.cmdCancel, &QPushButton::clicked, &dialog, &QDialog::reject);
    connect(ui.List1, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
    if (dialog.exec() != QDialog::Accepted || !ui.List1->currentItem()) return "";
    return ui.List1->currentItem()->text().toStdString();
}

}  // namespace editor
