#pragma once
// The display picture and its lock. A picture, once adopted, is never written again: a new
// frame arrives in another Dib and is swapped in under the lock, so whoever holds a reference
// to a picture holds one whole frame. A picture made for frames refers to the frame as it was
// delivered and computes its pixels when they are first read (see Dib); a retired one that
// nobody references lets its frame go at the next adoption, so that frames are not held back.
//
// The display lock is re-entrant. Threads: the streaming thread takes it (inside the grabber's
// buffer lock) to adopt a frame; the main thread takes it to read the picture for a save or a
// paint. Every reference handed out is dropped under the lock again (see Ref), which is what
// makes it safe for the streaming thread to recycle a retired picture's memory.

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/picture/Dib.h"

class TBitmap {
 public:
  TBitmap() = default;
  TBitmap(const TBitmap&) = delete;
  TBitmap& operator=(const TBitmap&) = delete;

  // BasicLockable, so std::lock_guard<TBitmap> is "take the display lock".
  void lock() { lock_.lock(); }
  void unlock() { lock_.unlock(); }

  // --- The caller holds the display lock. ---
  // The picture held now, or null; valid while the lock is held.
  const Dib* Handle() const noexcept { return current_.get(); }
  bool Empty() const noexcept { return !current_; }
  // Takes the Dib as the picture and retires the one held before. Runs the change callback.
  void Adopt(std::shared_ptr<Dib> dib);
  // A Dib of this geometry for the next Adopt: a retired picture nobody references any more,
  // else a fresh one (null when the header describes no bitmap). Its pixels are stale.
  std::shared_ptr<Dib> Reusable(const BITMAPINFOHEADER& header);
  // The same among Dibs made for frames (Dib::CreateForFrame); it refers to no frame yet, and
  // keeps the pixel memory of the frame it last showed.
  std::shared_ptr<Dib> ReusableForFrame(const BITMAPINFOHEADER& header);

  // For when the frames' source stops, whose buffers must all go back to it: the picture keeps
  // its frame as a copy of its own (it shows and saves the same) and retired pictures let theirs
  // go. Takes the lock; main thread, where pictures are read. False when a copy failed, which
  // leaves that frame held.
  bool LetGoOfFrames();

  // A reference to the picture that outlives the lock; it takes the lock again to let go.
  class Ref {
   public:
    Ref() = default;
    Ref(TBitmap* owner, std::shared_ptr<const Dib> dib) : owner_(owner), dib_(std::move(dib)) {}
    Ref(Ref&& other) noexcept = default;
    Ref& operator=(Ref&& other) noexcept;
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Reset(); }
    const Dib* get() const noexcept { return dib_.get(); }
    const Dib* operator->() const noexcept { return dib_.get(); }
    const Dib& operator*() const noexcept { return *dib_; }
    explicit operator bool() const noexcept { return static_cast<bool>(dib_); }
    void Reset();

   private:
    TBitmap* owner_ = nullptr;
    std::shared_ptr<const Dib> dib_;
  };
  // Takes the lock (re-entrantly) for the moment of taking the reference.
  Ref Snapshot();

  // Called under the lock, on the thread that changed the picture: it must only post.
  void SetOnChanged(std::function<void()> onChanged);

 private:
  // How many retired pictures are kept for reuse: one on screen or in a save, one spare.
  static constexpr size_t kRetiredKept = 3;

  std::shared_ptr<Dib> TakeRetired(const BITMAPINFOHEADER& header, bool forFrames);

  std::recursive_mutex lock_;  // the display lock; guards everything below
  std::shared_ptr<Dib> current_;
  std::vector<std::shared_ptr<Dib>> retired_;
  std::function<void()> onChanged_;
};
