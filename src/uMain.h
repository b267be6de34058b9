#pragma once
// The main window and the program's start-up.

#include <QTimer>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "capture/TFilter.h"
#include "capture/TFilterGraph.h"
#include "capture/TSampleGrabber.h"
#include "capture/TSysDevEnum.h"
#include "capture/TVideoWindow.h"
#include "platform/picture/TBitmap.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QToolButton;
class TImage;
class TPanel;
class Dib;
class TSpinEdit;
class TFrmDevSettings;

class TFrmMain : public QWidget {
  Q_OBJECT
 public:
  explicit TFrmMain(QWidget* parent = nullptr);
  ~TFrmMain() override;

  // Handlers. All run on the main thread, through the error-box guard, except
  // SampleGrabberBuffer.
  void FormCreate();
  void FormClose();
  void OpenPlayClick();
  void btnPauseClick();
  void btnAddDirClick();
  void btnGetVCapClick();
  void cbVCapChange();
  void btnGetPicClick();
  void btnGetMorePicClick();
  void Timer1Timer();
  void edFileDirChange();
  void edPreTextChange();
  void spPicNumChange();
  void spPicTimeChange();
  void spNumLenChange();
  void spStartNumChange();
  // Runs on the streaming thread, once per frame, under the grabber's buffer lock.
  // Must not touch widgets, block on the main thread, or throw.
  void SampleGrabberBuffer(TSampleGrabber& sender, double sampleTime, const void* buffer,
                           int32_t bufferLen) noexcept;

  // The full path of the picture file for `number`, from the current field values.
  std::string BuildPictureFileName(int32_t number) const;

  // Controls, named as the window's components.
  TPanel* Panel1 = nullptr;
  TPanel* Panel2 = nullptr;
  TPanel* Panel4 = nullptr;
  TImage* Image = nullptr;
  QPushButton* OpenPlay = nullptr;
  QPushButton* btnPause = nullptr;
  QCheckBox* CallBack = nullptr;
  QPushButton* btnAddDir = nullptr;
  QPushButton* btnGetPic = nullptr;
  QPushButton* btnGetMorePic = nullptr;
  QLabel* Label1 = nullptr;
  QLineEdit* edFileDir = nullptr;
  QLabel* Label2 = nullptr;
  TSpinEdit* spPicNum = nullptr;
  TSpinEdit* spPicTime = nullptr;
  QLabel* Label3 = nullptr;
  QLineEdit* edPreText = nullptr;
  QLabel* Label4 = nullptr;
  TSpinEdit* spStartNum = nullptr;
  QLabel* Label5 = nullptr;
  TSpinEdit* spNumLen = nullptr;
  QLabel* Label160 = nullptr;
  QComboBox* cbVCap = nullptr;
  QToolButton* btnGetVCap = nullptr;
  QListWidget* lstFn = nullptr;

  // Non-visual components. The graph is declared first so it is destroyed last.
  TFilterGraph FGVCap{"FGVCap"};
  TFilter Filter{"Filter"};
  TSampleGrabber SampleGrabber{"SampleGrabber"};
  TVideoWindow* VWCap = nullptr;
  QTimer Timer1;

  // The display picture with its lock.
  TBitmap Picture;

  // Burst state.
  int32_t BurstCounter = 0;
  int32_t BurstTotal = 0;

  std::unique_ptr<TSysDevEnum> DeviceEnumerator;

  // The device settings window, made at its first opening; a window of its own over this one.
  TFrmDevSettings* FrmDevSettings = nullptr;
  // The context menu of the device list and the preview: "设备设置…" for the selected device.
  void ShowDeviceMenu(QWidget* over, const QPoint& at);
  void OpenDeviceSettings();
  TFrmDevSettings& DeviceSettingsWindow();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateControls();
  void ConnectHandlers();
  // Draws on the start-up picture before it becomes the display picture, and has the display
  // draw it the same way.
  void DrawStartupCaption(const std::shared_ptr<Dib>& dib);
  void LoadSettings();
  void FillDeviceList();
  void SaveDisplayPicture(const std::string& fileName);
  // Writes the picture held now, if any; the display lock is held only to take the reference.
  void WriteDisplayPicture(const std::string& fileName);
  void StopBurst();
  bool CaptureRunning() const;
  void ConnectDeviceMenu();
  // The settings window follows the device list's selection.
  void FollowDeviceList();
  void ApplyDeviceSettings(const platform::Moniker& moniker);
  // A graph event: a graph that an error or the end of its stream stopped has its frames let go.
  void FGVCapDSEvent(int code);
  // Before the graph is taken down, and after it stopped on its own: the display keeps its
  // picture as a copy of its own and takes no frame of that stream any more. A device's element
  // should find none of its buffers out when it stops: one still out keeps the element's buffer
  // pool, and with it the device, open.
  void LetGoOfDeviceFrames();

  // The tick of "同步显示", mirrored for the streaming thread, which reads it without a lock.
  std::atomic<bool> callbackTicked_{true};
  // The run of the grabber's stream whose frames the display let go of (0: none): its frames
  // still coming are not shown. Guarded by the display lock.
  std::uint64_t refusedRun_ = 0;
};

// Start-up: the counter check, the application, the main window, the folder chooser, the
// message loop. Returns the exit status.
int RunStillwick(int argc, char** argv);
