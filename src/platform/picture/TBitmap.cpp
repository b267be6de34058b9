#include "platform/picture/TBitmap.h"

#include <algorithm>
#include <iterator>
#include <utility>

void TBitmap::Adopt(std::shared_ptr<Dib> dib) {
  if (current_) {
    if (retired_.size() >= kRetiredKept)
      retired_.erase(retired_.begin());
    retired_.push_back(std::move(current_));
  }
  current_ = std::move(dib);
  // A retired frame nobody reads any more goes back to its source (a camera's buffers are few).
  for (const std::shared_ptr<Dib>& retired : retired_) {
    if (retired.use_count() == 1)
      retired->DetachFrame();
  }
  if (onChanged_)
    onChanged_();
}

std::shared_ptr<Dib> TBitmap::TakeRetired(const BITMAPINFOHEADER& header, bool forFrames) {
  // use_count is read under the display lock, and every other reference is dropped under it
  // too (Ref::Reset), so 1 means nobody can still be reading these pixels.
  // Newest first: two buffers taking turns stay warm in the cache, where cycling through
  // every retired one would not.
  auto it = std::find_if(retired_.rbegin(), retired_.rend(), [&](const std::shared_ptr<Dib>& d) {
    return d.use_count() == 1 && d->ForFrames() == forFrames && d->SameGeometry(header);
  });
  if (it == retired_.rend())
    return nullptr;
  std::shared_ptr<Dib> dib = std::move(*it);
  retired_.erase(std::next(it).base());
  return dib;
}

std::shared_ptr<Dib> TBitmap::Reusable(const BITMAPINFOHEADER& header) {
  if (std::shared_ptr<Dib> dib = TakeRetired(header, false))
    return dib;
  return Dib::Create(header);
}

std::shared_ptr<Dib> TBitmap::ReusableForFrame(const BITMAPINFOHEADER& header) {
  if (std::shared_ptr<Dib> dib = TakeRetired(header, true)) {
    dib->DetachFrame();
    return dib;
  }
  return Dib::CreateForFrame(header);
}

bool TBitmap::LetGoOfFrames() {
  std::lock_guard guard(*this);
  bool released = !current_ || current_->OwnFrame();
  for (const std::shared_ptr<Dib>& retired : retired_) {
    if (retired.use_count() == 1) {
      retired->DetachFrame();
    } else if (!retired->OwnFrame()) {
      released = false;
    }
  }
  return released;
}

TBitmap::Ref TBitmap::Snapshot() {
  std::lock_guard guard(*this);
  return Ref(this, current_);
}

void TBitmap::SetOnChanged(std::function<void()> onChanged) {
  std::lock_guard guard(*this);
  onChanged_ = std::move(onChanged);
}

TBitmap::Ref& TBitmap::Ref::operator=(Ref&& other) noexcept {
  if (this != &other) {
    Reset();
    owner_ = std::exchange(other.owner_, nullptr);
    dib_ = std::move(other.dib_);
  }
  return *this;
}

void TBitmap::Ref::Reset() {
  if (!dib_)
    return;
  std::lock_guard guard(*owner_);
  dib_.reset();
}
