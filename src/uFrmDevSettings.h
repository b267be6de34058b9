#pragma once
// The device settings window: the picture format a device captures in and its driver's own
// controls, kept per device in the settings file and applied at every start of capture.
//
// Settings file: section "Device " + the device's identity (its serial, else its bus path,
// else its name, as the moniker binds by); a key per control the user changed, in v4l2-ctl's
// spelling of the driver's name ("exposure_time_absolute"), and "Mode" for the chosen mode.
// "Defaults" empties the controls' values: an empty value is no value. Keys the device does
// not know stay in the file untouched.

#include <QSocketNotifier>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/media/DeviceControls.h"
#include "platform/media/Moniker.h"

class QComboBox;
class QGridLayout;
class QLabel;
class QPushButton;
class QScrollArea;

// "Device " + the device's identity (Moniker::Identity).
std::string DeviceSettingsSection(const platform::Moniker& moniker);
// The stored mode's key; empty for "automatic" (the largest picture).
std::string StoredCaptureMode(const platform::Moniker& moniker);
// The stored control values set on the device, each brought into the control's range; unknown
// keys are passed over. Call after the device opened and before frames flow. Returns what
// failed, every failure in the driver's order (empty when nothing did).
std::string ApplyStoredControls(const platform::Moniker& moniker);

class TFrmDevSettings : public QWidget {
  Q_OBJECT
 public:
  using ControlsOpener = std::function<std::unique_ptr<platform::DeviceControls>(
      const platform::Moniker& moniker, std::string& failure)>;

  // A window of its own over `owner`; `captureRunning` tells whether a mode chosen now waits
  // for the next start.
  TFrmDevSettings(QWidget* owner, std::function<bool()> captureRunning);
  ~TFrmDevSettings() override;

  // The device the device list selects: its settings, or (null) that it is gone.
  void ShowDevice(std::unique_ptr<platform::Moniker> moniker, const QString& name);
  void ShowStatus(const QString& text);
  // What a start of capture of `device` could not set (empty: it set everything), said in the
  // status line while this window shows that device, and whenever it shows it again, until
  // the next start says otherwise. A failed start leaves the device with its own values and
  // capture runs on, so it is no reason for a box.
  void NoteStart(const platform::Moniker& device, const QString& failure);

  // Tests reach a device through a driver of their own.
  static void SetControlsOpenerForTesting(ControlsOpener opener);

  QComboBox* cbMode = nullptr;
  QPushButton* btnDefaults = nullptr;
  QPushButton* btnClose = nullptr;
  QLabel* lblStatus = nullptr;
  QLabel* lblNone = nullptr;  // "no settings to adjust"

  // The widget of the control stored as `key` (a slider's number field, a check box, a list,
  // a button), or null.
  QWidget* ControlWidget(const std::string& key) const;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  struct Row;
  void Rebuild();
  void ClearControls();
  void AddRow(const platform::ControlInfo& control);
  void ModeChosen();
  void Change(std::size_t row, std::int64_t value);
  void DefaultsClick();
  void TakeChanges();
  void ShowValue(Row& row);
  void DeviceGone(const QString& why);
  void Store(const Row& row);
  void ShowStartFailure(bool belowStatus);

  std::function<bool()> captureRunning_;
  std::unique_ptr<platform::Moniker> moniker_;
  std::unique_ptr<platform::DeviceControls> controls_;
  std::vector<std::unique_ptr<Row>> rows_;
  QScrollArea* scroll_ = nullptr;
  QWidget* rowsHolder_ = nullptr;  // the scroll area's; replaced whole with every device
  QGridLayout* grid_ = nullptr;
  std::unique_ptr<QSocketNotifier> events_;  // watches controls_'s descriptor
  std::string startSection_;                 // the device of startFailure_
  QString startFailure_;
};
