#include "app/MainDlg.h"

#include "app/Application.h"

#include "app/Messages.h"
#include "app/QtJobHost.h"
#include "app/RtfReader.h"
#include "engine/VirtualLink.h"
#include "files/MonoImageFile.h"
#include "platform/LinkPorts.h"
#include "platform/MessageEndpoint.h"
#include "platform/SettingsStore.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QShortcut>
#include <QSocketNotifier>
#include <QTabBar>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTextCursor>
#include <QThread>

#include <algorithm>
#include <stdexcept>

namespace lodestrum::app {

using engine::TTransThread;

const std::array<std::pair<const char*, const char*>, 13> TTranDlg::Filters{{
    {"Tout fichiers TI", "*.8??;*.9??"},
    {"TI82", "*.82?"},
    {"TI83", "*.83?"},
    {"TI85", "*.85?"},
    {"TI86", "*.86?"},
    {"TI89", "*.89?"},
    {"TI92", "*.92?"},
    {"Sauvegarde", "*.8?B;*.9?B"},
    {"Programes", "*.8?P;*.9?P"},
    {"Strings", "*.8?S;*.9?S"},
    {"Groupes", "*.8?G;*.9?G"},
    {"Tout Fichiers", "*.*"},
    {"TIB Fichiers", "*.tib"},
}};

namespace {

// The stored values, in the order they are read and written.
namespace key {
constexpr const char* StartDirectory = "Start Directory";
constexpr const char* DefaultFolder = "TI89: Default folder name";
constexpr const char* LinkPort = "Link Port";
constexpr const char* LinkPortPresence = "Link port";
constexpr const char* Delay = "Delay val";
constexpr const char* InvertLines = "Invert Lines";
constexpr const char* ToEmulator = "To Emulator";
constexpr const char* TI86FourParts = "TI86: 4 Parts backup";
constexpr const char* TI89Clip = "TI89: Clip Screen Shots";
constexpr const char* TI89Save92 = "TI89: Save as 92+";
constexpr const char* TI89MenuOnly = "TI89: Only VarLink menu";
constexpr const char* TI89NoFolder = "TI89: Do not send folder-name";
constexpr const char* TI89SendToFolder = "TI89: Send all var to a folder";
constexpr const char* CalcType = "Calc Type";
} // namespace key

constexpr int DelayMin = 0;
constexpr int DelayMax = 32600;

QString Q(const char* s) {
    return QString::fromUtf8(s);
}

QPushButton* Button(const char* caption, QWidget* parent, QRect geometry) {
    auto* b = new QPushButton(Q(caption), parent);
    b->setGeometry(geometry);
    return b;
}

QCheckBox* Check(const char* caption, const char* hint, QWidget* parent, QRect geometry) {
    auto* c = new QCheckBox(Q(caption), parent);
    if (hint) c->setToolTip(Q(hint));
    c->setGeometry(geometry);
    return c;
}

// The little calculator at the left of the status bar.
QPixmap CalculatorPicture() {
    QPixmap pixmap(18, 22);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setPen(QColor(40, 40, 40));
    p.setBrush(QColor(90, 90, 100));
    p.drawRoundedRect(1, 0, 15, 21, 2, 2);
    p.setBrush(QColor(170, 200, 160));
    p.drawRect(3, 2, 11, 6);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(220, 220, 220));
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 3; ++col)
            p.drawRect(3 + col * 4, 10 + row * 3, 3, 2);
    return pixmap;
}

bool SystemClipboard(const QImage& image) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard) return false;
    clipboard->clear();
    if (!image.isNull()) clipboard->setImage(image);
    return true;
}

std::shared_ptr<Dialogs> OrDefault(std::shared_ptr<Dialogs>& prompts) {
    if (!prompts) prompts = std::make_shared<QtDialogs>();
    return prompts;
}

} // namespace

TTranDlg::TTranDlg(WindowSetup setup, QWidget* parent)
    : QWidget(parent), Setup(std::move(setup)),
      Host(std::make_shared<QtJobHost>(*this, OrDefault(Setup.Prompts))),
      CalcType(Host->CalcTypeByte) {
    setWindowTitle(Q(text::WindowCaption));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(486, 303);
    QFont f = font();
    f.setPointSize(8);
    setFont(f);

    PageControl1 = new QTabWidget(this);
    PageControl1->setGeometry(0, 0, 486, 273);
    // Six French captions have to fit the fixed width without scroll arrows.
    PageControl1->tabBar()->setStyleSheet(QStringLiteral(
        "QTabBar::tab { padding: 3px 6px; border: 1px solid palette(mid); border-bottom: none;"
        " border-top-left-radius: 3px; border-top-right-radius: 3px; background: palette(button); }"
        "QTabBar::tab:selected { background: palette(window); }"
        "QTabBar::tab:!selected { margin-top: 2px; }"));
    PageControl1->setUsesScrollButtons(false);
    BuildLinkingSheet();
    BuildScreenSheet();
    BuildSettingSheet();
    BuildOptnSheet();
    BuildPixTabSheet();
    BuildAboutSheet();
    BuildOutsidePages();
    PageControl1->setCurrentIndex(0);

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    if (!Setup.CopyToClipboard) Setup.CopyToClipboard = SystemClipboard;
    // The emulator's messages are served on this thread, from the event loop.
    if (Setup.Link) {
        Setup.Link->SetDispatcher([this](const platform::Message& m) { DispatchMessage(m); });
        if (const int fd = Setup.Link->MessageFd(); fd >= 0) {
            MessageNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
            connect(MessageNotifier, &QSocketNotifier::activated, this,
                    [this] { Setup.Link->ServeMessages(); });
        }
    }

    Sending = false;
    JobRunning = false;
    LoadHelpText();
    LoadSettings();
}

TTranDlg::~TTranDlg() {
    FormDestroy();
    // Jobs still running end on their own; their completion finds no window.
    for (TTransThread* job : Host->LiveJobs())
        job->Terminate();
}

void TTranDlg::FormDestroy() {
    if (!Setup.Link) return;
    if (MessageNotifier) MessageNotifier->setEnabled(false);
    if (!Setup.Link->EmuWindow().empty())
        Setup.Link->SendToEmulator(platform::LinkMessage::Goodbye);
    Setup.Link->ReleasePeerRing();
    Setup.Link->SetDispatcher({});
}

void TTranDlg::BuildLinkingSheet() {
    LinkingSheet = new QWidget;
    PageControl1->addTab(LinkingSheet, Q("Envoie"));

    FileNameEdit = new KeyLineEdit(Q("*.8??;*.9??"), LinkingSheet);
    FileNameEdit->setGeometry(6, 6, 150, 21);
    FileListBox = new TFileListBox(LinkingSheet);
    FileListBox->setGeometry(6, 30, 150, 180);
    FileListBox->setToolTip(Q("Vous pouvez selectionner plusieurs fichiers"));
    FilterComboBox = new QComboBox(LinkingSheet);
    FilterComboBox->setGeometry(6, 214, 150, 22);
    for (const auto& [name, mask] : Filters)
        FilterComboBox->addItem(Q(name), Q(mask));

    DirectoryListBox = new TDirectoryListBox(LinkingSheet);
    DirectoryListBox->setGeometry(162, 6, 150, 204);
    DriveComboBox = new TDriveComboBox(LinkingSheet);
    DriveComboBox->setGeometry(162, 214, 150, 22);
    DriveComboBox->SetDirList(DirectoryListBox);

    SendBtn = Button(text::SendGo, LinkingSheet, {320, 6, 152, 28});
    ReceiveBtn = Button("Reception", LinkingSheet, {320, 40, 152, 28});
    ReceiveGBtn = Button("Reception en groupe", LinkingSheet, {320, 74, 152, 28});

    FileListBox->SetMask(FilterComboBox->itemData(0).toString());
    FileListBox->SetDirectory(DirectoryListBox->Directory());

    connect(FilterComboBox, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index < 0) return;
        const QString mask = FilterComboBox->itemData(index).toString();
        FileListBox->SetMask(mask);
        FileNameEdit->setText(mask);
    });
    connect(FileListBox, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { FileNameEdit->setText(item->text()); });
    connect(DirectoryListBox, &TDirectoryListBox::DirectoryChanged, this,
            &TTranDlg::DirectoryChanged);
    connect(DirectoryListBox, &TDirectoryListBox::DoubleClicked, this,
            &TTranDlg::DirectoryListBoxClick);
    connect(FileListBox, &TFileListBox::Change, this, &TTranDlg::FileListBoxChange);
    connect(FileListBox, &QListWidget::itemDoubleClicked, this, &TTranDlg::FileListBoxDblClick);
    connect(FileListBox, &TFileListBox::KeyPress, this, &TTranDlg::FileListBoxKeyPress);
    connect(FileNameEdit, &KeyLineEdit::KeyPress, this, &TTranDlg::FileNameEditKeyPress);
    connect(SendBtn, &QPushButton::clicked, this, &TTranDlg::SendBtnClick);
    connect(ReceiveBtn, &QPushButton::clicked, this, &TTranDlg::ReceiveBtnClick);
    connect(ReceiveGBtn, &QPushButton::clicked, this, &TTranDlg::ReceiveGBtnClick);
}

void TTranDlg::BuildScreenSheet() {
    ScreenSheet = new QWidget;
    PageControl1->addTab(ScreenSheet, Q("Capture écran"));
    ScrFrame = new QFrame(ScreenSheet);
    ScrFrame->setFrameStyle(QFrame::Panel | QFrame::Raised);
    ScrFrame->setGeometry(6, 6, 255, 139);
    ScrImage = new QLabel(ScrFrame);
    ScrImage->setGeometry(4, 4, 247, 131);
    ScrImage->setAlignment(Qt::AlignCenter);
    ScrImage->setCursor(Qt::CrossCursor);
    ScrShotBtn = Button("Capture", ScreenSheet, {272, 6, 152, 28});
    CpyClipBtn = Button("Vers presse-papier", ScreenSheet, {272, 40, 152, 28});
    SaveBMPBtn = Button("Sauvegarder sous", ScreenSheet, {272, 74, 152, 28});
    CpyClipBtn->setEnabled(false);
    SaveBMPBtn->setEnabled(false);
    connect(ScrShotBtn, &QPushButton::clicked, this, &TTranDlg::ScrShotBtnClick);
    connect(CpyClipBtn, &QPushButton::clicked, this, &TTranDlg::CpyClipBtnClick);
    connect(SaveBMPBtn, &QPushButton::clicked, this, &TTranDlg::SaveBMPBtnClick);
}

void TTranDlg::BuildSettingSheet() {
    SettingSheet = new QWidget;
    PageControl1->addTab(SettingSheet, Q("Parametres"));
    SettingControls = new QWidget(SettingSheet);
    SettingControls->setGeometry(0, 0, 480, 246);

    LinkPortGroupBox = new QGroupBox(Q("Port"), SettingControls);
    LinkPortGroupBox->setGeometry(6, 2, 200, 128);
    LinkPortComboBox = new QComboBox(LinkPortGroupBox);
    LinkPortComboBox->setGeometry(8, 18, 184, 22);
    for (const auto& entry : platform::LinkPort)
        LinkPortComboBox->addItem(
            QString::fromLatin1(entry.Text.data(), static_cast<qsizetype>(entry.Text.size())));
    LinkPortComboBox->setToolTip(Q("LPT: Port Parallele et COM: Port serie"));
    LinkPortComboBox->setCurrentIndex(-1);
    InvLinesBox = Check("Fils &Inversés", "Si vous avez inversé les fils dans votre cable.",
                        LinkPortGroupBox, {8, 44, 184, 20});
    ToEmuBox = Check("Cab&le virtuel", "Pour utilisé VTI Emulator v2.5.", LinkPortGroupBox,
                     {8, 66, 184, 20});
    DtctAddBtn = Button("Detection automatique", LinkPortGroupBox, {8, 92, 184, 28});
    DtctAddBtn->setToolTip(Q("Deconnectez votre calculatrice."));

    Label1 = new QLabel(Q("Delai de &transfert:"), SettingControls);
    Label1->setGeometry(8, 136, 198, 18);
    DelayEdit = new QLineEdit(Q("0"), SettingControls);
    DelayEdit->setGeometry(8, 156, 100, 22);
    DelayEdit->setToolTip(Q("Utilise si vous avez un Pc puissant."));
    Label1->setBuddy(DelayEdit);
    DelayUpDown = new UpDown(DelayMin, DelayMax, 100, SettingControls);
    DelayUpDown->setGeometry(108, 156, 16, 22);
    DelayUpDown->setToolTip(DelayEdit->toolTip());

    GroupBox1 = new QGroupBox(Q("Repertoire de démarage:"), SettingControls);
    GroupBox1->setGeometry(214, 2, 260, 204);
    StartDirLabel = new QLabel(GroupBox1);
    StartDirLabel->setGeometry(8, 18, 244, 16);
    StartDirectoryListBox = new TDirectoryListBox(GroupBox1);
    StartDirectoryListBox->setGeometry(8, 36, 244, 136);
    StartDriveComboBox = new TDriveComboBox(GroupBox1);
    StartDriveComboBox->setGeometry(8, 176, 244, 22);
    StartDriveComboBox->SetDirList(StartDirectoryListBox);
    StartDirectoryChanged(StartDirectoryListBox->Directory());

    SaveOptBtn = Button("Sau&vegarde Options", SettingControls, {8, 212, 150, 28});

    connect(LinkPortComboBox, &QComboBox::currentIndexChanged, this,
            &TTranDlg::LinkPortComboBoxChange);
    connect(ToEmuBox, &QCheckBox::toggled, this, &TTranDlg::ToEmuBoxClick);
    connect(DtctAddBtn, &QPushButton::clicked, this, &TTranDlg::DtctAddBtnClick);
    connect(DelayEdit, &QLineEdit::textChanged, this, &TTranDlg::DelayEditChange);
    connect(DelayUpDown, &UpDown::Clicked, this,
            [this](int position) { DelayEdit->setText(QString::number(position)); });
    connect(StartDirectoryListBox, &TDirectoryListBox::DirectoryChanged, this,
            &TTranDlg::StartDirectoryChanged);
    connect(StartDirectoryListBox, &TDirectoryListBox::DoubleClicked, this, [this] {
        StartDirectoryListBox->SetDirectory(StartDirectoryListBox->ItemDirectory());
    });
    connect(SaveOptBtn, &QPushButton::clicked, this, &TTranDlg::SaveOptBtnClick);
}

void TTranDlg::BuildOptnSheet() {
    OptnSheet = new QWidget;
    PageControl1->addTab(OptnSheet, Q("Options Calculatrice"));
    TI89Box = new QGroupBox(Q("TI89, TI92+"), OptnSheet);
    TI89Box->setGeometry(6, 2, 284, 176);
    TI89ClipSS =
        Check("Capture écran", "Seulement la partie visible de l écran de la TI-89 est capturé",
              TI89Box, {8, 18, 270, 20});
    TI89UseFold =
        Check("Ne pas envoyer le nom des repertoires",
              "Les fichiers sont stockés dans le repertoire actif.", TI89Box, {8, 40, 270, 20});
    TI89Save92 =
        Check("Si vous utilisé une TI92+.", "Les fichiers TI89 seront stockés en fichiers TI92+.",
              TI89Box, {8, 62, 270, 20});
    TI89MenuOnly =
        Check("Envoie multiple seleument sous Var-Link",
              "Si non coché, la reception de fichiers multiples ce fera sous l écran Home.",
              TI89Box, {8, 84, 270, 20});
    TI89SendToF =
        Check("Envoie des fichiers vers le repertoire:",
              "Tout les fichiers sont stockés dans ce repertoire.", TI89Box, {8, 106, 270, 20});
    DefFoldName = new QLineEdit(Q("main"), TI89Box);
    DefFoldName->setMaxLength(8);
    DefFoldName->setGeometry(28, 130, 100, 22);
    DefFoldName->setToolTip(TI89SendToF->toolTip());

    TI86Box = new QGroupBox(Q("TI86"), OptnSheet);
    TI86Box->setGeometry(296, 2, 178, 56);
    TI86Back4p = Check("Sauvegarde en 4 parties", nullptr, TI86Box, {8, 22, 166, 20});
    SaveBtn2 = Button("Sau&vegarde Options", OptnSheet, {296, 66, 178, 28});
    connect(SaveBtn2, &QPushButton::clicked, this, &TTranDlg::SaveOptBtnClick);
}

void TTranDlg::BuildPixTabSheet() {
    PixTabSheet = new QWidget;
    PageControl1->addTab(PixTabSheet, Q("Xpander"));
    ListBox1 = new QListWidget(PixTabSheet);
    ListBox1->setGeometry(6, 6, 200, 232);
    Label2 = new QLabel(Q("Taille memoire"), PixTabSheet);
    Label2->setGeometry(214, 6, 160, 18);
    ComboBox1 = new QComboBox(PixTabSheet);
    ComboBox1->addItems({Q("1MB"), Q("4MB"), Q("24MB")});
    ComboBox1->setMaxVisibleItems(4);
    ComboBox1->setGeometry(214, 26, 120, 22);
    Button1 = Button("Contenu de la memoire", PixTabSheet, {214, 60, 160, 28});
    Button2 = Button("Addresse", PixTabSheet, {214, 94, 160, 28});
    Button3 = Button("Bloc", PixTabSheet, {214, 128, 160, 28});
    for (QPushButton* b : {Button1, Button2, Button3})
        b->setEnabled(false);
}

void TTranDlg::BuildAboutSheet() {
    AboutSheet = new QWidget;
    PageControl1->addTab(AboutSheet, Q("A Propos"));
    RichEdit1 = new QTextBrowser(AboutSheet);
    RichEdit1->setGeometry(6, 6, 468, 186);
    RichEdit1->setReadOnly(true);
    RichEdit1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RichEdit1->setPlainText(Q(text::HelpBuiltIn));
    StaticText2 = new QLabel(Q(text::Credits), AboutSheet);
    StaticText2->setGeometry(6, 196, 360, 18);
    ProUrlLabel1 = new UrlLabel(Q(text::MakerUrl), AboutSheet);
    ProUrlLabel1->setGeometry(6, 216, 300, 18);
}

void TTranDlg::BuildOutsidePages() {
    StopBtn = new QPushButton(Q(text::StopQuit), this);
    QFont bold = StopBtn->font();
    bold.setBold(true);
    StopBtn->setFont(bold);
    StopBtn->setGeometry(372, 240, 106, 28);
    StopBtn->raise();
    connect(StopBtn, &QPushButton::clicked, this, &TTranDlg::StopBtnClick);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, StopBtn, &QPushButton::click);

    Panel1 = new QWidget(this);
    Panel1->setGeometry(0, 273, 486, 30);
    Panel3 = new QFrame(Panel1);
    Panel3->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel3->setGeometry(2, 2, 28, 26);
    Image1 = new ClickImage(Panel3);
    Image1->setPixmap(CalculatorPicture());
    Image1->setAlignment(Qt::AlignCenter);
    Image1->setGeometry(1, 1, 26, 24);
    Image1->setToolTip(Q("Force the calculator type to change"));
    Image1->setCursor(Qt::PointingHandCursor);
    connect(Image1, &ClickImage::Clicked, this, &TTranDlg::Image1Click);

    StatusBar1 = new StatusBar({67, 330}, Panel1);
    StatusBar1->setGeometry(32, 4, 67 + 330 + 2, 22);
    StatusBar1->Panel(0)->setAlignment(Qt::AlignCenter);
    StatusBar1->SetPanelText(0, Q("TI85"));
    StatusBar1->SetPanelText(1, Q(text::Ready));

    Panel2 = new QWidget(Panel1);
    Panel2->setGeometry(434, 4, 50, 22);
    ProgressBar1 = new QProgressBar(Panel2);
    ProgressBar1->setGeometry(0, 0, 50, 22);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);

    SaveDialog1 = new QFileDialog(this);
    SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog1->setFileMode(QFileDialog::AnyFile);
    QStringList nameFilters;
    for (const auto& [name, mask] : Filters)
        nameFilters << QStringLiteral("%1 (%2)").arg(Q(name), Q(mask).replace(';', ' '));
    SaveDialog1->setNameFilters(nameFilters);

    SavePictureDialog1 = new QFileDialog(this);
    SavePictureDialog1->setWindowTitle(Q(text::ScreenSaveTitle));
    SavePictureDialog1->setAcceptMode(QFileDialog::AcceptSave);
    SavePictureDialog1->setFileMode(QFileDialog::AnyFile);
    SavePictureDialog1->setNameFilters({Q(text::BitmapFilter), Q(text::PngFilter)});
    SavePictureDialog1->selectNameFilter(Q(text::BitmapFilter));
    SavePictureDialog1->setDefaultSuffix(Q(text::BitmapExtension));
    connect(SavePictureDialog1, &QFileDialog::filterSelected, this, [this](const QString& f) {
        SavePictureDialog1->setDefaultSuffix(f == Q(text::PngFilter) ? QStringLiteral("png")
                                                                     : Q(text::BitmapExtension));
    });

    CalcTypeMenu = new QMenu(this);
    auto item = [this](const char* caption, void (TTranDlg::*handler)()) {
        QAction* a = CalcTypeMenu->addAction(Q(caption));
        a->setCheckable(true);
        connect(a, &QAction::triggered, this, handler);
        return a;
    };
    TI821 = item("TI82", &TTranDlg::TI821Click);
    TI82TI831 = item("TI83, TI83+", &TTranDlg::TI82TI831Click);
    TI851 = item("TI85", &TTranDlg::TI851Click);
    TI861 = item("TI86", &TTranDlg::TI861Click);
    TI891 = item("TI89, TI92+", &TTranDlg::TI891Click);
    TI921 = item("TI92", &TTranDlg::TI921Click);
    TI851->setChecked(true);

    StopBtn->setFocus();
}

void TTranDlg::LoadHelpText() {
    QStringList candidates{QDir::current().filePath(Q(text::HelpFileName))};
    for (const std::string& folder : Setup.HelpFolders)
        candidates << QDir(QString::fromStdString(folder)).filePath(Q(text::HelpFileName));
    for (const QString& path : candidates) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) continue;
        const QByteArray data = file.read(RtfReader::MaxInput);
        RtfReader::Read(data, *RichEdit1->document());
        RichEdit1->moveCursor(QTextCursor::Start);
        return;
    }
    Prompts().Error(this, Q(text::ErrorTitle), Q(text::HelpOpenError));
}

std::string TTranDlg::SettingsFile() const {
    return Setup.SettingsPath.empty() ? platform::SettingsStore::DefaultPath() : Setup.SettingsPath;
}

void TTranDlg::LoadSettings() {
    platform::SettingsStore store(SettingsFile());
    std::string error;
    const bool existed = QFileInfo::exists(QString::fromStdString(store.Path()));
    // A missing file is created empty, as opening the registry key creates it.
    if (!store.Open(error) || (!existed && !store.Save(error))) {
        Prompts().Error(this, Q(text::ErrorTitle), Q(text::RegistryOpenError),
                        QString::fromStdString(error));
        return;
    }
    auto readString = [&](const char* name) -> std::optional<std::string> {
        if (!store.HasValue(name)) return std::nullopt;
        auto v = store.ReadString(name, error);
        if (!v) throw SettingsTypeError(error);
        return v;
    };
    auto readInteger = [&](const char* name,
                           const char* presence = nullptr) -> std::optional<int32_t> {
        if (!store.HasValue(presence ? presence : name)) return std::nullopt;
        auto v = store.ReadInteger(name, error);
        if (!v) throw SettingsTypeError(error);
        return v;
    };

    if (auto dir = readString(key::StartDirectory)) {
        if (DirectoryListBox->SetDirectory(QString::fromStdString(*dir)))
            StartDirectoryListBox->SetDirectory(DirectoryListBox->Directory());
        else
            Prompts().Error(this, Q(text::ErrorTitle), Q(text::StartDirError));
    }
    DefFoldName->setText(QString::fromStdString(readString(key::DefaultFolder).value_or("main")));
    {
        const int port = readInteger(key::LinkPort, key::LinkPortPresence).value_or(0);
        const QSignalBlocker block(LinkPortComboBox);
        LinkPortComboBox->setCurrentIndex(platform::IsValidLinkPortIndex(port) ? port : -1);
    }
    const int delay =
        std::clamp<int32_t>(readInteger(key::Delay).value_or(1000), DelayMin, DelayMax);
    DelayUpDown->SetPosition(delay);
    DelayEdit->setText(QString::number(DelayUpDown->Position()));
    const std::pair<const char*, QCheckBox*> boxes[] = {
        {key::InvertLines, InvLinesBox},  {key::ToEmulator, ToEmuBox},
        {key::TI86FourParts, TI86Back4p}, {key::TI89Clip, TI89ClipSS},
        {key::TI89Save92, TI89Save92},    {key::TI89MenuOnly, TI89MenuOnly},
        {key::TI89NoFolder, TI89UseFold}, {key::TI89SendToFolder, TI89SendToF},
    };
    for (const auto& [name, box] : boxes)
        box->setChecked(readInteger(name).value_or(0) != 0);
    CalcType =
        static_cast<uint8_t>(static_cast<uint32_t>(readInteger(key::CalcType).value_or(5)) & 0xFF);

    StartJob(CurrentFilePath(), engine::OpRefresh, Done::None);
}

void TTranDlg::SaveOptBtnClick() {
    platform::SettingsStore store(SettingsFile());
    std::string error;
    if (!store.Open(error)) {
        Prompts().Error(this, Q(text::ErrorTitle), Q(text::RegistrySaveError),
                        QString::fromStdString(error));
        return;
    }
    store.WriteString(key::StartDirectory, StartDirectoryListBox->Directory().toStdString());
    store.WriteString(key::DefaultFolder, DefFoldName->text().toStdString());
    store.WriteInteger(key::LinkPort, LinkPortComboBox->currentIndex());
    store.WriteInteger(key::Delay, static_cast<int16_t>(DelayUpDown->Position()));
    const std::pair<const char*, QCheckBox*> boxes[] = {
        {key::InvertLines, InvLinesBox},  {key::ToEmulator, ToEmuBox},
        {key::TI86FourParts, TI86Back4p}, {key::TI89Clip, TI89ClipSS},
        {key::TI89Save92, TI89Save92},    {key::TI89MenuOnly, TI89MenuOnly},
        {key::TI89NoFolder, TI89UseFold}, {key::TI89SendToFolder, TI89SendToF},
    };
    for (const auto& [name, box] : boxes)
        store.WriteInteger(name, box->isChecked() ? 1 : 0);
    store.WriteInteger(key::CalcType, CalcType.load());
    if (!store.Save(error))
        Prompts().Error(this, Q(text::ErrorTitle), Q(text::RegistrySaveError),
                        QString::fromStdString(error));
}

void TTranDlg::DelayEditChange() {
    const QString t = DelayEdit->text();
    if (engine::ParseDelayText(t.toStdString()) < 0) {
        Prompts().Error(this, Q(text::DelayErrorTitle), Q(text::InvalidDelay));
        DelayEdit->setText(Q("0"));
        return;
    }
    bool number = false;
    const int value = t.trimmed().toInt(&number);
    if (number && value >= DelayUpDown->Min() && value <= DelayUpDown->Max())
        DelayUpDown->SetPosition(value);
}

void TTranDlg::LinkPortComboBoxChange() {
    if (Sending || JobRunning) return;
    StartJob(CurrentFilePath(), engine::OpRefresh, Done::None);
}

void TTranDlg::ToEmuBoxClick() {
    const bool on = ToEmuBox->isChecked();
    if (Setup.Link)
        Setup.Link->SendToEmulator(on ? platform::LinkMessage::EnableLink
                                      : platform::LinkMessage::DisableLink);
    LinkPortComboBox->setEnabled(!on);
    DtctAddBtn->setEnabled(!on);
}

void TTranDlg::FormCreate() {
    if (!Setup.CommandLinePath.empty()) {
        StartJob(Setup.CommandLinePath, engine::OpSendSingle, Done::SendCmdLineDone);
        JobRunning = true;
        SetBusy();
    }
    if (Setup.Link) Setup.Link->Greet();
}

void TTranDlg::DispatchMessage(const platform::Message& message) {
    using platform::LinkMessage;
    switch (message.Number) {
    case LinkMessage::Hello:
        WMHello(message);
        break;
    case LinkMessage::Goodbye:
        WMGoodbye();
        break;
    case LinkMessage::EnableLink:
        WMEnableLink();
        break;
    case LinkMessage::DisableLink:
        WMDisableLink();
        break;
    case LinkMessage::SendBuffer:
        WMSendBuffer(message);
        break;
    default:
        break;
    }
}

void TTranDlg::WMHello(const platform::Message& message) {
    Setup.Link->WMHello(message);
}

void TTranDlg::WMSendBuffer(const platform::Message& message) {
    Setup.Link->WMSendBuffer(message);
}

// An unchanged box raises no toggled signal, so only a real change is echoed.
void TTranDlg::WMEnableLink() {
    ToEmuBox->setChecked(true);
}

void TTranDlg::WMDisableLink() {
    ToEmuBox->setChecked(false);
}

void TTranDlg::WMGoodbye() {
    ToEmuBox->setChecked(false);
    Setup.Link->WMGoodbye();
}

engine::JobSettings TTranDlg::CurrentJobSettings() const {
    engine::JobSettings s;
    s.LinkPortIndex = LinkPortComboBox->currentIndex();
    s.InvertLines = InvLinesBox->isChecked();
    s.UseVirtualLink = ToEmuBox->isChecked();
    s.TI86FourParts = TI86Back4p->isChecked();
    s.TI89ClipScreen = TI89ClipSS->isChecked();
    s.TI89NoFolderName = TI89UseFold->isChecked();
    s.TI89VarLinkOnly = TI89MenuOnly->isChecked();
    s.TI89SaveAs92Plus = TI89Save92->isChecked();
    s.TI89SendToFolder = TI89SendToF->isChecked();
    s.DelayText = DelayEdit->text().toStdString();
    s.DefaultFolder = DefFoldName->text().toStdString();
    return s;
}

std::string TTranDlg::CurrentFilePath() const {
    return FileListBox->FileName().toStdString();
}

int TTranDlg::LiveJobs() const {
    return static_cast<int>(Host->LiveJobs().size());
}

TTransThread* TTranDlg::StartJob(const std::string& path, uint8_t op, Done done) {
    if (Terminating) return nullptr;
    const engine::LinkEnvironment env{Setup.Driver, &Host->Serializer(), Setup.Virtual,
                                      Setup.Transfers};
    std::shared_ptr<QtJobHost> host = Host;
    QPointer<TTranDlg> self(this);
    TTransThread* job = TTransThread::Create(path, op, CurrentJobSettings(), env, *Host, CalcType,
                                             [host, self, done](TTransThread& ended) {
                                                 host->Remove(&ended);
                                                 if (self) self->JobFinished(ended, done);
                                             });
    Host->Add(job);
    if (done != Done::None) Job = job;
    emit JobCreated(op, QString::fromStdString(path));
    return job;
}

void TTranDlg::JobFinished(TTransThread& job, Done done) {
    const bool current = &job == Job;
    if (current) Job = nullptr;
    // A stopped command-line send still closes the program.
    if (current || done == Done::SendCmdLineDone) RunDone(done);
    // The exports follow every capture that ended, also a stopped one; the
    // window's busy state is not the stale job's to change.
    else if (done == Done::ScrSDone)
        EnableExports();
    FinishTerminateIfIdle();
}

void TTranDlg::RunDone(Done done) {
    switch (done) {
    case Done::None:
        break;
    case Done::SendNextSelected:
        SendNextSelected();
        break;
    case Done::SendDone:
        SendDone();
        break;
    case Done::RecvDone:
        RecvDone();
        break;
    case Done::RecvGDone:
        RecvGDone();
        break;
    case Done::ScrSDone:
        ScrSDone();
        break;
    case Done::SendCmdLineDone:
        SendCmdLineDone();
        break;
    }
}

void TTranDlg::TerminateApplication() {
    Terminating = true;
    for (TTransThread* job : Host->LiveJobs())
        job->Terminate();
    FinishTerminateIfIdle();
}

void TTranDlg::FinishTerminateIfIdle() {
    if (!Terminating || Terminated || !Host->LiveJobs().empty()) return;
    Terminated = true;
    emit ApplicationTerminated();
}

void TTranDlg::closeEvent(QCloseEvent* event) {
    if (!Terminated) TerminateApplication();
    // The window stays until the stopped jobs have ended, so none outlives the driver.
    if (Terminated)
        event->accept();
    else
        event->ignore();
}

void TTranDlg::SetBusy() {
    for (QWidget* w : {static_cast<QWidget*>(SendBtn), static_cast<QWidget*>(ReceiveBtn),
                       static_cast<QWidget*>(ReceiveGBtn), static_cast<QWidget*>(ScrShotBtn),
                       SettingControls, static_cast<QWidget*>(FileListBox)})
        w->setEnabled(false);
    StopBtn->setText(Q(text::StopStop));
}

void TTranDlg::SetIdle() {
    for (QWidget* w : {static_cast<QWidget*>(SendBtn), static_cast<QWidget*>(ReceiveBtn),
                       static_cast<QWidget*>(ReceiveGBtn), static_cast<QWidget*>(ScrShotBtn),
                       SettingControls, static_cast<QWidget*>(FileListBox)})
        w->setEnabled(true);
    StopBtn->setText(Q(text::StopExit));
    StatusBar1->SetPanelText(1, Q(text::ReadyIdle));
    ProgressBar1->setValue(0);
}

bool TTranDlg::SeriesNeedsClosing() const {
    return CalcType < 8 || TI89MenuOnly->isChecked();
}

void TTranDlg::SendBtnClick() {
    if (Sending) return;
    if (FileListBox->SelCount() < 2) {
        Sending = true;
        StatusBar1->SetPanelText(1, Q(text::DoubleClickEach));
        SetBusy();
        StopBtn->setText(Q(text::StopOk));
        FileListBox->setEnabled(true);
    } else {
        SendIndex = 0;
        Sending = true;
        SetBusy();
        SendNextSelected();
    }
}

void TTranDlg::SendNextSelected() {
    if (!Sending) return;
    while (SendIndex < FileListBox->count()) {
        QListWidgetItem* item = FileListBox->item(SendIndex);
        if (item->isSelected()) {
            const QString path = FileListBox->Directory() + '/' + item->text();
            StartJob(path.toStdString(), engine::OpSendSeries, Done::SendNextSelected);
            JobRunning = true;
            ++SendIndex;
            return;
        }
        ++SendIndex;
    }
    Sending = false;
    if (!SeriesNeedsClosing()) {
        JobRunning = false;
        SetIdle();
    } else {
        StartJob(CurrentFilePath(), engine::OpCloseSeries, Done::SendDone);
        SetBusy();
    }
}

void TTranDlg::FileListBoxDblClick() {
    // The list is disabled while a job runs; this guards the keyboard path too.
    if (JobRunning) return;
    StartJob(CurrentFilePath(), Sending ? engine::OpSendSeries : engine::OpSendSingle,
             Done::SendDone);
    JobRunning = true;
    SetBusy();
}

void TTranDlg::FileListBoxKeyPress(int key) {
    if (key == Qt::Key_Return || key == Qt::Key_Enter) FileListBoxDblClick();
}

void TTranDlg::FileListBoxChange() {
    if (FileListBox->SelCount() >= 2)
        SendBtn->setText(Q(text::SendSelected));
    else if (SendBtn->text().size() > 5)
        SendBtn->setText(Q(text::SendOne));
}

void TTranDlg::FileNameEditKeyPress(int key) {
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
        ShowingErrors([&] { ApplyFileNameEdit(FileNameEdit->text()); });
}

void TTranDlg::ApplyFileNameEdit(const QString& entered) {
    const QString t = entered.trimmed();
    if (t.isEmpty()) return;
    const qsizetype slash = t.lastIndexOf('/');
    const QString folder = slash < 0 ? QString() : slash == 0 ? QStringLiteral("/") : t.left(slash);
    const QString name = slash < 0 ? t : t.mid(slash + 1);
    auto notFound = [](const QString& what) {
        return std::runtime_error(Q(text::FileNotFound).arg(what).toStdString());
    };
    if (!folder.isEmpty()) {
        const QString target = QDir(FileListBox->Directory()).absoluteFilePath(folder);
        if (!DirectoryListBox->SetDirectory(target)) throw notFound(folder);
    }
    if (name.isEmpty()) return;
    if (name.contains('*') || name.contains('?')) {
        FileListBox->SetMask(name);
        FileNameEdit->setText(name);
        return;
    }
    const QFileInfo info(QDir(FileListBox->Directory()).filePath(name));
    if (info.isDir()) {
        if (!DirectoryListBox->SetDirectory(info.absoluteFilePath())) throw notFound(name);
        return;
    }
    if (!FileListBox->SelectFile(name)) throw notFound(name);
    FileNameEdit->setText(FileListBox->currentItem()->text());
}

void TTranDlg::DirectoryListBoxClick() {
    DirectoryListBox->SetDirectory(DirectoryListBox->ItemDirectory());
}

void TTranDlg::DirectoryChanged(const QString& path) {
    FileListBox->SetDirectory(path);
    QDir::setCurrent(path);
}

void TTranDlg::StartDirectoryChanged(const QString& path) {
    StartDirLabel->setText(
        StartDirLabel->fontMetrics().elidedText(path, Qt::ElideMiddle, StartDirLabel->width()));
    StartDirLabel->setToolTip(path);
    QDir::setCurrent(path);
}

void TTranDlg::StopBtnClick() {
    if (JobRunning) {
        if (Job) Job->Terminate();
        // Its completion, when it comes, is no longer the window's business.
        Job = nullptr;
        Sending = false;
        JobRunning = false;
        SetIdle();
    } else if (Sending) {
        Sending = false;
        if (SeriesNeedsClosing()) {
            StartJob(CurrentFilePath(), engine::OpCloseSeries, Done::SendDone);
            JobRunning = true;
            SetBusy();
        } else {
            SendDone();
        }
    } else {
        TerminateApplication();
    }
}

void TTranDlg::SendDone() {
    if (Sending) {
        JobRunning = false;
        StatusBar1->SetPanelText(1, Q(text::DoubleClickEach));
        StopBtn->setText(Q(text::StopOk));
        ProgressBar1->setValue(0);
        FileListBox->setEnabled(true);
    } else {
        JobRunning = false;
        SetIdle();
    }
}

void TTranDlg::RecvDone() {
    FileListBox->Update();
    JobRunning = false;
    SetIdle();
}

void TTranDlg::RecvGDone() {
    RecvDone();
}

void TTranDlg::ScrSDone() {
    JobRunning = false;
    SetIdle();
    EnableExports();
}

void TTranDlg::EnableExports() {
    CpyClipBtn->setEnabled(true);
    SaveBMPBtn->setEnabled(true);
}

void TTranDlg::SendCmdLineDone() {
    JobRunning = false;
    SetIdle();
    TerminateApplication();
}

void TTranDlg::ReceiveBtnClick() {
    StartJob(SaveDialog1FileName.toStdString(), engine::OpReceiveVariables, Done::RecvDone);
    JobRunning = true;
    SetBusy();
}

void TTranDlg::ReceiveGBtnClick() {
    const QStringList filters = SaveDialog1->nameFilters();
    SaveDialog1->selectNameFilter(filters.at(3));
    SaveDialog1->setWindowTitle(Q(text::GroupSaveTitle));
    SaveDialog1->setDirectory(DirectoryListBox->Directory());
    if (!Prompts().RunSaveDialog(*SaveDialog1)) return;
    const QStringList chosen = SaveDialog1->selectedFiles();
    if (chosen.isEmpty()) return;
    SaveDialog1FileName = chosen.first();
    StartJob(SaveDialog1FileName.toStdString(), engine::OpReceiveGroup, Done::RecvGDone);
    JobRunning = true;
    SetBusy();
}

void TTranDlg::ScrShotBtnClick() {
    StartJob(CurrentFilePath(), engine::OpCaptureScreen, Done::ScrSDone);
    JobRunning = true;
    SetBusy();
}

void TTranDlg::DtctAddBtnClick() {
    StartJob(CurrentFilePath(), engine::OpDetectCable, Done::None);
}

void TTranDlg::ShowScreenImage(const engine::MonoImage& image) {
    const int row = (image.Width + 7) / 8;
    if (image.Width <= 0 || image.Height <= 0 ||
        image.Bits.size() < static_cast<std::size_t>(row) * static_cast<std::size_t>(image.Height))
        return;
    QImage bitmap(image.Width, image.Height, QImage::Format_Mono);
    bitmap.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    for (int y = 0; y < image.Height; ++y)
        std::copy_n(image.Bits.data() + static_cast<std::size_t>(y) * row, row, bitmap.scanLine(y));
    ScrBitmap = bitmap;
    ScrImage->setPixmap(QPixmap::fromImage(ScrBitmap));
}

void TTranDlg::CpyClipBtnClick() {
    bool copied = false;
    try {
        copied = Setup.CopyToClipboard(ScrBitmap);
    } catch (const std::exception&) {
        copied = false;
    }
    StatusBar1->SetPanelText(1, Q(copied ? text::ImageCopied : text::ImageCopyError));
}

void TTranDlg::SaveBMPBtnClick() {
    if (!Prompts().RunSaveDialog(*SavePictureDialog1)) return;
    const QStringList chosen = SavePictureDialog1->selectedFiles();
    if (chosen.isEmpty()) return;
    QString path = chosen.first();
    // A name typed without an extension gets the chosen type's.
    if (QFileInfo(path).suffix().isEmpty()) path += '.' + SavePictureDialog1->defaultSuffix();
    ShowingErrors([&] { WriteScreenImage(path); });
}

void TTranDlg::WriteScreenImage(const QString& path) const {
    files::MonoBitmap bitmap{ScrBitmap.width(), ScrBitmap.height(), {}};
    const int row = (bitmap.Width + 7) / 8;
    for (int y = 0; y < bitmap.Height; ++y) {
        const uchar* line = ScrBitmap.constScanLine(y);
        bitmap.Bits.insert(bitmap.Bits.end(), line, line + row);
    }
    const bool png =
        QFileInfo(path).suffix().compare(QStringLiteral("png"), Qt::CaseInsensitive) == 0;
    const std::vector<uint8_t> bytes =
        png ? files::EncodeMonoPng(bitmap) : files::EncodeMonoBmp(bitmap);
    // Before the first capture there is nothing a picture file could hold.
    if (bytes.empty())
        throw std::runtime_error(
            Q(text::ImageWriteError).arg(path, Q(text::NoScreenImage)).toStdString());
    // A temporary file renamed over the target: a failed write leaves the old file.
    QSaveFile file(path);
    const bool written =
        file.open(QIODevice::WriteOnly) &&
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<qint64>(bytes.size())) == static_cast<qint64>(bytes.size()) &&
        file.commit();
    if (!written)
        throw std::runtime_error(
            Q(text::ImageWriteError).arg(path, file.errorString()).toStdString());
}

void TTranDlg::Image1Click() {
    if (Sending || JobRunning) return;
    const QRect frame = frameGeometry();
    CalcTypeMenu->popup(QPoint(frame.left(), frame.top() + frame.height() - 110));
}

void TTranDlg::SetCalcTypeFromMenu(uint8_t calcType) {
    // The check marks follow the job's ShowCalcType, not the click.
    ApplyMenuChecks(CheckedCalcType);
    CalcType = calcType;
    StartJob(CurrentFilePath(), engine::OpRefresh, Done::None);
}

void TTranDlg::TI821Click() {
    SetCalcTypeFromMenu(2);
}
void TTranDlg::TI82TI831Click() {
    SetCalcTypeFromMenu(3);
}
void TTranDlg::TI851Click() {
    SetCalcTypeFromMenu(5);
}
void TTranDlg::TI861Click() {
    SetCalcTypeFromMenu(6);
}
void TTranDlg::TI891Click() {
    SetCalcTypeFromMenu(8);
}
void TTranDlg::TI921Click() {
    SetCalcTypeFromMenu(9);
}

void TTranDlg::ApplyMenuChecks(uint8_t calcType) {
    CheckedCalcType = calcType;
    const std::pair<uint8_t, QAction*> items[] = {{2, TI821}, {3, TI82TI831}, {5, TI851},
                                                  {6, TI861}, {8, TI891},     {9, TI921}};
    for (const auto& [type, action] : items)
        action->setChecked(type == calcType);
}

void TTranDlg::ShowStatusText(const QString& text) {
    StatusBar1->SetPanelText(1, text);
}

void TTranDlg::ShowCalcTypeOf(uint8_t calcType, const QString& name) {
    ApplyMenuChecks(calcType);
    StatusBar1->SetPanelText(0, name);
}

void TTranDlg::ShowProgressOf(int percent) {
    ProgressBar1->setValue(std::clamp(percent, 0, 100));
}

void TTranDlg::RefreshFiles() {
    FileListBox->Update();
}

void TTranDlg::SelectLinkPort(int index) {
    const QSignalBlocker block(LinkPortComboBox);
    LinkPortComboBox->setCurrentIndex(platform::IsValidLinkPortIndex(index) ? index : -1);
}

std::optional<std::string> TTranDlg::AskSaveFileName(const engine::SaveDialogRequest& request) {
    SaveDialog1->setWindowTitle(QString::fromStdString(request.Title));
    const QStringList filters = SaveDialog1->nameFilters();
    if (request.FilterIndex >= 1 && request.FilterIndex <= filters.size())
        SaveDialog1->selectNameFilter(filters.at(request.FilterIndex - 1));
    SaveDialog1->selectFile(QString::fromStdString(request.FileName));
    if (!Prompts().RunSaveDialog(*SaveDialog1)) return std::nullopt;
    const QStringList chosen = SaveDialog1->selectedFiles();
    if (chosen.isEmpty()) return std::nullopt;
    SaveDialog1FileName = chosen.first();
    return SaveDialog1FileName.toStdString();
}

void ShutDown(std::unique_ptr<TTranDlg>& window, std::unique_ptr<platform::PortDriver>& driver,
              engine::VirtualLink* link) {
    // The loop ends only once every job has ended; should one still live, it
    // is stopped and waited for, so no job drives a released driver.
    if (window && window->LiveJobs() > 0) {
        window->TerminateApplication();
        while (window->LiveJobs() > 0) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(1);
        }
    }
    driver.reset();
    if (link) link->ReleaseOwnRing();
    window.reset();
}

} // namespace lodestrum::app
