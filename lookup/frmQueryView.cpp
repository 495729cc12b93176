#include "lookup/frmQueryView.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QShortcut>
#include <QStyle>
#include <QToolButton>

#include "platform/settings_store.h"
#include "widgets/qt_text.h"
#include "ui_frmQuery.h"

namespace lookup {
namespace {

using kestwidgets::Q;

void SetItems(QComboBox* box, const std::vector<std::string>& items) {
    if (box->count() == static_cast<int>(items.size())) return;
    const QString text = box->currentText();
    box->clear();
    for (const auto& s : items) box->addItem(Q(s));
    box->setEditText(text);
}

void SetEditText(QComboBox* box, const std::string& text) {
    if (box->currentText() != Q(text)) box->setEditText(Q(text));
}

}  // namespace

frmQueryView::frmQueryView(frmQuery& query, platform::SettingsStore& store, QWidget* parent)
    : QMainWindow(parent), query_(query), store_(store), ui_(std::make_unique<Ui::frmQuery>()) {
    ui_->setupUi(this);
    ui_->txtAnswer->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    // Status bar: the ready or error icon, then the text.
    statusIcon_ = new QLabel(this);
    statusIcon_->setObjectName("sbStatusIcon");
    statusText_ = new QLabel(this);
    statusText_->setObjectName("sbStatusText");
    statusText_->setAccessibleName("Status");
    ui_->sbStatus->addWidget(statusIcon_);
    ui_->sbStatus->addWidget(statusText_, 1);

    // Toolbar buttons, named like their keys.
    const struct {
        QAction* action;
        const char* name;
        QStyle::StandardPixmap icon;
    } buttons[] = {{ui_->tbLookUp, "tbLookUp", QStyle::SP_FileDialogContentsView},
                   {ui_->tbStop, "tbStop", QStyle::SP_BrowserStop},
                   {ui_->tbCopy, "tbCopy", QStyle::SP_DialogSaveButton},
                   {ui_->tbHelp, "tbHelp", QStyle::SP_DialogHelpButton}};
    for (const auto& b : buttons) {
        b.action->setIcon(style()->standardIcon(b.icon));
        if (auto* w = ui_->tbrMain->widgetForAction(b.action)) {
            w->setObjectName(b.name);
            w->setAccessibleName(b.action->text());
        }
    }
    lookUpButton_ = qobject_cast<QToolButton*>(ui_->tbrMain->widgetForAction(ui_->tbLookUp));
    BuildTypeMenus();

    ui_->mnuRecursion->setChecked(query_.recursion);
    ui_->mnuAutoWhoIs->setChecked(query_.autoWhois);
    ui_->mnuFile->setAccessibleName("File");
    ui_->mnuOptions->setAccessibleName("Options");
    ui_->mnuView->setAccessibleName("View");
    ui_->mnuHelp->setAccessibleName("Help");
    ui_->mnuLURec->setAccessibleName("Look Up Type");

    // Name and server fields: the controller keeps the text; leaving a field cleans it.
    connect(ui_->txtName, &QComboBox::editTextChanged, this, [this](const QString& t) {
        if (!refreshing_) query_.nameText = t.toStdString();
    });
    connect(ui_->txtIP, &QComboBox::editTextChanged, this, [this](const QString& t) {
        if (!refreshing_) query_.serverText = t.toStdString();
    });
    // The parts Qt adds inside controls get names too, so a screen reader names every one.
    ui_->txtName->lineEdit()->setAccessibleName(ui_->txtName->accessibleName());
    ui_->txtIP->lineEdit()->setAccessibleName(ui_->txtIP->accessibleName());
    ui_->txtName->view()->setAccessibleName("Names asked before");
    ui_->txtIP->view()->setAccessibleName("Servers asked before");
    for (auto* ext : ui_->tbrMain->findChildren<QToolButton*>("qt_toolbar_ext_button"))
        ext->setAccessibleName("More tools");
    ui_->sbStatus->setSizeGripEnabled(false);
    ui_->txtName->lineEdit()->installEventFilter(this);
    ui_->txtIP->lineEdit()->installEventFilter(this);

    // Enter anywhere in the window repeats the current type.
    for (int key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* enter = new QShortcut(QKeySequence(key), this);
        enter->setContext(Qt::WindowShortcut);
        connect(enter, &QShortcut::activated, this, [this] { query_.LookUpCurrent(); });
    }
    // The fields take Enter themselves when they have the focus.
    for (QComboBox* box : {ui_->txtName, ui_->txtIP}) {
        connect(box->lineEdit(), &QLineEdit::returnPressed, this, [this, box] {
            if (box == ui_->txtName)
                query_.NameLeft();
            else
                query_.ServerLeft();
            query_.LookUpCurrent();
        });
    }

    connect(ui_->mnuLookUp, &QAction::triggered, this, [this] { query_.LookUpCurrent(); });
    connect(ui_->tbLookUp, &QAction::triggered, this, [this] { query_.LookUpCurrent(); });
    connect(ui_->mnuStop, &QAction::triggered, this, [this] { query_.Stop(); });
    connect(ui_->tbStop, &QAction::triggered, this, [this] { query_.Stop(); });
    connect(ui_->mnuCopy, &QAction::triggered, this, [this] { query_.Copy(); });
    connect(ui_->tbCopy, &QAction::triggered, this, [this] { query_.Copy(); });
    connect(ui_->mnuContents, &QAction::triggered, this, [this] { query_.Help(); });
    connect(ui_->tbHelp, &QAction::triggered, this, [this] { query_.Help(); });
    connect(ui_->mnuSupport, &QAction::triggered, this, [this] { query_.OnlineSupport(); });
    connect(ui_->mnuExit, &QAction::triggered, this, &QWidget::close);
    connect(ui_->mnuRecursion, &QAction::toggled, this, [this](bool on) { query_.recursion = on; });
    connect(ui_->mnuAutoWhoIs, &QAction::toggled, this, [this](bool on) { query_.autoWhois = on; });
    connect(ui_->mnuVTool, &QAction::toggled, this, [this](bool on) {
        query_.showToolBar = on;
        Refresh();
    });
    connect(ui_->mnuVStatus, &QAction::toggled, this, [this](bool on) {
        query_.showStatusBar = on;
        Refresh();
    });
    connect(ui_->mnuVServer, &QAction::toggled, this, [this](bool on) {
        query_.showServer = on;
        Refresh();
    });

    query_.OnChanged = [this] { Refresh(); };
    query_.OnBeep = [] { QApplication::beep(); };
    query_.OnFocusName = [this] { ui_->txtName->setFocus(); };
    query_.ReadSettings(store_);
    Refresh();
    ui_->txtName->setFocus();
}

frmQueryView::~frmQueryView() {
    query_.OnChanged = nullptr;
    query_.OnBeep = nullptr;
    query_.OnFocusName = nullptr;
}

void frmQueryView::BuildTypeMenus() {
    dropDown_ = new QMenu(this);
    dropDown_->setObjectName("tbLookUpTypes");
    dropDown_->setAccessibleName("Look Up Type");
    int index = 0;
    for (const QueryType& t : kQueryTypes) {
        const std::string word = t.word;
        auto* item = ui_->mnuLURec->addAction(QString::fromUtf8(t.caption));
        item->setObjectName(QString("mnuLURec_%1").arg(index));
        connect(item, &QAction::triggered, this, [this, word] { query_.LookUp(word); });
        auto* drop = dropDown_->addAction(QString::fromUtf8(t.caption));
        drop->setObjectName(QString("tbLookUpType_%1").arg(index));
        connect(drop, &QAction::triggered, this, [this, word] { query_.LookUp(word); });
        ++index;
    }
    if (lookUpButton_) {
        lookUpButton_->setMenu(dropDown_);
        lookUpButton_->setPopupMode(QToolButton::MenuButtonPopup);
    }
}

void frmQueryView::Refresh() {
    refreshing_ = true;
    SetItems(ui_->txtName, query_.nameHistory);
    SetItems(ui_->txtIP, query_.serverHistory);
    SetEditText(ui_->txtName, query_.nameText);
    SetEditText(ui_->txtIP, query_.serverText);
    const QString out = Q(query_.Output()).replace("\r\n", "\n");
    if (ui_->txtAnswer->toPlainText() != out) ui_->txtAnswer->setPlainText(out);
    statusText_->setText(Q(query_.StatusText()));
    const bool error = query_.Icon() == StatusIcon::Error;
    statusIcon_->setPixmap(
        style()
            ->standardIcon(error ? QStyle::SP_MessageBoxCritical : QStyle::SP_DialogApplyButton)
            .pixmap(16, 16));
    statusIcon_->setAccessibleName(error ? "Error" : "Ready");

    ui_->Pic->setEnabled(query_.InputsEnabled());
    ui_->tbLookUp->setEnabled(query_.LookUpEnabled());
    ui_->tbLookUp->setText(Q(query_.LookUpCaption()));
    if (lookUpButton_) lookUpButton_->setAccessibleName(Q(query_.LookUpCaption()));
    ui_->mnuLookUp->setVisible(query_.LookUpMenuVisible());
    ui_->mnuStop->setVisible(query_.StopMenuVisible());
    ui_->mnuStop->setEnabled(query_.StopEnabled());
    ui_->tbStop->setEnabled(query_.StopEnabled());
    ui_->tbCopy->setEnabled(query_.CopyEnabled());
    ui_->mnuCopy->setEnabled(query_.CopyEnabled());

    ui_->mnuVTool->setChecked(query_.showToolBar);
    ui_->mnuVStatus->setChecked(query_.showStatusBar);
    ui_->mnuVServer->setChecked(query_.showServer);
    ui_->tbrMain->setVisible(query_.showToolBar);
    ui_->sbStatus->setVisible(query_.showStatusBar);
    ui_->lblIP->setVisible(query_.showServer);
    ui_->txtIP->setVisible(query_.showServer);
    refreshing_ = false;
}

bool frmQueryView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        if (watched == ui_->txtName->lineEdit()) query_.NameLeft();
        if (watched == ui_->txtIP->lineEdit()) query_.ServerLeft();
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmQueryView::closeEvent(QCloseEvent* event) {
    query_.Close();
    query_.WriteSettings(store_);
    event->accept();
}

}  // namespace lookup
