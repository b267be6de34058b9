#include "capture/TSysDevEnum.h"

#include <QString>

#include "platform/runtime/Error.h"

std::string CutUtf8(const std::string& text, std::size_t maxBytes) {
  if (text.size() <= maxBytes)
    return text;
  std::size_t end = maxBytes;
  // text[end] is the first byte dropped; while it continues a character, drop that one too.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
    --end;
  return text.substr(0, end);
}

TSysDevEnum::TSysDevEnum(const std::string& category) {
  SelectCategory(category);
}

void TSysDevEnum::SelectCategory(const std::string& category) {
  category_ = category;
  entries_.clear();
  devices_ = platform::EnumerateDevices(category_);
  for (const platform::DeviceRecord& record : devices_) {
    entries_.push_back({CutUtf8(record.displayName, kMaxFriendlyNameBytes),
                        CutUtf8(record.v4l2Name, kMaxFriendlyNameBytes)});
  }
}

DeviceEntry TSysDevEnum::DeviceAt(int index) const {
  if (index < 0 || index >= DeviceCount()) {
    RaiseError(FormatMessage("Device index out of range (%d)", index));
  }
  return entries_[static_cast<std::size_t>(index)];
}

std::unique_ptr<platform::Moniker> TSysDevEnum::MonikerAt(int index) const {
  if (index < 0 || index >= DeviceCount())
    return nullptr;
  return platform::Moniker::FromDevice(devices_[static_cast<std::size_t>(index)].device.get(),
                                       category_);
}

int TSysDevEnum::IndexOfName(const std::string& name) const {
  const QString wanted = QString::fromStdString(name);
  for (auto field : {&DeviceEntry::FriendlyName, &DeviceEntry::FormerName}) {
    for (int i = 0; i < DeviceCount(); ++i) {
      const std::string& candidate = entries_[static_cast<std::size_t>(i)].*field;
      if (!candidate.empty() &&
          QString::fromStdString(candidate).compare(wanted, Qt::CaseInsensitive) == 0) {
        return i;
      }
    }
  }
  return -1;
}
