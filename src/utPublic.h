#pragma once
// The shared utility unit: where the settings file lives, the three self-contained settings
// operations, the number conversion, the start-up counter check, and the date and time texts.

#include <QDate>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Name of the settings file.
inline constexpr const char* kIniBaseName = "参数设置.INI";

// Full path of the settings file, fixed by InitializePublic; empty before it ran.
const std::string& IniFileName();

// Probe for a high-resolution monotonic clock; the real one asks clock_getres.
using CounterProbe = std::function<bool()>;
bool HighResolutionCounterPresent();

// Start-up initialisation, once, before any window: fixes IniFileName from the executable's
// path (see SettingsFilePath), then
// checks for the counter. Without one it shows the two-line message through `showMessage`
// and returns false: the program then ends with status 1.
bool InitializePublic(const std::string& executablePath, const CounterProbe& probe,
                      const std::function<void(const std::string&)>& showMessage);
// Tests point the settings file somewhere else.
void SetIniFileNameForTesting(const std::string& fileName);

// The folders that hold installed executables: the install prefix's bin folder, /usr/bin and
// /usr/local/bin. No portable copy or build lives there.
std::vector<std::string> InstalledBinFolders();

// Where InitializePublic puts the settings file for an executable at `executablePath`: beside
// it when `folderWritable` accepts its folder and that folder is none of `installedBinFolders`
// (root can write /usr/bin, but no package owns a settings file there), else in the user's
// configuration folder, which it creates.
std::string SettingsFilePath(
    const std::string& executablePath,
    const std::function<bool(const std::string& folder)>& folderWritable,
    const std::vector<std::string>& installedBinFolders = InstalledBinFolders());
// Whether `folder` may hold the settings file: this user can make a file in it (tried, since
// permission bits do not tell: root, read-only mounts) and no other user can (not theirs, not
// group- or world-writable, sticky or not, and not to be swapped through a folder above it),
// since whoever can write there could plant a settings file or a link in its place.
bool FolderWritable(const std::string& folder);

// Raises "Unable to write to %s" when the file cannot be written. A lock held by another copy
// of the program never makes the caller wait: the write is retried from the event loop, and
// when the holder keeps the lock for seconds it fails with that message in the error box.
void WriteIniValue(const std::string& fileName, const std::string& section, const std::string& key,
                   const std::string& value);
// The stored value, at most 2047 characters; empty when the file, section or key is absent.
std::string ReadIniValue(const std::string& fileName, const std::string& section,
                         const std::string& key);
// `defaultValue` when the section does not list the key, else the stored value (also empty).
std::string ReadIniValueDef(const std::string& fileName, const std::string& section,
                            const std::string& key, const std::string& defaultValue);

// The number conversion: blanks skipped, optional sign, decimal in the signed 32-bit range, or
// hexadecimal after "$", "x", "X", "0x", "0X" (up to 8 digits, taken as a 32-bit pattern).
bool TryStrToInt(const std::string& text, int32_t& value);
// As TryStrToInt; raises "'%s' is not a valid integer value" for any other text.
int32_t StrToInt(const std::string& text);

// "%4.4d-%2.2d-%2.2d" and "%2.2d:%2.2d:%2.2d" (now, local time).
std::string DateText(const QDate& date);
std::string TimeText();
