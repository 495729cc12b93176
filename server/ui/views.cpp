#include "server/ui/views.h"

#include <QAction>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPainter>
#include <QProgressDialog>
#include <QScrollBar>
#include <QSizeGrip>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>

#include "core/datetime.h"
#include "core/report.h"
#include "platform/http_get.h"
#include "platform/paths.h"
#include "platform/tray.h"
#include "server/activity_log.h"
#include "server/error_report.h"
#include "widgets/qt_text.h"
#include "ui_frmGraph.h"
#include "ui_frmLeases.h"
#include "ui_frmLog.h"
#include "ui_frmMain.h"

namespace serverui {
namespace {

using kestwidgets::Q;

// The status panel's picture: green running, red stopped.
QPixmap StatePicture(bool running) {
    QPixmap pixmap(14, 14);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor fill = running ? QColor(40, 160, 60) : QColor(200, 40, 40);
    painter.setPen(QPen(fill.darker(170), 1));
    painter.setBrush(fill);
    painter.drawEllipse(QRectF(1.5, 1.5, 11, 11));
    return pixmap;
}

// The windows' icon: a blue disc with a white "K".
QIcon WindowIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(20, 60, 120), 2));
    painter.setBrush(QColor(40, 100, 190));
    painter.drawEllipse(QRectF(2, 2, 28, 28));
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(18);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, 0, 32, 32), Qt::AlignCenter, "K");
    return QIcon(pixmap);
}

}  // namespace

// ---- Graph ----

GraphArea::GraphArea(QWidget* parent) : QWidget(parent) {
    setMinimumSize(120, 70);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
}

void GraphArea::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::black);
    const QFontMetrics fm(font());
    painter.drawText(QPoint(6, 4 + fm.ascent()), frmGraph::kTitle);
    if (!draw) return;
    const GraphDrawing g = draw(width(), height());
    if (!g.axes) return;
    painter.setPen(QPen(Qt::black, 1));
    painter.drawLine(QPointF(g.left, g.top), QPointF(g.left, g.bottom));
    painter.drawLine(QPointF(g.left, g.bottom), QPointF(g.right, g.bottom));
    const QString scale = QString::number(g.scale);
    painter.drawText(QPointF(g.left - 4 - fm.horizontalAdvance(scale), g.top + fm.ascent() / 2.0),
                     scale);
    painter.drawText(QPointF(g.left - 4 - fm.horizontalAdvance("0"), g.bottom), "0");
    QPolygonF line;
    for (const auto& p : g.line) line << QPointF(p.x, p.y);
    painter.setPen(QPen(QColor(0, 160, 0), 2));
    painter.drawPolyline(line);
}

frmGraphView::frmGraphView(modMain::frmAlpha& alpha, QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::frmGraph>()) {
    ui_->setupUi(this);
    ui_->picGraph->draw = [&alpha](int w, int h) {
        const int second = kest::DaysToCivil(alpha.Clock().LocalNow()).second;
        return frmGraph::Draw(alpha.SecondCounts, second, w, h);
    };
}

frmGraphView::~frmGraphView() = default;

void frmGraphView::Redraw() {
    ui_->picGraph->update();
}

// ---- Log ----

frmLogView::frmLogView(modMain::ActivityLog& log, QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::frmLog>()), log_(log) {
    ui_->setupUi(this);
    QFont fixed("Monospace");
    fixed.setStyleHint(QFont::TypeWriter);
    ui_->lstLog->setFont(fixed);
    for (const auto& line : log_.WindowLines()) ui_->lstLog->addItem(Q(line));
    ui_->lstLog->scrollToBottom();
    log_.SetWindowObserver([this](const std::string& line) { Append(line); });
}

frmLogView::~frmLogView() {
    log_.SetWindowObserver({});
}

void frmLogView::Append(const std::string& line) {
    QListWidget* list = ui_->lstLog;
    while (list->count() >= static_cast<int>(modMain::ActivityLog::kMaxLines))
        delete list->takeItem(0);
    list->addItem(Q(line));
    list->scrollToBottom();
}

void frmLogView::Clear() {
    ui_->lstLog->clear();
}

int frmLogView::LineCount() const {
    return ui_->lstLog->count();
}

QString frmLogView::Line(int row) const {
    const QListWidgetItem* item = ui_->lstLog->item(row);
    return item ? item->text() : QString();
}

// ---- Leases ----

frmLeasesView::frmLeasesView(frmLeases& leases, QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::frmLeases>()), leases_(leases) {
    ui_->setupUi(this);
    ui_->ListL->installEventFilter(this);
    ui_->ListL->setColumnWidth(0, 150);
    ui_->ListL->setColumnWidth(1, 110);
    ui_->ListL->setColumnWidth(2, 130);
    ui_->ListL->sortByColumn(1, Qt::AscendingOrder);
    connect(ui_->mnuDelete, &QAction::triggered, this, [this] { Delete(); });
    connect(ui_->ListL, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu menu(this);
        menu.setObjectName("mnuLeasePopup");
        menu.setAccessibleName("Lease");
        menu.addAction(ui_->mnuDelete);
        menu.exec(ui_->ListL->viewport()->mapToGlobal(at));
    });
    Fill();
}

frmLeasesView::~frmLeasesView() = default;

void frmLeasesView::Fill() {
    QTreeWidget* list = ui_->ListL;
    const QString selected =
        list->currentItem() ? list->currentItem()->data(0, Qt::UserRole).toString() : QString();
    list->setSortingEnabled(false);
    list->clear();
    for (const auto& item : leases_.Items) {
        auto* row = new QTreeWidgetItem(
            list, {Q(item.text), Q(item.ipaddr), Q(item.hwaddr), Q(item.expires)});
        row->setData(0, Qt::UserRole, Q(item.key));
        if (Q(item.key) == selected) list->setCurrentItem(row);
    }
    list->setSortingEnabled(true);
    if (!list->currentItem() && list->topLevelItemCount() > 0)
        list->setCurrentItem(list->topLevelItem(0));
}

void frmLeasesView::Delete() {
    const QTreeWidgetItem* item = ui_->ListL->currentItem();
    leases_.DelLease(item ? item->data(0, Qt::UserRole).toString().toStdString() : std::string());
    Fill();
}

bool frmLeasesView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui_->ListL && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete &&
        ui_->ListL->topLevelItemCount() > 0) {
        Delete();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// ---- Main window ----

frmMainView::frmMainView(frmMain& controller, platform::IPrompt* prompt,
                         platform::SettingsStore* store, QWidget* parent)
    : QMainWindow(parent),
      ui_(std::make_unique<Ui::frmMain>()),
      ctl_(controller),
      prompt_(prompt),
      store_(store) {
    ui_->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(WindowIcon());

    // Status bar: status text with its picture, requests, cache.
    pnlPicture_ = new QLabel(this);
    pnlPicture_->setObjectName("pnlPicture");
    pnlPicture_->setAccessibleName("Service state");
    pnlStatus_ = new QLabel(this);
    pnlStatus_->setObjectName("pnlStatus");
    pnlStatus_->setAccessibleName("Status");
    pnlRequests_ = new QLabel(this);
    pnlRequests_->setObjectName("pnlRequests");
    pnlRequests_->setAccessibleName("Requests");
    pnlCache_ = new QLabel(this);
    pnlCache_->setObjectName("pnlCache");
    pnlCache_->setAccessibleName("Cache");
    for (QLabel* l : {pnlRequests_, pnlCache_}) {
        l->setMinimumWidth(120);
        l->setFrameShape(QFrame::StyledPanel);
        l->setFrameShadow(QFrame::Sunken);
    }
    ui_->sbMain->addWidget(pnlPicture_);
    ui_->sbMain->addWidget(pnlStatus_, 1);
    ui_->sbMain->addPermanentWidget(pnlRequests_);
    ui_->sbMain->addPermanentWidget(pnlCache_);
    // Qt's own parts of the bars get names too, so a screen reader finds nothing nameless.
    if (auto* grip = ui_->sbMain->findChild<QSizeGrip*>()) grip->setAccessibleName("Resize");
    if (auto* more = ui_->tbMain->findChild<QToolButton*>("qt_toolbar_ext_button"))
        more->setAccessibleName("More tools");

    // Accessible names are the captions without their accelerator marks.
    for (QAction* a : findChildren<QAction*>()) {
        if (!a->text().isEmpty()) a->setToolTip(QString(a->text()).remove('&'));
    }

    const auto bind = [this](QAction* action, void (frmMain::*command)()) {
        // Through a local: GCC 12's address checker misreads ctl_.*command here.
        connect(action, &QAction::triggered, this, [ctl = &ctl_, command] { (ctl->*command)(); });
    };
    bind(ui_->mnuStartStop, &frmMain::mnuStartStop);
    bind(ui_->mnuReload, &frmMain::mnuReload);
    bind(ui_->mnuClearCache, &frmMain::mnuClearCache);
    bind(ui_->mnuViewCache, &frmMain::mnuViewCache);
    bind(ui_->mnuEdit, &frmMain::mnuEdit);
    bind(ui_->mnuQuery, &frmMain::mnuQuery);
    bind(ui_->mnuPerm, &frmMain::mnuPerm);
    bind(ui_->mnuSupport, &frmMain::mnuSupport);
    bind(ui_->mnuExit, &frmMain::mnuExit);
    bind(ui_->mnuGraph, &frmMain::mnuGraph);
    bind(ui_->mnuLog, &frmMain::mnuLog);
    bind(ui_->mnuLeases, &frmMain::mnuLeases);
    bind(ui_->mnuClearLog, &frmMain::mnuClearLog);
    bind(ui_->mnuToolBar, &frmMain::mnuToolBar);
    bind(ui_->mnuStatusBar, &frmMain::mnuStatusBar);
    bind(ui_->mnuHelp, &frmMain::mnuHelp);
    bind(ui_->mnuAbout, &frmMain::mnuAbout);
    bind(ui_->mnuWeb, &frmMain::mnuWeb);
    bind(ui_->tbLookUp, &frmMain::mnuQuery);
    bind(ui_->tbCache, &frmMain::mnuViewCache);
    bind(ui_->tbRecords, &frmMain::mnuEdit);
    bind(ui_->tbHelp, &frmMain::mnuHelp);
    connect(ui_->mnuTileH, &QAction::triggered, this, [this] {
        // Child windows one above the other, each the full width.
        const auto subs = ui_->mdiMain->subWindowList();
        if (subs.isEmpty()) return;
        const QSize area = ui_->mdiMain->viewport()->size();
        const int h = area.height() / static_cast<int>(subs.size());
        int y = 0;
        for (QMdiSubWindow* s : subs) {
            s->showNormal();
            s->setGeometry(0, y, area.width(), h);
            y += h;
        }
    });
    connect(ui_->mnuTileV, &QAction::triggered, this, [this] {
        const auto subs = ui_->mdiMain->subWindowList();
        if (subs.isEmpty()) return;
        const QSize area = ui_->mdiMain->viewport()->size();
        const int w = area.width() / static_cast<int>(subs.size());
        int x = 0;
        for (QMdiSubWindow* s : subs) {
            s->showNormal();
            s->setGeometry(x, 0, w, area.height());
            x += w;
        }
    });
    connect(ui_->mnuCascade, &QAction::triggered, ui_->mdiMain, &QMdiArea::cascadeSubWindows);

    // The options dialog has an entry only once something can open it.
    if (ctl_.OpenOptions) {
        auto* options = new QAction("&Options...", this);
        options->setObjectName("mnuOptions");
        connect(options, &QAction::triggered, this, [this] { ctl_.mnuOptions(); });
        ui_->mnuServer->insertAction(ui_->mnuPerm, options);
        auto* tbOptions = new QAction("Options", this);
        tbOptions->setObjectName("tbOptions");
        connect(tbOptions, &QAction::triggered, this, [this] { ctl_.mnuOptions(); });
        ui_->tbMain->insertAction(ui_->tbHelp, tbOptions);
    }

    // Window layout from the settings store.
    if (store_) {
        const std::string main = ChildPlace("main");
        if (!main.empty()) restoreGeometry(QByteArray::fromBase64(QByteArray::fromStdString(main)));
    }
    saveLater_ = new QTimer(this);
    saveLater_->setSingleShot(true);
    saveLater_->setInterval(500);
    connect(saveLater_, &QTimer::timeout, this, [this] { SaveWindowsPos(); });
    ctl_.SetView(this);
}

bool frmMainView::eventFilter(QObject* watched, QEvent* event) {
    // A child window moved or changed state: "MainWindows" is written a moment later.
    const auto type = event->type();
    if (!closing_ &&
        (type == QEvent::Move || type == QEvent::Resize || type == QEvent::WindowStateChange))
        saveLater_->start();
    return QMainWindow::eventFilter(watched, event);
}

void frmMainView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange && saveLater_ && !closing_) saveLater_->start();
    QMainWindow::changeEvent(event);
}

void frmMainView::moveEvent(QMoveEvent* event) {
    if (saveLater_ && !closing_ && isVisible()) saveLater_->start();
    QMainWindow::moveEvent(event);
}

void frmMainView::resizeEvent(QResizeEvent* event) {
    if (saveLater_ && !closing_ && isVisible()) saveLater_->start();
    QMainWindow::resizeEvent(event);
}

frmMainView::~frmMainView() {
    closing_ = true;
    // The child views die later, in QWidget's destructor: their handlers must not reach us then.
    for (QObject* view : {static_cast<QObject*>(graph_.data()), static_cast<QObject*>(log_.data()),
                          static_cast<QObject*>(leases_.data())}) {
        if (view) disconnect(view, &QObject::destroyed, this, nullptr);
    }
    ctl_.SetView(nullptr);
}

std::string frmMainView::ChildPlace(const char* key) const {
    // "main=<geometry>;graph=x,y,w,h;log=...;leases=..."
    const QString all = Q(store_ ? store_->GetString(frmMain::kSection, "MainWindows") : "");
    for (const QString& part : all.split(';', Qt::SkipEmptyParts)) {
        const auto eq = part.indexOf('=');
        if (eq > 0 && part.left(eq) == key) return part.mid(eq + 1).toStdString();
    }
    return {};
}

void frmMainView::SaveWindowsPos() {
    try {
        if (!store_) return;
        QStringList parts;
        parts << "main=" + QString::fromLatin1(saveGeometry().toBase64());
        const std::pair<const char*, QWidget*> children[] = {
            {"graph", graph_}, {"log", log_}, {"leases", leases_}};
        for (const auto& [key, view] : children) {
            QRect r;
            if (view && view->parentWidget()) {
                r = view->parentWidget()->geometry();
            } else {
                const QStringList old = Q(ChildPlace(key)).split(',');
                if (old.size() == 4)
                    r = QRect(old[0].toInt(), old[1].toInt(), old[2].toInt(), old[3].toInt());
            }
            if (r.isValid())
                parts << QString("%1=%2,%3,%4,%5")
                             .arg(key)
                             .arg(r.x())
                             .arg(r.y())
                             .arg(r.width())
                             .arg(r.height());
        }
        store_->SetString(frmMain::kSection, "MainWindows", parts.join(';').toStdString());
    } catch (...) {
        kest::ReportError("frmMain SaveWindowsPos");
    }
}

QMdiSubWindow* frmMainView::AddChild(QWidget* view, const char* key, Child child) {
    QMdiSubWindow* sub = ui_->mdiMain->addSubWindow(view);
    sub->setObjectName(view->objectName() + "Frame");
    sub->setAccessibleName(view->windowTitle());
    sub->setAttribute(Qt::WA_DeleteOnClose);
    sub->setWindowIcon(windowIcon());
    sub->installEventFilter(this);
    const QStringList place = Q(ChildPlace(key)).split(',');
    if (place.size() == 4) {
        sub->setGeometry(place[0].toInt(), place[1].toInt(), place[2].toInt(), place[3].toInt());
    } else {
        sub->resize(view->size());
    }
    connect(view, &QObject::destroyed, this, [this, child] {
        if (closing_) return;
        // The dying view is a bare QObject by now: forget it before anything reads the pointer.
        switch (child) {
            case Child::Graph:
                graph_ = nullptr;
                break;
            case Child::Log:
                log_ = nullptr;
                break;
            case Child::Leases:
                leases_ = nullptr;
                break;
        }
        SaveWindowsPos();
        ctl_.ChildClosed(child);
    });
    sub->show();
    return sub;
}

void frmMainView::ShowChild(Child child) {
    QWidget* existing = child == Child::Graph ? static_cast<QWidget*>(graph_)
                        : child == Child::Log ? static_cast<QWidget*>(log_)
                                              : static_cast<QWidget*>(leases_);
    if (existing) {
        auto* sub = qobject_cast<QMdiSubWindow*>(existing->parentWidget());
        if (sub) {
            sub->showNormal();
            ui_->mdiMain->setActiveSubWindow(sub);
        }
        return;
    }
    switch (child) {
        case Child::Graph:
            graph_ = new frmGraphView(ctl_.Alpha());
            AddChild(graph_, "graph", child);
            break;
        case Child::Log:
            log_ = new frmLogView(ctl_.Alpha().Log());
            AddChild(log_, "log", child);
            break;
        case Child::Leases:
            leases_ = new frmLeasesView(ctl_.Leases());
            AddChild(leases_, "leases", child);
            break;
    }
}

bool frmMainView::Minimized() const {
    return isMinimized();
}

void frmMainView::CloseMain() {
    close();
}

void frmMainView::closeEvent(QCloseEvent* event) {
    SaveWindowsPos();
    closing_ = true;
    ctl_.Unloaded();
    event->accept();
}

void frmMainView::Refresh() {
    const QString caption = Q(ctl_.Caption());
    setWindowTitle(caption);
    setAccessibleName(caption);
    ui_->mnuStartStop->setText(Q(ctl_.StartStopCaption()));
    ui_->mnuStartStop->setToolTip(Q(ctl_.StartStopCaption()).remove('&'));
    pnlPicture_->setPixmap(StatePicture(ctl_.StatusRunning()));
    pnlStatus_->setText(Q(ctl_.StatusText()));
    pnlRequests_->setText(Q(ctl_.RequestsPanel()));
    pnlCache_->setText(Q(ctl_.CachePanel()));
    ui_->mnuClearLog->setEnabled(ctl_.Alpha().Log().BufferActive());
    const bool toolBar = ctl_.ToolBarShown();
    const bool statusBar = ctl_.StatusBarShown();
    ui_->tbMain->setVisible(toolBar);
    ui_->sbMain->setVisible(statusBar);
    ui_->mnuToolBar->setChecked(toolBar);
    ui_->mnuStatusBar->setChecked(statusBar);
}

void frmMainView::RedrawGraph() {
    if (graph_) graph_->Redraw();
}

void frmMainView::RefreshLeases() {
    if (leases_) leases_->Fill();
}

void frmMainView::ClearLogList() {
    if (log_) log_->Clear();
}

void frmMainView::ShowAbout() {
    if (!prompt_) return;
    prompt_->Message(platform::IPrompt::Icon::Information, "About Kestrune",
                     "Kestrune " + modMain::ErrorReporter::VersionText() +
                         "\nDNS and DHCP server for small networks\n\n" + modMain::kSupportAddress);
}

bool frmMainView::DownloadProgress(int64_t received, int64_t total) {
    if (!progress_) {
        progress_ =
            new QProgressDialog("Downloading the Internet Root file...", "Cancel", 0, 0, this);
        progress_->setObjectName("dlgDownload");
        progress_->setAccessibleName("Downloading the Internet Root file");
        progress_->setWindowTitle("Kestrune");
        progress_->setWindowModality(Qt::WindowModal);
        progress_->setMinimumDuration(300);
        progress_->setAutoClose(false);
        progress_->setAutoReset(false);
    }
    if (total > 0) {
        progress_->setMaximum(static_cast<int>(std::min<int64_t>(total, INT32_MAX)));
        progress_->setValue(static_cast<int>(std::min<int64_t>(received, total)));
    }
    return !progress_->wasCanceled();
}

void frmMainView::DownloadDone() {
    delete progress_;
    progress_ = nullptr;
}

// ---- The window set ----

class ServerWindows::Fetcher : public IRootFetcher {
  public:
    FetchResult Fetch(const std::string& url, int timeoutMs,
                      const std::function<bool(int64_t, int64_t)>& progress) override {
        const platform::HttpResult r = platform::HttpGet(url, timeoutMs, progress);
        return {r.ok, r.body, r.error};
    }
};

namespace {
MainHost MakeHost(platform::IPrompt* prompt, platform::ILauncher* launcher,
                  platform::SettingsStore* store, IRootFetcher* fetcher) {
    MainHost h;
    h.prompt = prompt;
    h.launcher = launcher;
    h.store = store;
    h.fetcher = fetcher;
    h.programFolder = platform::ExecutablePath().parent_path();
    return h;
}
}  // namespace

ServerWindows::ServerWindows(modMain::frmAlpha& alpha, platform::IPrompt* prompt,
                             platform::ILauncher* launcher, platform::SettingsStore* store,
                             platform::Tray* tray)
    : ownStore_(store ? nullptr : std::make_unique<platform::SettingsStore>()),
      alpha_(alpha),
      prompt_(prompt),
      store_(store ? store : ownStore_.get()),
      tray_(tray),
      fetcher_(std::make_unique<Fetcher>()),
      ctl_(alpha, MakeHost(prompt, launcher, store_, fetcher_.get())),
      trayMenu_(std::make_unique<QMenu>()) {
    trayMenu_->setObjectName("mnuTray");
    trayMenu_->setAccessibleName("Kestrune");
    const auto add = [this](const char* name, const char* caption, std::function<void()> run) {
        QAction* a = trayMenu_->addAction(caption);
        a->setObjectName(name);
        QObject::connect(a, &QAction::triggered, trayMenu_.get(), std::move(run));
        return a;
    };
    add("trayOpen", "&Open Kestrune", [this] { ShowMain(); });
    trayMenu_->addSeparator();
    QAction* startStop = add("trayStartStop", "&Start Server", [this] { ctl_.mnuStartStop(); });
    add("trayReload", "&Reload DNS Records", [this] { ctl_.mnuReload(); });
    add("trayClearCache", "&Clear DNS Cache", [this] { ctl_.mnuClearCache(); });
    trayMenu_->addSeparator();
    add("trayQuery", "DNS &Look Up...", [this] { ctl_.mnuQuery(); });
    add("trayEdit", "&Edit DNS Records...", [this] { ctl_.mnuEdit(); });
    trayMenu_->addSeparator();
    add("trayExit", "E&xit Application/Service", [this] { ctl_.mnuExit(); });
    QObject::connect(trayMenu_.get(), &QMenu::aboutToShow, trayMenu_.get(), [this, startStop] {
        startStop->setText(QString::fromStdString(ctl_.StartStopCaption()));
    });
    if (tray_) tray_->SetContextMenu(trayMenu_.get());
    // The DHCP server changes the table: an open lease window shows it at once.
    alpha_.Leases().SetObserver([this] {
        if (!ctl_.LeasesOpen) return;
        ctl_.Leases().RefreshList();
        if (view_) view_->RefreshLeases();
    });
}

ServerWindows::~ServerWindows() {
    alpha_.Leases().SetObserver({});
    if (tray_) tray_->SetContextMenu(nullptr);
    if (view_) {
        // The program ends with the window open (shutdown by signal or session end).
        view_->SaveWindowsPos();
        view_->setAttribute(Qt::WA_DeleteOnClose, false);
        delete view_.data();
    }
}

bool ServerWindows::MainOpen() const {
    return ctl_.MainOpen && view_;
}

void ServerWindows::ShowMain() {
    if (!view_) {
        view_ = new frmMainView(ctl_, prompt_, store_);
        ctl_.Opened();
    }
    view_->showNormal();
    view_->raise();
    view_->activateWindow();
}

void ServerWindows::StatusChanged() {
    if (view_ && ctl_.MainOpen) view_->Refresh();
    // The tray's tip names the server and says how it is, for a desktop without the window.
    if (tray_) {
        const std::string& name = alpha_.settings.Name;
        tray_->SetTip((name.empty() ? std::string(frmMain::kTitle) : name) +
                      (alpha_.StatusText.empty() ? "" : "\n" + alpha_.StatusText));
    }
}

void ServerWindows::DisplayStep() {
    ctl_.TimerStep();
}

}  // namespace serverui
