#pragma once
// The options of the mixing renderer mode of the preview window. This platform has one
// renderer only, so the values are kept for the window's settings and, apart from Mode (which
// decides whether the window answers a render-device event), change nothing.

#include <QFlags>

enum class TVMRVideoMode { vmrWindowed, vmrWindowless, vmrRenderless };

enum TVMRPreference { vpForceMixer = 0x1 };
Q_DECLARE_FLAGS(TVMRPreferences, TVMRPreference)
Q_DECLARE_OPERATORS_FOR_FLAGS(TVMRPreferences)

class TVMROptions {
 public:
  TVMRVideoMode Mode() const noexcept { return mode_; }
  void SetMode(TVMRVideoMode mode) noexcept { mode_ = mode; }
  unsigned Streams() const noexcept { return streams_; }
  // A count outside 1..16 is stored as 1.
  void SetStreams(unsigned streams) noexcept;
  TVMRPreferences Preferences() const noexcept { return preferences_; }
  void SetPreferences(TVMRPreferences preferences) noexcept { preferences_ = preferences; }
  bool KeepAspectRatio() const noexcept { return keepAspectRatio_; }
  void SetKeepAspectRatio(bool keep) noexcept { keepAspectRatio_ = keep; }

 private:
  TVMRVideoMode mode_ = TVMRVideoMode::vmrWindowed;
  unsigned streams_ = 4;
  TVMRPreferences preferences_ = vpForceMixer;
  bool keepAspectRatio_ = true;
};
