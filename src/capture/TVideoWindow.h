#pragma once
// The preview window: a focusable black control that contributes the video renderer to the
// capture graph and lays the renderer's window exactly over itself while the graph plays.
// Main thread only (the public entries assert it); the renderer draws from frames it is handed
// and never touches this control.

#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>

#include "capture/LinkedFilter.h"
#include "capture/TFilterGraph.h"
#include "capture/TLinkedComponent.h"
#include "capture/TVMROptions.h"
#include "platform/media/VideoRendererSurface.h"

namespace platform {
class RendererElement;
class RendererVideoWindow;
}  // namespace platform

// Only the plain renderer exists on this platform; the mode is kept as a setting.
enum class TVideoMode { vmNormal, vmVMR };

class TVideoWindow : public QWidget, public TLinkedComponent, public IGraphListener {
  Q_OBJECT

 public:
  TVideoWindow(QWidget* parent, std::string name);
  // Unlinks from the graph (which takes the renderer out if the graph is active).
  ~TVideoWindow() override;
  TVideoWindow(const TVideoWindow&) = delete;
  TVideoWindow& operator=(const TVideoWindow&) = delete;

  const std::string& Name() const noexcept { return name_; }
  TVideoMode Mode() const noexcept { return mode_; }
  void SetMode(TVideoMode mode) noexcept { mode_ = mode; }
  TVMROptions& VMROptions() noexcept { return vmrOptions_; }
  const TVMROptions& VMROptions() const noexcept { return vmrOptions_; }
  // Full screen is not offered here: the window is always placed over the control.
  bool FullScreen() const noexcept { return fullScreen_; }
  bool FullScreenTopMost() const noexcept { return fullScreenTopMost_; }
  void SetFullScreenTopMost(bool topMost) noexcept { fullScreenTopMost_ = topMost; }

  // While a renderer is held: the renderer's window among the parent's children, found by
  // its "VideoRenderer" name and the title this control gave it. Otherwise, or when not
  // found, the control itself.
  QWidget* VideoHandle() const;

  // Given to every renderer this control holds: another view's picture of the frame the
  // renderer draws, so the frame is not scaled twice.
  void SetPictureSource(platform::VideoRendererSurface::PictureSource source);

  // The renderer element, or null. Borrowed.
  GstElement* GetBaseFilter() override;
  std::string GetFilterName() override { return name_; }
  void NotifyFilterOperation(FilterOperation operation, int param) override;

  void GraphEventReceived(int code, intptr_t param1, intptr_t param2) override;
  void ControlEventReceived(ControlEvent event, int param) override;

  // Shows or hides the renderer's window along with the control.
  void setVisible(bool visible) override;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;

 private:
  bool RendererConnected() const;
  // Lays the renderer's window over the control, in the parent's coordinates.
  void PlaceVideoWindow();
  void SetCaptionAndDrain();
  void FollowGeometry();

  std::string name_;
  TVideoMode mode_ = TVideoMode::vmNormal;
  TVMROptions vmrOptions_;
  bool fullScreen_ = false;
  bool fullScreenTopMost_ = false;
  platform::VideoRendererSurface::PictureSource pictureSource_;
  std::unique_ptr<platform::RendererElement> renderer_;   // from AboutToAdd until Removed
  platform::RendererVideoWindow* videoWindow_ = nullptr;  // from Added until Removed
};
