#include "uMain.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QToolButton>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "app/CommandLine.h"
#include "app/StorageFolder.h"
#include "app/Translation.h"
#include "app/UiLog.h"
#include "app/WindowPlacement.h"
#include "capture/LinkedFilter.h"
#include "platform/media/MediaInit.h"
#include "platform/picture/BmpFile.h"
#include "platform/runtime/Diagnostics.h"
#include "platform/runtime/Error.h"
#include "platform/runtime/ErrorBox.h"
#include "platform/runtime/TerminationSignals.h"
#include "uFrmDevSettings.h"
#include "uFrmSelDir.h"
#include "utPublic.h"
#include "widgets/FixedSizeKeeper.h"
#include "widgets/TImage.h"
#include "widgets/TPanel.h"
#include "widgets/TSpinEdit.h"

namespace {
constexpr int kClientWidth = 791;
constexpr int kClientHeight = 422;
constexpr int kDisplayWidth = 507;
constexpr int kDisplayHeight = 418;

const char* const kIdleBurstCaption = QT_TRANSLATE_NOOP("TFrmMain", "连续捕获多张图片");
const char* const kRunningBurstCaption = QT_TRANSLATE_NOOP("TFrmMain", "停止连续捕获图片");

// "宋体" 9 points: 12 pixels high at 96 dots per inch, whatever the screen's density.
QFont SongFont() {
  QFont font("宋体");
  font.setPixelSize(12);
  return font;
}

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}
std::string S(const QString& text) {
  return text.toStdString();
}

// fontconfig maps neither "宋体" nor the other faces of the window to what Debian has.
void InstallFontSubstitutes() {
  const QStringList song = {"AR PL UMing CN", "AR PL UMing TW", "Noto Serif CJK SC",
                            "Noto Sans CJK SC"};
  QFont::insertSubstitutions("宋体", song);
  QFont::insertSubstitutions("SimSun", song);
  const QStringList sans = {"DejaVu Sans", "Noto Sans CJK SC"};
  QFont::insertSubstitutions("MS Sans Serif", sans);
  QFont::insertSubstitutions("Arial", sans);
}

template <typename W>
W* Place(W* widget, int left, int top, int width, int height) {
  widget->setGeometry(left, top, width, height);
  return widget;
}

// The text fields and the list: no frame, a soft bevel. `extra` holds further rules for the
// same widget: a second style sheet would replace the first.
void SoftBevel(QWidget* widget, const QString& extra = {}) {
  widget->setStyleSheet(
      QStringLiteral("%1 { border: 1px solid palette(mid); border-top-color: palette(dark);"
                     "border-left-color: palette(dark); background: palette(base); }")
          .arg(QString::fromLatin1(widget->metaObject()->className())) +
      extra);
}
}  // namespace

TFrmMain::TFrmMain(QWidget* parent) : QWidget(parent) {
  InstallFontSubstitutes();
  setWindowTitle("Stillwick");
  setFont(SongFont());
  // The installed theme's icon, else the program's own copy.
  setWindowIcon(QIcon::fromTheme("stillwick", QIcon(":/stillwick.svg")));
  new FixedSizeKeeper(this);
  CreateControls();
  ConnectHandlers();
  Guarded([this] { FormCreate(); });
}

TFrmMain::~TFrmMain() {
  // Streaming must end before the picture, the grabber's handler or the window go away.
  callbackTicked_.store(false);
  FGVCap.SetActive(false);
  SampleGrabber.SetOnBuffer(nullptr);
  // The components unlink themselves; the graph outlives those declared after it and tells
  // the preview window, destroyed with the widgets, that it is gone.
  Picture.SetOnChanged(nullptr);
}

void TFrmMain::CreateControls() {
  setFixedSize(kClientWidth, kClientHeight);
  setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);

  Panel2 = Place(new TPanel(this), 0, 0, 280, kClientHeight);
  Panel2->setMinimumSize(280, 370);
  Panel2->SetBevels(TPanel::Bevel::Raised, TPanel::Bevel::None);

  Panel1 = Place(new TPanel(this), 280, 0, kClientWidth - 280, kClientHeight);
  Panel1->SetBevels(TPanel::Bevel::Raised, TPanel::Bevel::Lowered);
  QPalette black = Panel1->palette();
  black.setColor(QPalette::Window, Qt::black);
  Panel1->setPalette(black);
  const int bevel = Panel1->BevelWidth();
  Image = Place(new TImage(Picture, Panel1), bevel, bevel, kDisplayWidth, kDisplayHeight);
  Picture.SetOnChanged([image = Image] { image->RequestRepaint(); });

  OpenPlay = Place(new QPushButton(tr("启动采集"), Panel2), 8, 6, 66, 26);
  btnPause = Place(new QPushButton(tr("暂停"), Panel2), 75, 6, 37, 26);
  CallBack = Place(new QCheckBox(tr("同步显示"), Panel2), 206, 10, 71, 17);
  CallBack->setChecked(true);
  btnAddDir = Place(new QPushButton(tr("存储目录"), Panel2), 8, 33, 66, 26);
  btnGetPic = Place(new QPushButton(tr("捕获单张图片"), Panel2), 75, 33, 90, 26);
  btnGetPic->setEnabled(false);
  btnGetMorePic = Place(new QPushButton(tr(kIdleBurstCaption), Panel2), 166, 33, 108, 26);
  btnGetMorePic->setEnabled(false);
  for (QPushButton* button : {OpenPlay, btnPause, btnAddDir, btnGetPic, btnGetMorePic}) {
    button->setAutoDefault(false);
  }

  Label1 = new QLabel(tr("目录"), Panel2);
  Label1->move(8, 63);
  edFileDir = Place(new QLineEdit(Panel2), 36, 61, 239, 19);
  edFileDir->setText(DefaultStorageFolder());
  SoftBevel(edFileDir);

  Label2 =
      Place(new QLabel(tr("连续抓拍时，每秒       张，共拍        秒。"), Panel2), 8, 85, 258, 12);
  spPicNum = Place(new TSpinEdit(Panel2), 105, 82, 39, 21);
  spPicNum->SetMinValue(1);
  spPicNum->SetMaxValue(5);
  spPicNum->SetValue(1);
  spPicTime = Place(new TSpinEdit(Panel2), 199, 82, 40, 21);
  spPicTime->SetMinValue(1);
  spPicTime->SetMaxValue(60);
  spPicTime->SetMaxLength(4);
  spPicTime->SetValue(5);

  Label3 = new QLabel(tr("文件前缀"), Panel2);
  Label3->move(8, 109);
  edPreText = Place(new QLineEdit("voZU-", Panel2), 58, 107, 59, 18);
  SoftBevel(edPreText);
  Label4 = new QLabel(tr("起始编号"), Panel2);
  Label4->move(121, 109);
  spStartNum = Place(new TSpinEdit(Panel2), 168, 106, 40, 21);
  spStartNum->SetMinValue(1);
  spStartNum->SetNoMaximum();
  spStartNum->SetMaxLength(4);
  spStartNum->SetValue(1);
  Label5 = new QLabel(tr("位数"), Panel2);
  Label5->move(217, 109);
  spNumLen = Place(new TSpinEdit(Panel2), 243, 105, 34, 21);
  spNumLen->SetMinValue(1);
  spNumLen->SetMaxValue(6);
  spNumLen->SetMaxLength(4);
  spNumLen->SetValue(2);

  Label160 = new QLabel(tr("视频输入"), Panel2);
  Label160->move(6, 138);
  cbVCap = Place(new QComboBox(Panel2), 57, 134, 185, 20);
  cbVCap->setEditable(false);
  cbVCap->setCurrentIndex(-1);
  btnGetVCap = Place(new QToolButton(Panel2), 244, 133, 33, 22);
  btnGetVCap->setText(tr("刷新"));
  btnGetVCap->setFocusPolicy(Qt::NoFocus);
  btnGetVCap->setAutoRaise(true);

  lstFn = Place(new QListWidget(Panel2), 2, 164, 277, 65);
  lstFn->setUniformItemSizes(true);
  SoftBevel(lstFn, QStringLiteral("QListWidget::item { height: 12px; padding: 0px; }"));

  Panel4 = Place(new TPanel(Panel2), 1, 232, 278, 189);
  Panel4->SetBevels(TPanel::Bevel::None, TPanel::Bevel::Lowered);
  VWCap = new TVideoWindow(Panel4, "VWCap");
  VWCap->setGeometry(1, 1, 276, 187);
  VWCap->VMROptions().SetMode(TVMRVideoMode::vmrWindowed);
  VWCap->VMROptions().SetStreams(1);
  VWCap->VMROptions().SetPreferences({});

  for (QLabel* label : {Label1, Label2, Label3, Label4, Label5, Label160}) {
    label->adjustSize();
  }
  Label2->resize(258, 12);

  // Tab order as the window was laid out. A number field goes in whole, so Qt moves its editor
  // along with it; its editor alone would leave the field behind as a second stop.
  QWidget* order[] = {lstFn,     OpenPlay,      btnPause,  CallBack, btnAddDir,
                      btnGetPic, btnGetMorePic, edFileDir, spPicNum, spPicTime,
                      edPreText, spStartNum,    spNumLen,  VWCap,    cbVCap};
  for (size_t i = 1; i < std::size(order); ++i)
    setTabOrder(order[i - 1], order[i]);

  Filter.SetFilterGraph(&FGVCap);
  SampleGrabber.SetFilterGraph(&FGVCap);
  VWCap->SetFilterGraph(&FGVCap);
  // The preview draws from the display's picture while both show one frame.
  VWCap->SetPictureSource([image = QPointer<TImage>(Image)](const platform::VideoFrame& frame) {
    return image ? image->PictureOf(frame) : QImage();
  });
  FGVCap.SetMode(TGraphMode::gmCapture);
  FGVCap.SetGraphEdit(true);
  FGVCap.SetLinearVolume(true);

  Timer1.setTimerType(Qt::PreciseTimer);
  Timer1.setSingleShot(false);

  lstFn->setFocus();
}

void TFrmMain::ConnectHandlers() {
  GuardedConnect(OpenPlay, &QPushButton::clicked, this, [this] { OpenPlayClick(); });
  GuardedConnect(btnPause, &QPushButton::clicked, this, [this] { btnPauseClick(); });
  GuardedConnect(btnAddDir, &QPushButton::clicked, this, [this] { btnAddDirClick(); });
  GuardedConnect(btnGetVCap, &QToolButton::clicked, this, [this] { btnGetVCapClick(); });
  GuardedConnect(cbVCap, &QComboBox::activated, this, [this](int) { cbVCapChange(); });
  GuardedConnect(btnGetPic, &QPushButton::clicked, this, [this] { btnGetPicClick(); });
  GuardedConnect(btnGetMorePic, &QPushButton::clicked, this, [this] { btnGetMorePicClick(); });
  // Ticks go on while a modal window is open; their boxes wait for it to close.
  GuardedConnect(
      &Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); }, BoxTiming::AfterModalWindows);
  GuardedConnect(edFileDir, &QLineEdit::textChanged, this, [this] { edFileDirChange(); });
  GuardedConnect(edPreText, &QLineEdit::textChanged, this, [this] { edPreTextChange(); });
  GuardedConnect(spPicNum, &TSpinEdit::Changed, this, [this] { spPicNumChange(); });
  GuardedConnect(spPicTime, &TSpinEdit::Changed, this, [this] { spPicTimeChange(); });
  GuardedConnect(spNumLen, &TSpinEdit::Changed, this, [this] { spNumLenChange(); });
  GuardedConnect(spStartNum, &TSpinEdit::Changed, this, [this] { spStartNumChange(); });
  connect(CallBack, &QCheckBox::toggled, this, [this](bool ticked) { callbackTicked_ = ticked; });
  // Called by the graph under its own guard.
  FGVCap.OnDSEvent = [this](TFilterGraph&, int code, intptr_t, intptr_t) { FGVCapDSEvent(code); };
  SampleGrabber.SetOnBuffer(
      [this](TSampleGrabber& sender, double time, const void* buffer, int32_t length) {
        SampleGrabberBuffer(sender, time, buffer, length);
      });
  ConnectDeviceMenu();
}

// ---------------------------------------------------------------- creation and closing

void TFrmMain::FormCreate() {
  // The start-up picture: the display area's size in the screen's format (32 bits a pixel),
  // black. Nothing can stream yet, so no lock is taken.
  BITMAPINFOHEADER header;
  header.biWidth = kDisplayWidth;
  header.biHeight = -kDisplayHeight;  // top-down, like the screen
  header.biBitCount = 32;
  std::shared_ptr<Dib> surface = Dib::Create(header);
  std::memset(surface->Bits(), 0, surface->ImageSize());
  DrawStartupCaption(surface);
  Picture.Adopt(std::move(surface));
  LoadSettings();
  lstFn->clear();
  FillDeviceList();
}

void TFrmMain::DrawStartupCaption(const std::shared_ptr<Dib>& dib) {
  const QString line1 = Q(DateText(QDate::currentDate()) + " " + TimeText());
  auto paint = [line1](QPainter& painter) {
    // Pure red and nothing between, as the original's bitmap font drew it.
    QFont font = SongFont();
    font.setStyleStrategy(QFont::NoAntialias);
    painter.setFont(font);
    painter.setRenderHint(QPainter::TextAntialiasing, false);
    painter.setPen(QColor(255, 0, 0));
    painter.setBackgroundMode(Qt::TransparentMode);
    const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine;
    painter.drawText(QRect(10, 10, kDisplayWidth, kDisplayHeight), flags, line1);
    painter.drawText(QRect(10, 28, kDisplayWidth, kDisplayHeight), flags, "Stillwick");
  };
  {
    QImage surface = TImage::ImageOver(*dib);
    QPainter painter(&surface);
    paint(painter);
  }
  // The display draws the same caption again at the screen's resolution.
  Image->SetDrawnPicture(dib, paint);
}

void TFrmMain::closeEvent(QCloseEvent* event) {
  Guarded([this] { FormClose(); });
  event->accept();
}

void TFrmMain::FormClose() {
  CallBack->setChecked(false);  // its toggled handler clears the flag the streaming thread reads
  LetGoOfDeviceFrames();
  FGVCap.ResetGraph();
  FGVCap.SetActive(false);
}

// ---------------------------------------------------------------- settings

void TFrmMain::LoadSettings() {
  auto loadText = [](QLineEdit* field, const char* key) {
    const std::string value = ReadIniValueDef(IniFileName(), "START", key, S(field->text()));
    if (Q(value) != field->text())
      field->setText(Q(value));
  };
  auto loadNumber = [](TSpinEdit* field, const char* key) {
    const std::string value =
        ReadIniValueDef(IniFileName(), "START", key, std::to_string(field->Value()));
    field->SetValue(StrToInt(value));
  };
  loadText(edFileDir, "edFileDir");
  loadText(edPreText, "edPreText");
  loadNumber(spPicNum, "spPicNum");
  loadNumber(spPicTime, "spPicTime");
  loadNumber(spNumLen, "spNumLen");
  loadNumber(spStartNum, "spStartNum");
}

void TFrmMain::edFileDirChange() {
  WriteIniValue(IniFileName(), "START", "edFileDir", S(edFileDir->text()));
}
void TFrmMain::edPreTextChange() {
  WriteIniValue(IniFileName(), "START", "edPreText", S(edPreText->text()));
}
void TFrmMain::spPicNumChange() {
  WriteIniValue(IniFileName(), "START", "spPicNum", std::to_string(spPicNum->Value()));
}
void TFrmMain::spPicTimeChange() {
  WriteIniValue(IniFileName(), "START", "spPicTime", std::to_string(spPicTime->Value()));
}
void TFrmMain::spNumLenChange() {
  WriteIniValue(IniFileName(), "START", "spNumLen", std::to_string(spNumLen->Value()));
}
void TFrmMain::spStartNumChange() {
  WriteIniValue(IniFileName(), "START", "spStartNum", std::to_string(spStartNum->Value()));
}

// ---------------------------------------------------------------- devices

void TFrmMain::FillDeviceList() {
  DeviceEnumerator.reset();
  DeviceEnumerator = std::make_unique<TSysDevEnum>(CLSID_VideoInputDeviceCategory);
  cbVCap->clear();
  for (int i = 0; i < DeviceEnumerator->DeviceCount(); ++i) {
    cbVCap->addItem(Q(DeviceEnumerator->DeviceAt(i).FriendlyName));
  }
  // A name stored on a machine where the camera was listed otherwise (V4L2 without PipeWire)
  // still selects it; the listed name is written at the user's next pick. activated() is the
  // user's pick only, so this selection writes nothing.
  cbVCap->setCurrentIndex(DeviceEnumerator->IndexOfName(
      ReadIniValue(IniFileName(), "VideoCapture", "VideoCaptureName")));
  // Shown only while nothing is selected: an empty list says why.
  cbVCap->setPlaceholderText(cbVCap->count() == 0 ? tr("未找到视频设备") : QString());
  FollowDeviceList();
}

void TFrmMain::btnGetVCapClick() {
  FillDeviceList();
}

void TFrmMain::cbVCapChange() {
  WriteIniValue(IniFileName(), "VideoCapture", "VideoCaptureName", S(cbVCap->currentText()));
  FollowDeviceList();
}

// ---------------------------------------------------------------- device settings

void TFrmMain::ConnectDeviceMenu() {
  for (QWidget* widget : {static_cast<QWidget*>(cbVCap), static_cast<QWidget*>(VWCap)}) {
    widget->setContextMenuPolicy(Qt::CustomContextMenu);
    GuardedConnect(widget, &QWidget::customContextMenuRequested, this,
                   [this, widget](const QPoint& at) { ShowDeviceMenu(widget, at); });
  }
  // The menu key sends a context menu event by itself; Shift+F10 is that key's other name.
  auto* shiftF10 = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), cbVCap);
  shiftF10->setContext(Qt::WidgetShortcut);
  GuardedConnect(shiftF10, &QShortcut::activated, this,
                 [this] { ShowDeviceMenu(cbVCap, cbVCap->rect().center()); });
}

void TFrmMain::ShowDeviceMenu(QWidget* over, const QPoint& at) {
  QMenu menu(this);
  QAction* settings = menu.addAction(tr("设备设置…"));
  settings->setEnabled(cbVCap->currentIndex() >= 0);
  if (menu.exec(over->mapToGlobal(at)) == settings)
    OpenDeviceSettings();
}

TFrmDevSettings& TFrmMain::DeviceSettingsWindow() {
  if (!FrmDevSettings)
    FrmDevSettings = new TFrmDevSettings(this, [this] { return CaptureRunning(); });
  return *FrmDevSettings;
}

void TFrmMain::OpenDeviceSettings() {
  DeviceSettingsWindow();
  FrmDevSettings->show();
  FrmDevSettings->raise();
  FrmDevSettings->activateWindow();
  FollowDeviceList();
}

void TFrmMain::FollowDeviceList() {
  if (!FrmDevSettings || !FrmDevSettings->isVisible())
    return;
  const int selected = cbVCap->currentIndex();
  std::unique_ptr<platform::Moniker> moniker =
      selected >= 0 && DeviceEnumerator ? DeviceEnumerator->MonikerAt(selected) : nullptr;
  FrmDevSettings->ShowDevice(std::move(moniker), cbVCap->currentText());
}

// ---------------------------------------------------------------- capture

void TFrmMain::OpenPlayClick() {
  const int selected = cbVCap->currentIndex();
  if (selected >= 0) {
    LetGoOfDeviceFrames();
    FGVCap.ResetGraph();
    FGVCap.SetActive(false);
    std::unique_ptr<platform::Moniker> moniker =
        DeviceEnumerator ? DeviceEnumerator->MonikerAt(selected) : nullptr;
    Filter.BaseFilter().StoreMoniker(moniker.get());
    FGVCap.SetActive(true);
    TCaptureGraphBuilder& builder = FGVCap.CaptureGraphBuilder();
    auto* renderer = BaseFilterOf(*VWCap);
    auto* grabber = BaseFilterOf(SampleGrabber);
    auto* source = BaseFilterOf(Filter);
    builder.SetCaptureMode(moniker ? StoredCaptureMode(*moniker) : std::string());
    // A failure shows in the graph's state, which captures test. A device the builder opened
    // gets its stored controls before the first frame.
    if (builder.RenderStream(source, grabber, renderer) == S_OK && moniker)
      ApplyDeviceSettings(*moniker);
    FGVCap.Play();
    btnGetPic->setEnabled(true);
    btnGetMorePic->setEnabled(true);
  }
  lstFn->clear();
  lstFn->setFocus();
}

void TFrmMain::ApplyDeviceSettings(const platform::Moniker& moniker) {
  const std::string failure = ApplyStoredControls(moniker);
  if (!failure.empty())
    platform::LogLimited(lcUi(), "ApplyStoredControls", Q(failure));
  // Capture goes on with the device's own values; the settings window says which failed, now
  // or when it is opened.
  if (!failure.empty() || FrmDevSettings)
    DeviceSettingsWindow().NoteStart(moniker, Q(failure));
}

void TFrmMain::btnPauseClick() {
  switch (FGVCap.State()) {
    case GraphState::Paused:
      FGVCap.Play();
      btnPause->setText(tr("暂停"));
      break;
    case GraphState::Playing:
      FGVCap.Pause();
      btnPause->setText(tr("继续"));
      break;
    default:
      break;
  }
  lstFn->setFocus();
}

void TFrmMain::SampleGrabberBuffer(TSampleGrabber& sender, double, const void* buffer,
                                   int32_t bufferLen) noexcept {
  if (!callbackTicked_.load(std::memory_order_relaxed))
    return;
  try {
    // The grabber's buffer lock is held by our caller; the display lock is always taken inside
    // it.
    std::lock_guard displayLock(Picture);
    if (sender.StreamRun() == refusedRun_)
      return;
    // `buffer` is the frame being announced: the grabber knows it (by its address, on this
    // thread) and makes the frame itself the picture, by reference, instead of copying bytes.
    sender.CopyToBitmap(&Picture, buffer, bufferLen);
  } catch (const std::exception& e) {
    // No memory for the frame: the display keeps the picture it has, as for any frame that
    // cannot be converted.
    platform::LogLimited(lcUi(), "SampleGrabberBuffer",
                         QStringLiteral("frame not shown: ") + QString::fromUtf8(e.what()));
  }
}

void TFrmMain::FGVCapDSEvent(int code) {
  const bool ends = code == EC_COMPLETE || code == EC_ERRORABORT || code == EC_DEVICE_LOST;
  if (ends && !CaptureRunning())
    LetGoOfDeviceFrames();
}

void TFrmMain::LetGoOfDeviceFrames() {
  std::lock_guard displayLock(Picture);
  // Frames still coming from the stream that runs now (or ran last) would be held again. Only
  // that stream's: any later start is a run of its own, whose frames are shown, whatever order
  // the requests, the state changes and the graph's events come in.
  refusedRun_ = SampleGrabber.StreamRun();
  if (!Picture.LetGoOfFrames())
    platform::LogLimited(lcUi(), "display", QStringLiteral("the picture could not be copied"));
}

bool TFrmMain::CaptureRunning() const {
  const GraphState state = FGVCap.State();
  return state == GraphState::Paused || state == GraphState::Playing;
}

std::string TFrmMain::BuildPictureFileName(int32_t number) const {
  // A count typed below the field's minimum (it clamps only when it loses the focus) counts as
  // the minimum; a number with more digits than the count is written in full.
  const int64_t digits = std::max<int64_t>(spNumLen->Value(), spNumLen->MinValue());
  const int64_t wide = number;
  const std::string magnitude = std::to_string(wide < 0 ? -wide : wide);
  std::string numberText = number < 0 ? "-" : "";
  if (static_cast<int64_t>(magnitude.size()) < digits)
    numberText.append(static_cast<size_t>(digits) - magnitude.size(), '0');
  numberText += magnitude;
  std::string name = S(edFileDir->text());
  if (name.empty() || name.back() != '/')
    name += '/';
  return name + S(edPreText->text()) + numberText + ".bmp";
}

void TFrmMain::WriteDisplayPicture(const std::string& fileName) {
  // An empty folder text names no folder; without this test the name would point at "/".
  if (edFileDir->text().isEmpty())
    platform::RaiseCannotCreate(fileName, ENOENT);
  // The picture is never written again once adopted, so the reference holds one whole frame
  // and the file is written without keeping the streaming thread waiting at the lock.
  TBitmap::Ref picture = Picture.Snapshot();
  if (!picture)
    return;
  // A frame's full-size BGR pixels exist only for saves: computed here, once per frame.
  if (!picture->ComputeFramePixels())
    platform::RaiseCannotCreate(fileName, ENOMEM);
  platform::WriteBmpFile(fileName, *picture);
}

void TFrmMain::StopBurst() {
  Timer1.stop();
  btnGetMorePic->setText(tr(kIdleBurstCaption));
}

void TFrmMain::btnGetPicClick() {
  const std::string fileName = BuildPictureFileName(spStartNum->Value());
  lstFn->clear();
  if (CaptureRunning()) {
    StopBurst();
    WriteDisplayPicture(fileName);
    lstFn->addItem(Q(fileName));
  }
  lstFn->setFocus();
}

void TFrmMain::btnGetMorePicClick() {
  if (Timer1.isActive()) {
    StopBurst();
    lstFn->setFocus();
    return;
  }
  const QFileInfo folder(edFileDir->text());
  if (edFileDir->text().isEmpty() || !folder.isDir())
    return;
  btnGetMorePic->setText(tr(kRunningBurstCaption));
  BurstCounter = 0;
  BurstTotal = spPicTime->Value() * spPicNum->Value();
  lstFn->clear();
  Timer1.setInterval(1000 / spPicNum->Value());
  Timer1.start();
  lstFn->setFocus();
}

void TFrmMain::Timer1Timer() {
  // Wraps like the 32-bit arithmetic it stands for instead of overflowing.
  const auto number =
      static_cast<int32_t>(static_cast<int64_t>(spStartNum->Value()) + BurstCounter);
  const std::string fileName = BuildPictureFileName(number);
  lstFn->addItem(Q(fileName));
  try {
    SaveDisplayPicture(fileName);
  } catch (...) {
    // Going on would retry the same name at every tick and pile up error boxes.
    StopBurst();
    throw;
  }
  ++BurstCounter;
  if (BurstCounter >= BurstTotal)
    StopBurst();
}

void TFrmMain::SaveDisplayPicture(const std::string& fileName) {
  if (!CaptureRunning())
    return;
  WriteDisplayPicture(fileName);
}

// ---------------------------------------------------------------- folder chooser

void TFrmMain::btnAddDirClick() {
  if (!FrmSelDir)
    return;
  if (FrmSelDir->ShowModal() != 0) {
    edFileDir->setText(FrmSelDir->EdFileDirText());
    lstFn->setFocus();
  }
}

// ---------------------------------------------------------------- start-up

int RunStillwick(int argc, char** argv) {
  {
    // Read before any window system is needed, so --help works without a display.
    QCoreApplication core(argc, argv);
    QCoreApplication::setApplicationName("Stillwick");
    QCoreApplication::setApplicationVersion(STILLWICK_VERSION);
    const CommandLineOutcome command = ParseCommandLine(QCoreApplication::arguments());
    if (command.exitStatus >= 0) {
      std::fputs(command.out.toLocal8Bit().constData(), stdout);
      std::fputs(command.err.toLocal8Bit().constData(), stderr);
      return command.exitStatus;
    }
  }
  QApplication app(argc, argv);
  platform::InitializeDiagnostics();
  InstallTranslation(app);
  QApplication::setApplicationName("Stillwick");
  QApplication::setApplicationVersion(STILLWICK_VERSION);
  // Wayland shows no window icons: the compositor finds the icon through the desktop entry.
  QGuiApplication::setDesktopFileName("stillwick");
  SetErrorPresenter([](const std::string& message) {
    MakeErrorMessageBox(QApplication::activeWindow(), message)->exec();
  });
  const bool ready = InitializePublic(S(QCoreApplication::applicationFilePath()),
                                      HighResolutionCounterPresent, [](const std::string& message) {
                                        QMessageBox::information(nullptr, "Stillwick", Q(message),
                                                                 QMessageBox::Ok);
                                      });
  if (!ready)
    return 1;

  platform::InitializeMedia(argc, argv);

  TFrmMain main;
  // Created right after the main window, hidden, and reused for every opening.
  TFrmSelDir chooser(&main);
  FrmSelDir = &chooser;
  // kill, Ctrl-C and a logout close the window as the user would, then leave every event loop.
  platform::TerminationSignals termination([&main](int) {
    main.close();
    QCoreApplication::exit(0);
  });
  CentreOnScreen(main);
  main.show();
  main.lstFn->setFocus();
  return QApplication::exec();
}
