// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/TarvelDlg.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>

#include "analysis/AnalizerDlg.h"
#include "analysis/ClipDlg.h"
#include "app/Program.h"
#include "line/InfoBox.h"
#include "line/ListDlg.h"
#include "lines/LineSettings.h"
#include "monitor/MonitorDlg.h"
#include "serial/SetPortDlg.h"
#include "serial/TerminalDlg.h"
#include "ui/Artwork.h"
#include "ui/ClickablePicture.h"
#include "ui/StatusPanels.h"
#include "ui/Twips.h"

namespace tarvel {
namespace {

QLabel* GroupTitle(QWidget* parent, const char* text, int left, int top) {
    auto* title = new QLabel(text, parent);
    title->move(Pixels(left), Pixels(top));
    title->adjustSize();
    return title;
}

QPushButton* Button(QWidget* parent, const char* text, QRect at) {
    auto* button = new QPushButton(text, parent);
    button->setGeometry(at);
    return button;
}

QComboBox* DropDown(QWidget* parent, QRect at) {
    auto* list = new QComboBox(parent);
    list->setEditable(false);
    list->setGeometry(at);
    list->setMaxVisibleItems(16);
    return list;
}

QLabel* Display(QWidget* parent, QRect at) {
    auto* display = new QLabel(parent);
    display->setGeometry(at);
    display->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    display->setAutoFillBackground(true);
    QPalette palette = display->palette();
    palette.setColor(QPalette::Window, Qt::white);
    display->setPalette(palette);
    display->setIndent(2);
    // What a controller sent or the operator typed is shown as it is, never as markup.
    display->setTextFormat(Qt::PlainText);
    return display;
}

}  // namespace

TarvelDlg::TarvelDlg(Program& program)
    : program_(program), dialogTasks_(program.Time(), [this](const std::string& what) {
          commPending_ = terminalPending_ = false;
          program_.Ask().ShowMessage({"A window could not be opened because of an internal "
                                      "error:\n" +
                                          what,
                                      "Info Box", MessageIcon::Critical, MessageButtons::Ok,
                                      std::string()});
      }) {
    setWindowTitle("Tarvel at work");
    setFont(FormFont());
    BuildLayout();
    BuildMenus();
    ui_.reset(new Controls{WidgetSwitch(CommBtn), WidgetSwitch(StartBtn), WidgetSwitch(StopBtn),
                           WidgetSwitch(ConsolleBtn), WidgetSwitch(ReportBtn),
                           WidgetSwitch(AnalizerBtn), WidgetSwitch(ResetBtn), WidgetSwitch(ViewBtn),
                           ActionSwitch(SearchMenu), ActionSwitch(FileMenu),
                           ComboChoiceList(MaxNumCmb), ComboChoiceList(ControllerCmb),
                           ComboChoiceList(AddressCmb), LabelText(TxLbl), LabelText(RxLbl),
                           LabelText(ErrorLbl), BarProgress(ProgressBar)});
    table_ = std::make_unique<DeviceTableEditor>(
        program_.primo, ControllerAddress_,
        DeviceLists{ui_->MaxNumCmb, ui_->ControllerCmb, ui_->AddressCmb}, program_.Ask());
    config_ = std::make_unique<LineConfigCommands>(program_.primo, *table_, ui_->ProgressBar,
                                                   program_.Ask());
    cycle_ = std::make_unique<TestCycle>(program_.primo, program_.Port(), ControllerAddress_);
    runDisplay_ = std::make_unique<RunDisplay>(
        program_.primo,
        RunControls{ui_->StartBtn, ui_->StopBtn, ui_->ConsolleBtn, ui_->CommBtn, ui_->SearchMenu,
                    ui_->MaxNumCmb, ui_->ControllerCmb, ui_->AddressCmb, ui_->ResetBtn, ui_->TxLbl,
                    ui_->RxLbl, ui_->ErrorLbl, StatusPanel(1), ui_->ProgressBar},
        ErrorLists{[this]() -> ListBox& { return program_.Clip().List(); },
                   [this]() -> ListBox& { return program_.Analizer().List(); }});
    cycle_->AddSink(*runDisplay_);
    monitor_ = std::make_unique<LineMonitor>(
        program_.Time(),
        [this] {
            // Read at the start of each run, so a change of speed in "Comm" counts from the next.
            const auto settings = ParseSettingsText(SettingsText(program_.primo));
            return settings ? CharacterTime(*settings) : Duration{0};
        },
        [this] { return program_.Line().ErrorCounts(); });
    monitor_->SetLineSource([this] { return program_.LineInUse(); });
    // What the Line Monitor hears: the main window's loops speak Ascon only, and refuse the
    // others; listening takes the protocol chosen in "Comm".
    monitor_->SetProtocolSource([this]() -> const Protocol& {
        const Protocol* chosen = ProtocolAt(program_.primo.ProtocolIndex);
        return chosen ? *chosen : program_.Port().LineProtocol();
    });
    monitor_->SetRoundTripSource([this] { return program_.Line().RoundTrip(); });
    monitor_->SetEchoSource([this] { return program_.Line().Echo(); });
    monitor_->SetDroppedSource([this] { return program_.Line().DroppedInput(); });
    cycle_->AddSink(monitor_->CycleEvents());
    listen_ = std::make_unique<ListenControl>(program_.primo, program_.Port(), program_.LineUser(),
                                              program_.Ask(), *monitor_);
    run_ = std::make_unique<RunControl>(program_.primo, program_.Port(), program_.LineUser(),
                                        program_.Ask(), *cycle_, *runDisplay_);
    detector_ = std::make_unique<LineDetector>(program_.primo, program_.Port(), ControllerAddress_);
    scanDisplay_ = std::make_unique<ScanDisplay>(
        ScanControls{ui_->StartBtn, ui_->StopBtn, ui_->ConsolleBtn, ui_->CommBtn, ui_->SearchMenu,
                     ui_->AnalizerBtn, ui_->ReportBtn, ui_->TxLbl, ui_->RxLbl, StatusPanel(1),
                     ui_->ProgressBar},
        [this]() -> ListBox& { return program_.List().List(); }, *table_, *runDisplay_);
    detector_->AddSink(*scanDisplay_);
    detector_->AddSink(monitor_->ScanEvents());
    scan_ = std::make_unique<ScanControl>(program_.primo, program_.Port(), program_.LineUser(),
                                          program_.Ask(), *detector_, *scanDisplay_);
    Connect();
    Form_Load();
}

TarvelDlg::~TarvelDlg() = default;

void TarvelDlg::BuildLayout() {
    auto* client = new QWidget(this);
    client->setFixedSize(TwipsSize(6375, 3630));
    setCentralWidget(client);

    GroupTitle(client, "Port Setting", 120, 120);
    CommBtn = Button(client, "Comm", Twips(240, 480, 855, 375));

    GroupTitle(client, "Total Device", 1560, 120);
    MaxNumCmb = DropDown(client, Twips(1680, 480, 855, 315));

    GroupTitle(client, "Associate", 3000, 120);
    GroupTitle(client, "Controller", 3120, 360);
    GroupTitle(client, "Address", 4080, 360);
    ControllerCmb = DropDown(client, Twips(3120, 600, 855, 315));
    AddressCmb = DropDown(client, Twips(4080, 600, 855, 315));

    Picture1 = new ClickablePicture(client);
    Picture1->setGeometry(Twips(5160, 120, 975, 2055));
    Picture1->setPixmap(LinePicture(Picture1->size()));
    Picture1->setCursor(Qt::PointingHandCursor);
    Picture1->setToolTip("About Line Tarvel");

    GroupTitle(client, "Line Scan", 120, 1080);
    StartBtn = Button(client, "Start", Twips(240, 1440, 735, 375));
    StopBtn = Button(client, "Stop", Twips(1080, 1440, 735, 375));

    GroupTitle(client, "Terminal", 2040, 1080);
    ConsolleBtn = Button(client, "Terminal", Twips(2160, 1440, 855, 375));

    GroupTitle(client, "Control Error", 3360, 1080);
    ReportBtn = Button(client, "Report", Twips(3360, 1440, 735, 375));
    AnalizerBtn = Button(client, "Analize", Twips(4200, 1440, 735, 375));

    GroupTitle(client, "Send", 120, 2040);
    TxLbl = Display(client, Twips(120, 2400, 975, 255));
    GroupTitle(client, "Receive", 1200, 2040);
    RxLbl = Display(client, Twips(1200, 2400, 2535, 255));
    GroupTitle(client, "Total Error", 3840, 2040);
    ErrorLbl = Display(client, Twips(3960, 2400, 435, 255));
    ErrorLbl->setText("0");
    ResetBtn = Button(client, "Res", Twips(4440, 2400, 495, 255));

    ViewBtn = new WrappingButton("Controller List", client);
    ViewBtn->setGeometry(Twips(5280, 2280, 975, 495));

    ProgressBar = new QProgressBar(client);
    ProgressBar->setGeometry(Twips(0, 2880, 6375, 255));
    ProgressBar->setTextVisible(false);
    ProgressBar->setMinimum(0);
    ProgressBar->reset();

    StatusBar_ = new StatusPanels(client);
    StatusBar_->setGeometry(Twips(0, 3135, 6375, 495));
}

void TarvelDlg::BuildMenus() {
    QMenu* file = menuBar()->addMenu("&File");
    FileMenu = file->menuAction();
    ResetMenu = file->addAction("Reset Line Conf.");
    SaveMEnu = file->addAction("Save Line Conf.");
    LoadMenu = file->addAction("Load Line Conf.");
    SearchMenu = menuBar()->addAction("&Search!");
    ExitMenu = menuBar()->addAction("E&xit !");
    MonitorMenu = menuBar()->addAction("&Monitor");
    // Fixed size: the client area with the menu bar on top of it.
    layout()->activate();
    setFixedSize(sizeHint());
}

void TarvelDlg::Connect() {
    connect(CommBtn, &QPushButton::clicked, this, &TarvelDlg::CommBtn_Click);
    connect(ConsolleBtn, &QPushButton::clicked, this, &TarvelDlg::ConsolleBtn_Click);
    connect(StartBtn, &QPushButton::clicked, this, &TarvelDlg::StartBtn_Click);
    connect(StopBtn, &QPushButton::clicked, this, &TarvelDlg::StopBtn_Click);
    connect(ResetBtn, &QPushButton::clicked, this, &TarvelDlg::ResetBtn_Click);
    connect(ReportBtn, &QPushButton::clicked, this, &TarvelDlg::ReportBtn_Click);
    connect(AnalizerBtn, &QPushButton::clicked, this, &TarvelDlg::AnalizerBtn_Click);
    connect(ViewBtn, &QPushButton::clicked, this, &TarvelDlg::ViewBtn_Click);
    connect(Picture1, &ClickablePicture::clicked, this, &TarvelDlg::Picture1_Click);
    // `activated` comes with every choice of the operator, also of the entry already shown.
    connect(MaxNumCmb, &QComboBox::activated, this, &TarvelDlg::MaxNumCmb_Click);
    connect(ControllerCmb, &QComboBox::activated, this, &TarvelDlg::ControllerCmb_Click);
    connect(AddressCmb, &QComboBox::activated, this, &TarvelDlg::AddressCmb_Click);
    connect(ResetMenu, &QAction::triggered, this, &TarvelDlg::ResetMenu_Click);
    connect(SaveMEnu, &QAction::triggered, this, &TarvelDlg::SaveMEnu_Click);
    connect(LoadMenu, &QAction::triggered, this, &TarvelDlg::LoadMenu_Click);
    connect(SearchMenu, &QAction::triggered, this, &TarvelDlg::SearchMenu_Click);
    connect(ExitMenu, &QAction::triggered, this, &TarvelDlg::ExitMenu_Click);
    connect(MonitorMenu, &QAction::triggered, this, &TarvelDlg::MonitorMenu_Click);
}

void TarvelDlg::Form_Load() {
    table_->LoadStartupTable();
    ui_->StopBtn.SetEnabled(false);
    ui_->ResetBtn.SetEnabled(false);
}

TextDisplay& TarvelDlg::StatusPanel(int number) { return StatusBar_->Panel(number); }

void TarvelDlg::CommBtn_Click() { dialogTasks_.Start(ShowWhenLineIsFree(LineDialog::Port)); }

void TarvelDlg::ConsolleBtn_Click() {
    dialogTasks_.Start(ShowWhenLineIsFree(LineDialog::Terminal));
}

QCoro::Task<> TarvelDlg::ShowWhenLineIsFree(LineDialog which) {
    // "Stop" gives these buttons back at once, while the loop still finishes its exchange: the
    // port dialog (which reopens the port) and the terminal wait for it.
    bool& pending = which == LineDialog::Port ? commPending_ : terminalPending_;
    // A listen has no end of its own to wait for, and a search across settings takes minutes.
    if (const char* refusal = program_.LineUser().Refusal()) {
        program_.Ask().ShowMessage(
            {refusal, "Info Box", MessageIcon::Exclamation, MessageButtons::Ok, std::string()});
        co_return;
    }
    if (pending) {
        co_return;
    }
    pending = true;
    LineUse::Lease lease = co_await program_.LineUser().Acquire();
    pending = false;
    if (which == LineDialog::Port) {
        program_.SetPort().exec();
    } else {
        TerminalDlg& terminal = program_.Terminal();
        terminal.exec();
        // An exchange still in progress keeps the line until it has ended.
        co_await terminal.Exchanges().AllFinished();
    }
}

void TarvelDlg::ExitMenu_Click() {
    program_.Port().ClosePort();
    program_.EndProcess();
}

void TarvelDlg::closeEvent(QCloseEvent* event) {
    event->ignore();
    ExitMenu_Click();
}

void TarvelDlg::ReportBtn_Click() {
    ui_->ReportBtn.SetEnabled(false);
    ClipDlg& clip = program_.Clip();
    clip.show();
    clip.raise();
}

void TarvelDlg::AnalizerBtn_Click() {
    AnalizerDlg& analyzer = program_.Analizer();
    CopyErrorList(program_.Clip().List(), analyzer.List());
    ui_->AnalizerBtn.SetEnabled(false);
    analyzer.show();
    analyzer.raise();
}

void TarvelDlg::ViewBtn_Click() {
    ListDlg& list = program_.List();
    list.show();
    list.raise();
    list.activateWindow();
}

void TarvelDlg::MonitorMenu_Click() {
    // Beside the main window, never modal: it only reads the monitor, so runs go on.
    MonitorDlg& monitor = program_.Monitor();
    monitor.show();
    monitor.raise();
    monitor.activateWindow();
}

void TarvelDlg::Picture1_Click() { program_.Ask().ShowMessage(InfoBoxRequest()); }

}  // namespace tarvel
