#include "uFrmDevSettings.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSlider>
#include <QSocketNotifier>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <charconv>
#include <climits>
#include <optional>

#include "platform/files/ProfileFile.h"
#include "platform/media/CaptureMode.h"
#include "platform/runtime/ErrorBox.h"
#include "utPublic.h"

using platform::ControlInfo;
using platform::ControlKind;

namespace {

constexpr char kModeKey[] = "Mode";

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

TFrmDevSettings::ControlsOpener& Opener() {
  static TFrmDevSettings::ControlsOpener opener = platform::OpenDeviceControls;
  return opener;
}

// A stored value as a number; nothing for an empty value (forgotten) or other text.
std::optional<std::int64_t> StoredNumber(const std::optional<std::string>& text) {
  if (!text || text->empty())
    return std::nullopt;
  std::int64_t value = 0;
  const char* end = text->data() + text->size();
  const auto [at, error] = std::from_chars(text->data(), end, value);
  if (error != std::errc() || at != end)
    return std::nullopt;
  return value;
}

int ToInt(std::int64_t value) {
  return static_cast<int>(std::clamp<std::int64_t>(value, INT_MIN, INT_MAX));
}

}  // namespace

std::string DeviceSettingsSection(const platform::Moniker& moniker) {
  std::string identity = moniker.Identity();
  // A "]" would end the section's name early; a line break would start another line.
  std::replace_if(
      identity.begin(), identity.end(), [](char c) { return c == ']' || c == '\r' || c == '\n'; },
      '_');
  return "Device " + identity;
}

std::string StoredCaptureMode(const platform::Moniker& moniker) {
  return ReadIniValue(IniFileName(), DeviceSettingsSection(moniker), kModeKey);
}

std::string ApplyStoredControls(const platform::Moniker& moniker) {
  const std::string section = DeviceSettingsSection(moniker);
  const platform::ProfileFile file(IniFileName());
  const std::vector<std::string> keys = file.Keys(section);
  // Nothing stored: the device is not even opened a second time.
  if (std::all_of(keys.begin(), keys.end(), [](const std::string& k) { return k == kModeKey; }))
    return {};
  std::string failure;
  std::unique_ptr<platform::DeviceControls> controls = Opener()(moniker, failure);
  if (!controls)
    return failure;
  platform::ControlResult listed;
  const std::vector<ControlInfo> all = controls->List(listed);
  if (!listed)
    return listed.failure;
  for (const ControlInfo& control : all) {
    const std::string key = platform::ControlKey(control.name);
    if (!control.Storable() || key.empty())
      continue;
    const std::optional<std::int64_t> stored = StoredNumber(file.Read(section, key));
    if (!stored)
      continue;
    const std::int64_t value = platform::ClampToControl(control, *stored);
    if (value == control.value)
      continue;
    std::int64_t actual = value;
    const platform::ControlResult result = controls->Set(control, value, actual);
    if (!result)
      failure += (failure.empty() ? "" : "; ") + result.failure;
    if (result.deviceGone)
      break;
  }
  return failure;
}

// ---------------------------------------------------------------------------------------------

struct TFrmDevSettings::Row {
  ControlInfo info;
  std::string key;
  QLabel* label = nullptr;
  QSlider* slider = nullptr;
  QSpinBox* number = nullptr;
  QCheckBox* check = nullptr;
  QComboBox* list = nullptr;
  QPushButton* button = nullptr;
  bool gone = false;
};

TFrmDevSettings::TFrmDevSettings(QWidget* owner, std::function<bool()> captureRunning)
    : QWidget(owner, Qt::Window), captureRunning_(std::move(captureRunning)) {
  setObjectName("FrmDevSettings");
  resize(460, 420);
  auto* layout = new QVBoxLayout(this);
  auto* modeRow = new QHBoxLayout;
  modeRow->addWidget(new QLabel(tr("画面格式"), this));
  cbMode = new QComboBox(this);
  modeRow->addWidget(cbMode, 1);
  layout->addLayout(modeRow);

  scroll_ = new QScrollArea(this);
  scroll_->setWidgetResizable(true);
  layout->addWidget(scroll_, 1);

  lblNone = new QLabel(tr("该设备没有可调的设置。"), this);
  lblNone->hide();
  layout->addWidget(lblNone);
  lblStatus = new QLabel(this);
  lblStatus->setWordWrap(true);
  layout->addWidget(lblStatus);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  btnDefaults = new QPushButton(tr("默认值"), this);
  btnClose = new QPushButton(tr("关闭"), this);
  buttons->addWidget(btnDefaults);
  buttons->addWidget(btnClose);
  layout->addLayout(buttons);

  ClearControls();
  GuardedConnect(cbMode, &QComboBox::activated, this, [this](int) { ModeChosen(); });
  GuardedConnect(btnDefaults, &QPushButton::clicked, this, [this] { DefaultsClick(); });
  connect(btnClose, &QPushButton::clicked, this, &QWidget::close);
}

TFrmDevSettings::~TFrmDevSettings() = default;

void TFrmDevSettings::SetControlsOpenerForTesting(ControlsOpener opener) {
  Opener() = opener ? std::move(opener) : platform::OpenDeviceControls;
}

QWidget* TFrmDevSettings::ControlWidget(const std::string& key) const {
  for (const auto& row : rows_) {
    if (row->key != key)
      continue;
    if (row->number)
      return row->number;
    if (row->check)
      return row->check;
    if (row->list)
      return row->list;
    return row->button;
  }
  return nullptr;
}

void TFrmDevSettings::ShowStatus(const QString& text) {
  lblStatus->setText(text);
}

void TFrmDevSettings::NoteStart(const platform::Moniker& device, const QString& failure) {
  startSection_ = DeviceSettingsSection(device);
  startFailure_ = failure;
  ShowStartFailure(false);
}

void TFrmDevSettings::ShowStartFailure(bool belowStatus) {
  if (startFailure_.isEmpty() || !moniker_ || DeviceSettingsSection(*moniker_) != startSection_)
    return;
  const QString line = tr("启动采集时未能设置：%1").arg(startFailure_);
  ShowStatus(belowStatus && !lblStatus->text().isEmpty() ? lblStatus->text() + "\n" + line : line);
}

void TFrmDevSettings::ShowDevice(std::unique_ptr<platform::Moniker> moniker, const QString& name) {
  setWindowTitle(tr("设备设置 - %1").arg(name));
  moniker_ = std::move(moniker);
  ShowStatus({});
  if (!moniker_) {
    DeviceGone(tr("设备已不在。"));
    return;
  }
  Rebuild();
  // Below what the window found itself, if anything.
  ShowStartFailure(true);
}

void TFrmDevSettings::ClearControls() {
  events_.reset();  // before the descriptor it watches
  controls_.reset();
  rows_.clear();
  // The scroll area deletes the holder it had, and the rows' widgets with it.
  rowsHolder_ = new QWidget;
  grid_ = new QGridLayout(rowsHolder_);
  grid_->setAlignment(Qt::AlignTop);
  grid_->setColumnStretch(1, 1);
  scroll_->setWidget(rowsHolder_);
}

void TFrmDevSettings::Rebuild() {
  ClearControls();
  const std::string stored = StoredCaptureMode(*moniker_);
  cbMode->clear();
  cbMode->addItem(tr("自动(最大画面)"), QString());
  for (const platform::CaptureModeEntry& mode : platform::DeviceCaptureModes(*moniker_)) {
    cbMode->addItem(Q(mode.label), Q(mode.key));
    if (mode.key == stored)
      cbMode->setCurrentIndex(cbMode->count() - 1);
  }
  cbMode->setEnabled(true);

  std::string failure;
  controls_ = Opener()(*moniker_, failure);
  std::vector<ControlInfo> listed;
  if (controls_) {
    platform::ControlResult result;
    listed = controls_->List(result);
    if (!result)
      failure = result.failure;
  }
  for (const ControlInfo& control : listed)
    AddRow(control);
  lblNone->setVisible(rows_.empty() && failure.empty());
  btnDefaults->setEnabled(!rows_.empty());
  ShowStatus(Q(failure));
  if (controls_ && controls_->EventDescriptor() >= 0) {
    // The driver's events make the descriptor ready for priority data: read when they come,
    // never waited for.
    events_ =
        std::make_unique<QSocketNotifier>(controls_->EventDescriptor(), QSocketNotifier::Exception);
    GuardedConnect(events_.get(), &QSocketNotifier::activated, this, [this] { TakeChanges(); });
  }
}

void TFrmDevSettings::AddRow(const ControlInfo& control) {
  auto row = std::make_unique<Row>();
  row->info = control;
  row->key = platform::ControlKey(control.name);
  const std::size_t index = rows_.size();
  const int line = static_cast<int>(index);
  row->label = new QLabel(Q(control.name), rowsHolder_);
  grid_->addWidget(row->label, line, 0);
  switch (control.kind) {
    case ControlKind::Integer: {
      row->slider = new QSlider(Qt::Horizontal, rowsHolder_);
      row->number = new QSpinBox(rowsHolder_);
      row->slider->setRange(ToInt(control.minimum), ToInt(control.maximum));
      row->slider->setSingleStep(ToInt(control.step));
      row->number->setRange(ToInt(control.minimum), ToInt(control.maximum));
      row->number->setSingleStep(ToInt(control.step));
      // One change when the number is entered, not one per digit typed.
      row->number->setKeyboardTracking(false);
      grid_->addWidget(row->slider, line, 1);
      grid_->addWidget(row->number, line, 2);
      QSlider* slider = row->slider;
      GuardedConnect(slider, &QSlider::valueChanged, this,
                     [this, index](int value) { Change(index, value); });
      // A drag is stored where it ends, not at every step on the way.
      GuardedConnect(slider, &QSlider::sliderReleased, this, [this, index] {
        if (rows_[index]->info.Storable() && !rows_[index]->gone)
          Store(*rows_[index]);
      });
      GuardedConnect(row->number, &QSpinBox::valueChanged, this,
                     [this, index](int value) { Change(index, value); });
      break;
    }
    case ControlKind::Boolean:
      row->check = new QCheckBox(rowsHolder_);
      grid_->addWidget(row->check, line, 1, 1, 2);
      GuardedConnect(row->check, &QCheckBox::toggled, this,
                     [this, index](bool on) { Change(index, on ? 1 : 0); });
      break;
    case ControlKind::Menu:
    case ControlKind::IntegerMenu:
      row->list = new QComboBox(rowsHolder_);
      for (const platform::ControlMenuItem& item : control.menu)
        row->list->addItem(Q(item.label), QVariant::fromValue<qlonglong>(item.value));
      grid_->addWidget(row->list, line, 1, 1, 2);
      GuardedConnect(row->list, &QComboBox::activated, this, [this, index](int at) {
        Change(index, rows_[index]->list->itemData(at).toLongLong());
      });
      break;
    case ControlKind::Button:
      row->button = new QPushButton(Q(control.name), rowsHolder_);
      row->label->clear();
      grid_->addWidget(row->button, line, 1, 1, 2);
      GuardedConnect(row->button, &QPushButton::clicked, this, [this, index] { Change(index, 1); });
      break;
  }
  rows_.push_back(std::move(row));
  ShowValue(*rows_.back());
}

void TFrmDevSettings::ShowValue(Row& row) {
  const ControlInfo& c = row.info;
  const bool enabled = !row.gone && !c.readOnly && !c.inactive;
  row.label->setEnabled(enabled);
  if (row.slider) {
    const QSignalBlocker a(row.slider), b(row.number);
    row.slider->setValue(ToInt(c.value));
    row.number->setValue(ToInt(c.value));
    row.slider->setEnabled(enabled);
    row.number->setEnabled(enabled);
  }
  if (row.check) {
    const QSignalBlocker blocker(row.check);
    row.check->setChecked(c.value != 0);
    row.check->setEnabled(enabled);
  }
  if (row.list) {
    const QSignalBlocker blocker(row.list);
    row.list->setCurrentIndex(row.list->findData(QVariant::fromValue<qlonglong>(c.value)));
    row.list->setEnabled(enabled);
  }
  if (row.button)
    row.button->setEnabled(enabled);
}

void TFrmDevSettings::Change(std::size_t index, std::int64_t value) {
  Row& row = *rows_[index];
  if (!controls_ || row.gone)
    return;
  const std::int64_t wanted = platform::ClampToControl(row.info, value);
  std::int64_t actual = wanted;
  const platform::ControlResult result = controls_->Set(row.info, wanted, actual);
  if (row.info.kind != ControlKind::Button)
    row.info.value = actual;
  ShowValue(row);
  if (!result) {
    // The control shows what the driver holds; the line says why that is not what was asked.
    ShowStatus(Q(result.failure));
    if (result.deviceGone)
      DeviceGone(Q(result.failure));
    return;
  }
  ShowStatus({});
  if (row.info.Storable() && !(row.slider && row.slider->isSliderDown()))
    Store(row);
}

void TFrmDevSettings::Store(const Row& row) {
  if (!moniker_ || row.key.empty())
    return;
  WriteIniValue(IniFileName(), DeviceSettingsSection(*moniker_), row.key,
                std::to_string(row.info.value));
}

void TFrmDevSettings::ModeChosen() {
  if (!moniker_)
    return;
  WriteIniValue(IniFileName(), DeviceSettingsSection(*moniker_), kModeKey,
                cbMode->currentData().toString().toStdString());
  if (captureRunning_ && captureRunning_())
    ShowStatus(tr("下次启动采集时生效"));
}

void TFrmDevSettings::DefaultsClick() {
  if (!moniker_ || !controls_)
    return;
  const std::string section = DeviceSettingsSection(*moniker_);
  const platform::ProfileFile file(IniFileName());
  std::string failure;
  for (const auto& row : rows_) {
    if (!row->info.Storable() || row->gone)
      continue;
    std::int64_t actual = row->info.defaultValue;
    const platform::ControlResult result =
        controls_->Set(row->info, row->info.defaultValue, actual);
    row->info.value = actual;
    ShowValue(*row);
    if (!result && failure.empty())
      failure = result.failure;
    // Forgotten: an empty value is no value, and a key never stored stays absent.
    if (!row->key.empty() && file.Read(section, row->key))
      WriteIniValue(IniFileName(), section, row->key, "");
    if (result.deviceGone) {
      DeviceGone(Q(result.failure));
      break;
    }
  }
  ShowStatus(Q(failure));
}

void TFrmDevSettings::TakeChanges() {
  if (!controls_)
    return;
  for (const platform::ControlChange& change : controls_->TakeChanges()) {
    for (auto& row : rows_) {
      if (row->info.id != change.id)
        continue;
      if (change.valueChanged && row->info.kind != ControlKind::Button)
        row->info.value = change.value;
      if (change.flagsChanged) {
        row->info.inactive = change.inactive;
        row->info.readOnly = change.readOnly;
      }
      ShowValue(*row);
    }
  }
}

void TFrmDevSettings::DeviceGone(const QString& why) {
  events_.reset();
  controls_.reset();
  for (auto& row : rows_) {
    row->gone = true;
    ShowValue(*row);
  }
  cbMode->setEnabled(moniker_ != nullptr);
  btnDefaults->setEnabled(false);
  ShowStatus(why);
}

void TFrmDevSettings::closeEvent(QCloseEvent* event) {
  // A closed window holds no descriptor of the device.
  ClearControls();
  lblNone->hide();
  event->accept();
}
