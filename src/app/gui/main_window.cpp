#include "app/gui/main_window.h"

#include "app/core/shell.h"
#include "app/core/shell_device.h"
#include "app/gui/new_image_dialog.h"
#include "app/gui/options_dialog.h"
#include "app/gui/pages.h"
#include "eprom/eprom_image.h"
#include "maps/gui/map_tabs.h"
#include "maps/table_editor.h"
#include "sim/sim_backend.h"
#include "undo/gui/undo_stacks.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabBar>
#include <QTimer>
#include <QUndoGroup>
#include <QVBoxLayout>

#include <algorithm>

namespace kv {

MainWindow::MainWindow(Shell& shell, SimulatedBackend* sim, QWidget* parent) : QMainWindow(parent), shell_(shell) {
    setObjectName("frmMain");
    setWindowTitle("Kestrovane");
    ResizeOnScreen(kFirstSize);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 4, 4, 4);
    tbsMain_ = new QTabBar(central);
    tbsMain_->setObjectName("tbsMain");
    tbsMain_->setExpanding(false);
    panels_ = new QStackedWidget(central);
    layout->addWidget(tbsMain_);
    layout->addWidget(panels_, 1);
    setCentralWidget(central);

    eprom_ = new EpromPage([this] { RestartQuickPing(shell_.Device()); });
    SetPage(eprom_);
    for (const auto& slot : TabTable())
        if (QString(slot.key) != "EPROM") SetPage(new CaptionPage(slot.key, slot.caption));

    connect(tbsMain_, &QTabBar::currentChanged, this, &MainWindow::OnTabChanged);

    tmrQuickPing_ = new QTimer(this);
    tmrQuickPing_->setObjectName("tmrQuickPing");
    tmrQuickPing_->setInterval(2500);
    connect(tmrQuickPing_, &QTimer::timeout, this, [this] {
        QuickPingTick(shell_.Device());
        shell_.Unconfirmed().Tick();
        RefreshUnconfirmedEdits();
    });
    tmrIgnitionOnCheck_ = new QTimer(this);
    tmrIgnitionOnCheck_->setObjectName("tmrIgnitionOnCheck");
    tmrIgnitionOnCheck_->setInterval(1000);
    connect(tmrIgnitionOnCheck_, &QTimer::timeout, this,
            [this] { shell_.Ignition().Tick(shell_.Device().IsIgnitionOn()); });

    undo_ = new UndoStacks(shell_.History(), this);
    connect(undo_, &UndoStacks::imageRestored, this, &MainWindow::ShowRestoredImage);
    BuildMenus();
    BuildStatusBar(sim);
    // Transfers and upgrades pause the window's timers and the traces with every other poller.
    pollingId_ = shell_.Polling().Register({[this] {
                                                timersRanBeforePause_ = tmrQuickPing_->isActive();
                                                StopDeviceTimers();
                                            },
                                            [this] {
                                                if (timersRanBeforePause_) StartDeviceTimers();
                                            }});
}

MainWindow::~MainWindow() {
    shell_.Context().unconfirmedChanged = nullptr;
    shell_.Polling().Unregister(pollingId_);
    shell_.Ignition().Release();
    // The editor refers to a grid of a page; it goes before the pages.
    fuelmapeditor_.reset();
}

void MainWindow::SetPage(TabPage* page) {
    auto it = pages_.find(page->Key());
    if (it != pages_.end()) {
        panels_->removeWidget(it->second);
        it->second->deleteLater();
    }
    pages_[page->Key()] = page;
    panels_->addWidget(page);
    if (page->Key() == selectedKey_) panels_->setCurrentWidget(page);
}

QAction* MainWindow::Action(const QString& objectName) const { return findChild<QAction*>(objectName); }

QMenu* MainWindow::ViewMenu() const { return findChild<QMenu*>("mnuView"); }

void MainWindow::BuildMenus() {
    auto action = [this](QMenu* menu, const QString& name, const QString& caption, auto slot) {
        QAction* a = menu->addAction(caption);
        a->setObjectName(name);
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    auto& flows = shell_.Workflows();

    QMenu* file = menuBar()->addMenu("&File");
    file->setObjectName("mnuFile");
    // Image loads talk to the modules for a while: the device polling pauses meanwhile.
    QAction* fileNew = action(file, "mnuFileNew", "&New...", [this, &flows] {
        DevicePolling::Pause pause(shell_.Polling());
        flows.FileOpen(OpenSource::NewImage());
    });
    fileNew->setShortcut(QKeySequence("Ctrl+N"));
    QAction* fileOpen = action(file, "mnuFileOpen", "&Open...", [this, &flows] {
        DevicePolling::Pause pause(shell_.Polling());
        flows.FileOpen(OpenSource::AskUser());
    });
    fileOpen->setShortcut(QKeySequence("Ctrl+O"));
    action(file, "mnuFileDownload", "&Load from PEM", [this, &flows] {
        DevicePolling::Pause pause(shell_.Polling());
        flows.Download();
    });
    mnuFileLoadIntoModule_ = action(file, "mnuFileLoadIntoModule", "Load &into module", [this, &flows] {
        {
            DevicePolling::Pause pause(shell_.Polling());
            flows.LoadOfflineIntoModule();
        }
        // The tab on show starts again with the image in its unit: the trace, and the question
        // whether the unit uses the map on show.
        LeaveSelectedTab();
        EnterSelectedTab();
    });
    mnuFileLoadIntoModule_->setEnabled(false); // while an image is edited offline
    file->addSeparator();
    mnuFileSave_ = action(file, "mnuFileSave", "&Save both EPROMs", [&flows] { flows.SaveBoth(); });
    mnuFileSave_->setShortcut(QKeySequence("Ctrl+S"));
    mnuFileSaveInj_ =
        action(file, "mnuFileSaveInj", "Save LH (fuel) EPROM", [this] { shell_.Workflows().Save(shell_.FuelImage()); });
    mnuFileSaveIgn_ = action(file, "mnuFileSaveIgn", "Save EZK (ignition) EPROM",
                             [this] { shell_.Workflows().Save(shell_.IgnitionImage()); });
    mnuFileSaveInjAs_ = action(file, "mnuFileSaveInjAs", "Save LH (fuel) EPROM As...",
                               [this] { shell_.Workflows().SaveAs(shell_.FuelImage()); });
    mnuFileSaveIgnAs_ = action(file, "mnuFileSaveIgnAs", "Save EZK (ignition) EPROM As...",
                               [this] { shell_.Workflows().SaveAs(shell_.IgnitionImage()); });
    file->addSeparator();
    // Compare with: one entry per image, like the save entries; the comparison connects to them.
    QMenu* compare = file->addMenu("Co&mpare with");
    compare->setObjectName("mnuFileCompare");
    compare->menuAction()->setObjectName("mnuFileCompare");
    compare->addAction("LH (fuel) EPROM...")->setObjectName("mnuFileCompareInj");
    compare->addAction("EZK (ignition) EPROM...")->setObjectName("mnuFileCompareIgn");
    QAction* compareEnd = file->addAction("&End comparison");
    compareEnd->setObjectName("mnuFileCompareEnd");
    compareEnd->setEnabled(false);
    recentSeparator_ = file->addSeparator();
    for (int i = 1; i <= kRecentFileCount; ++i) {
        QAction* a = action(file, QString("mnuFileRecent%1").arg(i), QString(), [this, &flows, i] {
            DevicePolling::Pause pause(shell_.Polling());
            flows.OpenRecent(i);
        });
        a->setVisible(false);
        mnuFileRecent_[static_cast<std::size_t>(i - 1)] = a;
    }
    file->addSeparator();
    QAction* exit = action(file, "mnuFileExit", "E&xit", [this] { close(); });
    exit->setShortcut(QKeySequence("Ctrl+Q"));
    SetSaveMenus(false, false);

    QMenu* edit = menuBar()->addMenu("&Edit");
    edit->setObjectName("mnuEdit");
    // Undo / Redo carry the step's name ("&Undo Paste").
    QAction* undo = undo_->Group()->createUndoAction(this, "&Undo");
    undo->setObjectName("mnuEditUndo");
    undo->setShortcut(QKeySequence("Ctrl+Z"));
    edit->addAction(undo);
    QAction* redo = undo_->Group()->createRedoAction(this, "&Redo");
    redo->setObjectName("mnuEditRedo");
    redo->setShortcuts({QKeySequence("Ctrl+Y"), QKeySequence("Ctrl+Shift+Z")});
    edit->addAction(redo);
    edit->addSeparator();
    QAction* copy = edit->addAction("&Copy");
    copy->setObjectName("mnuEditCopy");
    copy->setShortcut(QKeySequence("Ctrl+C"));
    copy->setEnabled(false); // enabled while a map grid has the focus
    QAction* paste = edit->addAction("&Paste");
    paste->setObjectName("mnuEditPaste");
    paste->setShortcut(QKeySequence("Ctrl+V"));
    paste->setEnabled(false);
    edit->addSeparator();
    action(edit, "mnuEditHistory", "&History...", [this] { ShowHistory(); });

    QMenu* view = menuBar()->addMenu("&View");
    view->setObjectName("mnuView");

    QMenu* tools = menuBar()->addMenu("&Tools");
    tools->setObjectName("mnuTools");
    action(tools, "mnuToolsOptions", "&Options...", [this] { ShowOptions(); });
    action(tools, "mnuToolsFirmware", "&Firmware...", [this] { RunFirmwareFromFile(); });

    QMenu* help = menuBar()->addMenu("&Help");
    help->setObjectName("mnuHelp");
    action(help, "mnuHelpAbout", "&About...", [this] { ShowAbout(); });
}

void MainWindow::BuildStatusBar(SimulatedBackend* sim) {
    lblNotInUnit_ = new QLabel(this);
    lblNotInUnit_->setObjectName("lblNotInUnit");
    lblNotInUnit_->setStyleSheet("color: rgb(255, 0, 0);");
    lblNotInUnit_->setToolTip("Edits that the running unit did not confirm: they are in the image, but maybe not in "
                              "the unit's EPROM Module. When the unit answers again you are offered to send them.");
    statusBar()->addPermanentWidget(lblNotInUnit_);
    shell_.Context().unconfirmedChanged = [this] { RefreshUnconfirmedEdits(); };
    RefreshUnconfirmedEdits();
    lblConnection_ = new QLabel(this);
    lblConnection_->setObjectName("lblConnection");
    statusBar()->addPermanentWidget(lblConnection_);
    if (sim == nullptr) return;
    auto* simulated = new QLabel("Simulated device", this);
    simulated->setObjectName("lblSimulated");
    statusBar()->addPermanentWidget(simulated);
    auto* ignition = new QComboBox(this);
    ignition->setObjectName("cboSimIgnition");
    ignition->setToolTip("Ignition of the simulated car");
    ignition->addItem("Ignition off", static_cast<int>(SimIgnitionMode::Off));
    ignition->addItem("Ignition on", static_cast<int>(SimIgnitionMode::On));
    ignition->addItem("Ignition auto", static_cast<int>(SimIgnitionMode::Auto));
    ignition->setCurrentIndex(ignition->findData(static_cast<int>(sim->IgnitionMode())));
    connect(ignition, &QComboBox::currentIndexChanged, this, [ignition, sim](int index) {
        sim->SetIgnitionMode(static_cast<SimIgnitionMode>(ignition->itemData(index).toInt()));
    });
    statusBar()->addPermanentWidget(ignition);
}

void MainWindow::ShowTabs(const std::vector<TabSlot>& tabs, TabState /*state*/) {
    const QString previous = selectedKey_;
    rebuildingTabs_ = true;
    while (tbsMain_->count() > 0) tbsMain_->removeTab(0);
    int select = 0;
    for (const auto& slot : tabs) {
        const int index = tbsMain_->addTab(slot.caption);
        tbsMain_->setTabData(index, QString(slot.key));
        if (previous == slot.key) select = index;
    }
    tbsMain_->setCurrentIndex(tabs.empty() ? -1 : select);
    rebuildingTabs_ = false;
    const QString now = SelectedTabKey();
    if (now != previous) {
        // The selected tab went away: its leave action runs and the first tab is entered.
        if (TabPage* old = Page(previous)) old->Leave();
        selectedKey_ = now;
        if (TabPage* page = Page(now)) {
            panels_->setCurrentWidget(page);
            page->Enter();
        }
    }
    FollowTabWithUndo();
}

void MainWindow::OnTabChanged(int /*index*/) {
    if (rebuildingTabs_) return;
    const QString now = SelectedTabKey();
    if (now == selectedKey_) return;
    if (TabPage* old = Page(selectedKey_)) old->Leave();
    selectedKey_ = now;
    if (TabPage* page = Page(now)) {
        page->Enter();
        panels_->setCurrentWidget(page);
    }
    FollowTabWithUndo();
}

QStringList MainWindow::TabKeys() const {
    QStringList keys;
    for (int i = 0; i < tbsMain_->count(); ++i) keys << tbsMain_->tabData(i).toString();
    return keys;
}

QString MainWindow::SelectedTabKey() const {
    const int i = tbsMain_->currentIndex();
    return i < 0 ? QString() : tbsMain_->tabData(i).toString();
}

TabPage* MainWindow::Page(const QString& key) const {
    auto it = pages_.find(key);
    return it == pages_.end() ? nullptr : it->second;
}

void MainWindow::SelectTab(const QString& key) {
    const int i = static_cast<int>(TabKeys().indexOf(key));
    if (i >= 0) tbsMain_->setCurrentIndex(i);
}

void MainWindow::EnterSelectedTab() {
    if (TabPage* page = Page(selectedKey_)) {
        page->Enter();
        panels_->setCurrentWidget(page);
    }
}

void MainWindow::LeaveSelectedTab() {
    if (TabPage* page = Page(selectedKey_)) page->Leave();
}

void MainWindow::ShowInfoLine(const InfoLine& line) {
    eprom_->SetInfoLine(line);
    setWindowTitle(QString::fromStdString(line.windowTitle));
    mnuFileLoadIntoModule_->setEnabled(!line.offline.empty());
}

void MainWindow::SetSaveMenus(bool fuelLoaded, bool ignitionLoaded) {
    mnuFileSaveInj_->setEnabled(fuelLoaded);
    mnuFileSaveInjAs_->setEnabled(fuelLoaded);
    mnuFileSaveIgn_->setEnabled(ignitionLoaded);
    mnuFileSaveIgnAs_->setEnabled(ignitionLoaded);
    mnuFileSave_->setEnabled(fuelLoaded || ignitionLoaded);
    if (QAction* a = Action("mnuFileCompareInj")) a->setEnabled(fuelLoaded);
    if (QAction* a = Action("mnuFileCompareIgn")) a->setEnabled(ignitionLoaded);
    if (QMenu* m = findChild<QMenu*>("mnuFileCompare")) m->menuAction()->setEnabled(fuelLoaded || ignitionLoaded);
}

void MainWindow::ShowRecentFiles(const std::array<std::string, kRecentFileCount>& captions) {
    bool any = false;
    for (std::size_t i = 0; i < captions.size(); ++i) {
        // "&1. " is the entry's mnemonic; an '&' in the path itself is shown as written.
        QString text = QString::fromStdString(captions[i]);
        if (text.size() > 4) text = text.left(4) + text.mid(4).replace("&", "&&");
        mnuFileRecent_[i]->setText(text);
        mnuFileRecent_[i]->setVisible(!captions[i].empty());
        any = any || !captions[i].empty();
    }
    recentSeparator_->setVisible(any);
}

std::optional<NewImageChoice> MainWindow::RunNewImageDialog(const NewImageChoice& initial) {
    NewImageDialog dialog(initial, this);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.Choice();
}

void MainWindow::ImagesChanged() {
    if (mapTabs_ != nullptr) mapTabs_->ImagesChanged();
    if (TabPage* page = Page(selectedKey_)) page->ImagesChanged();
    FollowTabWithUndo();
}

void MainWindow::FollowTabWithUndo() {
    const std::optional<bool> fuel = TabShowsFuelImage(selectedKey_.toStdString());
    undo_->SetActive(!fuel ? nullptr : *fuel ? shell_.Slots().fuel.get() : shell_.Slots().ignition.get());
}

void MainWindow::ShowRestoredImage(EPROM* image) {
    if (mapTabs_ != nullptr)
        if (TableEditor* editor = mapTabs_->Editor(); editor != nullptr && editor->GetEPROM() == image)
            editor->RefreshFromImage();
    const std::optional<bool> fuel = TabShowsFuelImage(selectedKey_.toStdString());
    const EPROM* shown = !fuel ? nullptr : *fuel ? shell_.Slots().fuel.get() : shell_.Slots().ignition.get();
    if (TabPage* page = Page(selectedKey_); page != nullptr && shown == image) page->ImagesChanged();
}

void MainWindow::ShowHistory() {
    if (history_ == nullptr) history_ = new HistoryWindow(*undo_->Group(), this);
    history_->show();
    history_->raise();
}

void MainWindow::ResizeOnScreen(QSize size) {
    if (const QScreen* s = screen(); s != nullptr) {
        // The frame (title bar, borders) comes on top of the window's own size.
        const QSize room = s->availableGeometry().size() - QSize(16, 40);
        size = size.boundedTo(room).expandedTo(minimumSizeHint().boundedTo(room));
    }
    resize(size);
}

bool MainWindow::PlaceOnScreen(QPoint position) {
    // The top edge, as wide as the window and as high as a title bar, must show on a screen well
    // enough to take the window by it.
    const QRect top(position, QSize(width(), 30));
    for (const QScreen* s : QGuiApplication::screens()) {
        const QRect shown = s->availableGeometry() & top;
        if (shown.width() >= std::min(100, top.width()) && shown.height() >= 20) {
            setGeometry(QRect(position, size()));
            return true;
        }
    }
    return false;
}

int MainWindow::WindowStateNumber() const {
    // A window minimised from maximised carries both flags: it counts as minimised.
    if (isMinimized()) return 1;
    if (isMaximized()) return 2;
    return 0;
}

void MainWindow::StartDeviceTimers() {
    RestartQuickPing(shell_.Device());
    tmrQuickPing_->start();
    tmrIgnitionOnCheck_->start();
    if (mapTabs_ != nullptr) mapTabs_->ResumeTraces();
}

void MainWindow::StopDeviceTimers() {
    tmrQuickPing_->stop();
    tmrIgnitionOnCheck_->stop();
    if (mapTabs_ != nullptr) mapTabs_->PauseTraces();
}

void MainWindow::ShowConnectionStatus(const std::string& text, bool error) {
    eprom_->SetConnectionStatus(QString::fromStdString(text), error);
    lblConnection_->setText(QString::fromStdString(text));
    lblConnection_->setStyleSheet(error ? "color: rgb(255, 0, 0);" : "color: rgb(0, 0, 0);");
}

void MainWindow::RefreshUnconfirmedEdits() {
    const QString text = QString::fromStdString(shell_.Unconfirmed().StatusText());
    lblNotInUnit_->setText(text);
    lblNotInUnit_->setVisible(!text.isEmpty());
}

void MainWindow::ShowFirmwareVersion(const std::string& text) {
    eprom_->SetFirmwareVersion(QString::fromStdString(text));
}

int MainWindow::RegisterIgnitionDependent(QWidget* control) { return Register(control, {}); }

int MainWindow::RegisterImageControl(QWidget* control, bool fuelImage) {
    return Register(control, [&images = shell_.Slots(), fuelImage] {
        const EPROM* image = fuelImage ? images.fuel.get() : images.ignition.get();
        return image == nullptr || !image->IsOffline();
    });
}

int MainWindow::Register(QWidget* control, std::function<bool()> followsIgnition) {
    QPointer<QWidget> guarded(control);
    const int id = shell_.Ignition().Register({[guarded] { return guarded && guarded->isEnabled(); },
                                               [guarded](bool on) {
                                                   if (guarded) guarded->setEnabled(on);
                                               },
                                               std::move(followsIgnition)});
    // Controls die with the window too, after its own destructor ran: reach only the watch.
    connect(control, &QObject::destroyed, this, [&watch = shell_.Ignition(), id] { watch.Unregister(id); });
    return id;
}

void MainWindow::UnregisterIgnitionDependent(int id) { shell_.Ignition().Unregister(id); }

void MainWindow::RunFirmwareFromFile() {
    // The upgrade restarts the device: no polling may interfere.
    DevicePolling::Pause pause(shell_.Polling());
    shell_.Device().FirmwareUpgradeFromFile();
}

void MainWindow::ShowOptions() {
    OptionsDialog dialog(shell_, this);
    dialog.exec();
}

void MainWindow::ShowAbout() {
    QMessageBox::about(this, "About Kestrovane",
                       "Kestrovane\n" + QString::fromStdString(shell_.VersionLabel()) +
                           "\n\nLive tuning of the LH and EZK engine-control units of the 928.");
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!shell_.QueryClose()) {
        event->ignore();
        return;
    }
    StopDeviceTimers();
    emit closing();
    event->accept();
}

} // namespace kv
