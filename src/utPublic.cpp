#include "utPublic.h"

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QStandardPaths>
#include <QTime>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>

#include "platform/files/AtomicReplace.h"
#include "platform/files/ProfileFile.h"
#include "platform/runtime/Error.h"
#include "platform/runtime/ErrorBox.h"

namespace {
std::string& IniFileNameStorage() {
  static std::string fileName;
  return fileName;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}
}  // namespace

const std::string& IniFileName() {
  return IniFileNameStorage();
}

void SetIniFileNameForTesting(const std::string& fileName) {
  IniFileNameStorage() = fileName;
}

bool HighResolutionCounterPresent() {
  timespec resolution{};
  return ::clock_getres(CLOCK_MONOTONIC, &resolution) == 0 && resolution.tv_sec == 0 &&
         resolution.tv_nsec <= 1000;
}

namespace {
// Whether users other than this one could put, replace or link files in `folder`: it is theirs,
// or they may write it (group or others, sticky or not); or they could swap it for another
// through a folder above it, which is neither this user's nor root's, or which they may write
// and is not sticky.
bool OthersMayWriteIn(const std::string& folder) {
  const std::unique_ptr<char, decltype(&std::free)> real(::realpath(folder.c_str(), nullptr),
                                                         &std::free);
  if (!real)
    return true;
  std::string path = real.get();
  const uid_t me = ::geteuid();
  for (bool itself = true;; itself = false) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
      return true;
    if (st.st_uid != me && (itself || st.st_uid != 0))
      return true;
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (itself || (st.st_mode & S_ISVTX) == 0))
      return true;
    if (path == "/")
      return false;
    path.resize(std::max<size_t>(path.rfind('/'), 1));
  }
}
}  // namespace

bool FolderWritable(const std::string& folder) {
  return !OthersMayWriteIn(folder) && platform::CanCreateFileIn(folder);
}

std::vector<std::string> InstalledBinFolders() {
  return {STILLWICK_INSTALL_BINDIR, "/usr/bin", "/usr/local/bin"};
}

namespace {
// Links resolved where the folder exists: /bin is /usr/bin on Debian.
QString RealFolder(const QString& folder) {
  const QString canonical = QFileInfo(folder).canonicalFilePath();
  return canonical.isEmpty() ? QDir::cleanPath(folder) : canonical;
}

bool InstalledFolder(const QString& folder, const std::vector<std::string>& installedBinFolders) {
  const QString real = RealFolder(folder);
  for (const std::string& installed : installedBinFolders) {
    if (RealFolder(QString::fromStdString(installed)) == real)
      return true;
  }
  return false;
}
}  // namespace

std::string SettingsFilePath(const std::string& executablePath,
                             const std::function<bool(const std::string& folder)>& folderWritable,
                             const std::vector<std::string>& installedBinFolders) {
  const QString exeFolder = QFileInfo(QString::fromStdString(executablePath)).absolutePath();
  QString folder = exeFolder;
  if (InstalledFolder(exeFolder, installedBinFolders) || !folderWritable(exeFolder.toStdString())) {
    folder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    // Without an application name that is the shared configuration folder itself.
    if (QCoreApplication::applicationName().isEmpty())
      folder += QStringLiteral("/stillwick");
    // A folder that cannot be made shows later, as the first write's error.
    QDir().mkpath(folder);
  }
  if (!folder.endsWith(QLatin1Char('/')))
    folder += QLatin1Char('/');
  return (folder + QString::fromUtf8(kIniBaseName)).toStdString();
}

bool InitializePublic(const std::string& executablePath, const CounterProbe& probe,
                      const std::function<void(const std::string&)>& showMessage) {
  IniFileNameStorage() = SettingsFilePath(executablePath, FolderWritable);
  if (!probe()) {
    showMessage(QCoreApplication::translate("utPublic",
                                            "对不起,发现该计算机没有高性能计数器.\n"
                                            "请升级您的计算机和操作系统.系统退出")
                    .toStdString());
    return false;
  }
  return true;
}

namespace {
// Settings writes that met the lock held elsewhere (another copy writing, or anyone who holds it
// for longer), retried from the event loop so that the window never waits for the holder.
struct PendingWrite {
  std::string fileName, section, key, value;
};
struct PendingWrites {
  std::vector<PendingWrite> writes;  // the newest value of each entry, in the order they came
  std::chrono::steady_clock::time_point since;  // when the oldest of them first met the lock
  QPointer<QTimer> timer;
};

PendingWrites& Pending() {
  static PendingWrites pending;
  return pending;
}

// A peer holds the lock for a read, a synced write and a rename; one that holds it this long is
// hung or hostile.
constexpr auto kLockPatience = std::chrono::seconds(5);

// Every 50 ms until written; past the patience, or when the program quits (`last`, which may
// wait for the lock as long again), what is still not written fails with its box.
void RetryPendingWrites(bool last) {
  PendingWrites& p = Pending();
  const bool late = last || std::chrono::steady_clock::now() - p.since > kLockPatience;
  std::vector<PendingWrite> waiting;
  std::vector<std::string> failed;
  for (PendingWrite& w : p.writes) {
    const platform::ProfileFile file(w.fileName);
    using Stored = platform::ProfileFile::Stored;
    const Stored stored = last ? (file.Write(w.section, w.key, w.value) ? Stored::Yes : Stored::No)
                               : file.TryWrite(w.section, w.key, w.value);
    if (stored == Stored::Busy && !late) {
      waiting.push_back(std::move(w));
    } else if (stored != Stored::Yes &&
               std::find(failed.begin(), failed.end(), w.fileName) == failed.end()) {
      failed.push_back(w.fileName);
    }
  }
  p.writes = std::move(waiting);
  if (p.writes.empty() && p.timer)
    p.timer->stop();
  for (const std::string& fileName : failed)
    ShowErrorBox(FormatMessage("Unable to write to %s", fileName.c_str()),
                 BoxTiming::AfterModalWindows);
}

void QueueWrite(PendingWrite write) {
  PendingWrites& p = Pending();
  if (p.writes.empty())
    p.since = std::chrono::steady_clock::now();
  p.writes.push_back(std::move(write));
  if (!QCoreApplication::instance())
    return RetryPendingWrites(true);  // no event loop to retry from
  if (!p.timer) {
    // The application owns it.
    p.timer = new QTimer(QCoreApplication::instance());
    p.timer->setInterval(50);
    GuardedConnect(
        p.timer.data(), &QTimer::timeout, p.timer.data(), [] { RetryPendingWrites(false); },
        BoxTiming::AfterModalWindows);
    GuardedConnect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, p.timer.data(),
                   [] { RetryPendingWrites(true); });
  }
  p.timer->start();
}
}  // namespace

void WriteIniValue(const std::string& fileName, const std::string& section, const std::string& key,
                   const std::string& value) {
  // A newer value for an entry still waiting takes its place, so the older never lands last.
  PendingWrites& p = Pending();
  const auto waiting = std::find_if(p.writes.begin(), p.writes.end(), [&](const PendingWrite& w) {
    return w.fileName == fileName && w.section == section && w.key == key;
  });
  if (waiting != p.writes.end()) {
    waiting->value = value;
    return;
  }
  switch (platform::ProfileFile(fileName).TryWrite(section, key, value)) {
    case platform::ProfileFile::Stored::Yes:
      return;
    case platform::ProfileFile::Stored::Busy:
      QueueWrite({fileName, section, key, value});
      return;
    case platform::ProfileFile::Stored::No:
      break;
  }
  RaiseError(FormatMessage("Unable to write to %s", fileName.c_str()));
}

std::string ReadIniValue(const std::string& fileName, const std::string& section,
                         const std::string& key) {
  return platform::ProfileFile(fileName).Read(section, key).value_or(std::string());
}

std::string ReadIniValueDef(const std::string& fileName, const std::string& section,
                            const std::string& key, const std::string& defaultValue) {
  // A read finds the key exactly when the section lists it: absent means the default, while a
  // present empty value is a value.
  return platform::ProfileFile(fileName).Read(section, key).value_or(defaultValue);
}

bool TryStrToInt(const std::string& text, int32_t& value) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i]))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-'))
    negative = text[i++] == '-';

  bool hex = false;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    hex = true;
    i += 1;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i == text.size())
    return false;

  uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const int digit =
        hex ? HexDigit(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
    if (digit < 0)
      return false;
    magnitude = magnitude * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
    // Leading zeros are fine; more than 32 bits of value are not.
    if (magnitude > 0xFFFFFFFFu)
      return false;
  }

  if (hex) {
    // The digits spell a 32-bit pattern; a sign negates it with the pattern's wrap-around.
    const uint32_t pattern = static_cast<uint32_t>(magnitude);
    value = static_cast<int32_t>(negative ? 0u - pattern : pattern);
    return true;
  }
  if (magnitude > (negative ? uint64_t{0x80000000} : uint64_t{0x7FFFFFFF}))
    return false;
  const int64_t signedValue =
      negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  value = static_cast<int32_t>(signedValue);
  return true;
}

int32_t StrToInt(const std::string& text) {
  int32_t value = 0;
  if (!TryStrToInt(text, value)) {
    RaiseError(FormatMessage("'%s' is not a valid integer value", text.c_str()));
  }
  return value;
}

std::string DateText(const QDate& date) {
  return FormatMessage("%4.4d-%2.2d-%2.2d", date.year(), date.month(), date.day());
}

std::string TimeText() {
  const QTime now = QTime::currentTime();
  return FormatMessage("%2.2d:%2.2d:%2.2d", now.hour(), now.minute(), now.second());
}
