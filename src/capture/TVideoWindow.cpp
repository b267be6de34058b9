#include "capture/TVideoWindow.h"

#include <QPalette>

#include "platform/media/RendererElement.h"
#include "platform/runtime/Threads.h"

using platform::AssertMainThread;

TVideoWindow::TVideoWindow(QWidget* parent, std::string name)
    : QWidget(parent), name_(std::move(name)) {
  setObjectName(QString::fromStdString(name_));
  setFocusPolicy(Qt::StrongFocus);
  QPalette black = palette();
  black.setColor(QPalette::Window, Qt::black);
  setPalette(black);
  setAutoFillBackground(true);
  resize(160, 120);
}

TVideoWindow::~TVideoWindow() {
  AssertMainThread();
  SetFilterGraph(nullptr);
}

GstElement* TVideoWindow::GetBaseFilter() {
  return renderer_ ? renderer_->Element() : nullptr;
}

QWidget* TVideoWindow::VideoHandle() const {
  AssertMainThread();
  if (videoWindow_ && parentWidget()) {
    const QString title = QString::fromStdString(name_);
    const auto candidates = parentWidget()->findChildren<QWidget*>(
        QString::fromLatin1(platform::VideoRendererSurface::kObjectName),
        Qt::FindDirectChildrenOnly);
    for (QWidget* candidate : candidates) {
      if (candidate->windowTitle() == title)
        return candidate;
    }
  }
  return const_cast<TVideoWindow*>(this);
}

void TVideoWindow::SetPictureSource(platform::VideoRendererSurface::PictureSource source) {
  AssertMainThread();
  pictureSource_ = std::move(source);
  if (videoWindow_)
    videoWindow_->PutPictureSource(pictureSource_);
}

void TVideoWindow::NotifyFilterOperation(FilterOperation operation, int /*param*/) {
  AssertMainThread();
  switch (operation) {
    case FilterOperation::AboutToAdd:
      videoWindow_ = nullptr;
      renderer_.reset();
      renderer_ = std::make_unique<platform::RendererElement>();
      break;
    case FilterOperation::Added:
      videoWindow_ = renderer_ ? &renderer_->VideoWindow() : nullptr;
      if (videoWindow_)
        videoWindow_->PutPictureSource(pictureSource_);
      break;
    case FilterOperation::AboutToRemove:
      if (renderer_) {
        renderer_->Stop();
        renderer_->DisconnectPads();
      }
      break;
    case FilterOperation::Removed:
      videoWindow_ = nullptr;
      renderer_.reset();
      break;
  }
}

bool TVideoWindow::RendererConnected() const {
  return renderer_ && renderer_->HasConnectedPad();
}

void TVideoWindow::PlaceVideoWindow() {
  if (videoWindow_ && RendererConnected()) {
    videoWindow_->PutOwner(parentWidget());
    const QRect bounds = geometry();
    videoWindow_->SetWindowPosition(bounds.x(), bounds.y(), bounds.width(), bounds.height());
  }
  fullScreen_ = false;
}

void TVideoWindow::SetCaptionAndDrain() {
  if (!name_.empty())
    videoWindow_->PutCaption(QString::fromStdString(name_));
  videoWindow_->PutMessageDrain(this);
}

void TVideoWindow::ControlEventReceived(ControlEvent event, int /*param*/) {
  AssertMainThread();
  // Before the graph stops: a device's buffers are best all back when its source stops.
  if (event == ControlEvent::StopRequested && renderer_)
    renderer_->LetGoOfFrames();
  if (event != ControlEvent::PlayRequested)
    return;
  if (videoWindow_ && RendererConnected()) {
    PlaceVideoWindow();
    SetCaptionAndDrain();
  }
}

void TVideoWindow::GraphEventReceived(int code, intptr_t /*param1*/, intptr_t /*param2*/) {
  AssertMainThread();
  if (!videoWindow_)
    return;
  if (code == EC_PALETTE_CHANGED) {
    PlaceVideoWindow();
    SetCaptionAndDrain();
  } else if (code == EC_VMR_RENDERDEVICE_SET && vmrOptions_.Mode() == TVMRVideoMode::vmrWindowed) {
    SetCaptionAndDrain();
  }
}

void TVideoWindow::setVisible(bool visible) {
  AssertMainThread();
  QWidget::setVisible(visible);
  if (videoWindow_)
    videoWindow_->PutVisible(visible);
}

void TVideoWindow::FollowGeometry() {
  if (videoWindow_ && !fullScreen_) {
    const QRect bounds = geometry();
    videoWindow_->SetWindowPosition(bounds.x(), bounds.y(), bounds.width(), bounds.height());
  }
}

void TVideoWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FollowGeometry();
}

// A move alone must carry the video along as well, or it would be left behind the control.
void TVideoWindow::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  FollowGeometry();
}
