#pragma once
// Owning handles for GStreamer and GLib objects. Each construction says at the call site
// whether it takes over the reference it is given (Adopt: "transfer full" or floating) or adds
// one of its own (Retain: "transfer none"), so every call can be checked against the API docs.

#include <gst/gst.h>

#include <memory>
#include <type_traits>
#include <utility>

namespace platform {

template <typename T>
struct GstRefTraits {
  // Every GstObject subclass (elements, pads, buses, devices, monitors, factories...).
  static void Ref(T* p) { gst_object_ref(p); }
  static void Unref(T* p) { gst_object_unref(p); }
  static void Sink(T* p) {
    if (g_object_is_floating(p))
      gst_object_ref_sink(p);
  }
};

// NOLINTBEGIN(bugprone-macro-parentheses): Type is a type name, which cannot be parenthesised.
#define STILLWICK_MINI_OBJECT_TRAITS(Type)                                         \
  template <>                                                                      \
  struct GstRefTraits<Type> {                                                      \
    static void Ref(Type* p) { gst_mini_object_ref(GST_MINI_OBJECT_CAST(p)); }     \
    static void Unref(Type* p) { gst_mini_object_unref(GST_MINI_OBJECT_CAST(p)); } \
    static void Sink(Type*) {}                                                     \
  };
// NOLINTEND(bugprone-macro-parentheses)
STILLWICK_MINI_OBJECT_TRAITS(GstCaps)
STILLWICK_MINI_OBJECT_TRAITS(GstBuffer)
STILLWICK_MINI_OBJECT_TRAITS(GstSample)
STILLWICK_MINI_OBJECT_TRAITS(GstMessage)
STILLWICK_MINI_OBJECT_TRAITS(GstEvent)
STILLWICK_MINI_OBJECT_TRAITS(GstQuery)
#undef STILLWICK_MINI_OBJECT_TRAITS

template <typename T>
class GstRef {
 public:
  GstRef() noexcept = default;
  GstRef(std::nullptr_t) noexcept {}

  // Takes over a reference the caller owns ("transfer full"); a floating one is sunk.
  [[nodiscard]] static GstRef Adopt(T* p) noexcept {
    if (p)
      GstRefTraits<T>::Sink(p);
    return GstRef(p);
  }
  // Adds a reference of its own ("transfer none").
  [[nodiscard]] static GstRef Retain(T* p) noexcept {
    if (p)
      GstRefTraits<T>::Ref(p);
    return GstRef(p);
  }

  GstRef(const GstRef& other) noexcept : p_(other.p_) {
    if (p_)
      GstRefTraits<T>::Ref(p_);
  }
  GstRef(GstRef&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  GstRef& operator=(GstRef other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~GstRef() { reset(); }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  // Hands the reference to a "transfer full" parameter.
  [[nodiscard]] T* release() noexcept { return std::exchange(p_, nullptr); }
  void reset() noexcept {
    if (T* p = std::exchange(p_, nullptr))
      GstRefTraits<T>::Unref(p);
  }
  template <typename U>
  U* as() const noexcept {
    return reinterpret_cast<U*>(p_);
  }
  friend bool operator==(const GstRef& a, const GstRef& b) noexcept { return a.p_ == b.p_; }

 private:
  explicit GstRef(T* p) noexcept : p_(p) {}
  T* p_ = nullptr;
};

struct GFreeDeleter {
  void operator()(void* p) const noexcept { g_free(p); }
};
struct GErrorDeleter {
  void operator()(GError* e) const noexcept { g_error_free(e); }
};
struct GstStructureDeleter {
  void operator()(GstStructure* s) const noexcept { gst_structure_free(s); }
};
struct GstIteratorDeleter {
  void operator()(GstIterator* it) const noexcept { gst_iterator_free(it); }
};

using GCharPtr = std::unique_ptr<gchar, GFreeDeleter>;
using GErrorPtr = std::unique_ptr<GError, GErrorDeleter>;
using GstStructurePtr = std::unique_ptr<GstStructure, GstStructureDeleter>;
using GstIteratorPtr = std::unique_ptr<GstIterator, GstIteratorDeleter>;

// Unmaps a mapped buffer when it leaves scope.
class BufferMap {
 public:
  BufferMap(GstBuffer* buffer, GstMapFlags flags) noexcept
      : buffer_(buffer), mapped_(buffer && gst_buffer_map(buffer, &info_, flags)) {}
  ~BufferMap() {
    if (mapped_)
      gst_buffer_unmap(buffer_, &info_);
  }
  BufferMap(const BufferMap&) = delete;
  BufferMap& operator=(const BufferMap&) = delete;
  explicit operator bool() const noexcept { return mapped_; }
  const guint8* data() const noexcept { return info_.data; }
  gsize size() const noexcept { return info_.size; }

 private:
  GstBuffer* buffer_;
  GstMapInfo info_{};
  bool mapped_;
};

}  // namespace platform
