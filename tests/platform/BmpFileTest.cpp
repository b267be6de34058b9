#include "platform/picture/BmpFile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtEndian>

#include "HarnessFiles.h"
#include "platform/runtime/Error.h"
#include "support/FileSystemFixtures.h"
#include "support/ReadBmp.h"

using harness::ReadFile;

// Readable failure messages.
static void PrintTo(const QString& text, std::ostream* out) {
  *out << text.toStdString();
}

namespace {

// Blue, green, red of pixel (x, y): every pixel of a small picture differs from its neighbours.
std::array<uint8_t, 3> Colour(int x, int y) {
  return {static_cast<uint8_t>(x * 3 + y), static_cast<uint8_t>(y * 29), static_cast<uint8_t>(x)};
}

// 8 bits: a four-entry palette of Colour(k, 0), pixel (x, y) using entry (x + y) % 4.
std::array<uint8_t, 3> Expected(int bitCount, int x, int y) {
  return bitCount == 8 ? Colour((x + y) % 4, 0) : Colour(x, y);
}

std::shared_ptr<Dib> MakeDib(int width, int height, int bitCount, uint32_t compression = BI_RGB) {
  BITMAPINFOHEADER header;
  header.biWidth = width;
  header.biHeight = height;
  header.biBitCount = static_cast<uint16_t>(bitCount);
  header.biCompression = compression;
  std::vector<uint8_t> colorInfo;
  if (compression == BI_BITFIELDS) {
    colorInfo = {0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0};  // red, green, blue masks
  } else if (bitCount == 8) {
    header.biClrUsed = 4;
    for (int k = 0; k < 4; ++k) {
      const auto entry = Colour(k, 0);
      colorInfo.insert(colorInfo.end(), entry.begin(), entry.end());
      colorInfo.push_back(0);
    }
  }
  auto dib = Dib::Create(header, std::move(colorInfo));
  std::fill_n(dib->Bits(), dib->ImageSize(), 0);
  for (int y = 0; y < dib->Height(); ++y) {
    auto* line = const_cast<uint8_t*>(dib->ScanLine(y));
    for (int x = 0; x < width; ++x) {
      if (bitCount == 8) {
        line[x] = static_cast<uint8_t>((x + y) % 4);
      } else {
        std::copy_n(Colour(x, y).data(), 3, line + x * bitCount / 8);
      }
    }
  }
  return dib;
}

QString Rgb(const std::array<uint8_t, 3>& bgr) {
  return QString("%1,%2,%3").arg(bgr[2]).arg(bgr[1]).arg(bgr[0]);
}

struct Case {
  const char* name;
  int width, height, bitCount;
  uint32_t compression;
  const char* mode;
};

TEST(BmpFileTest, WritesBottomUpFileThatReadsBackPixelForPixel) {
  for (const Case& c : {Case{"24 top-down", 321, -7, 24, BI_RGB, "RGB"},
                        Case{"24 bottom-up", 321, 7, 24, BI_RGB, "RGB"},
                        Case{"32 top-down", 33, -5, 32, BI_RGB, "RGB"},
                        Case{"32 bit fields", 33, 5, 32, BI_BITFIELDS, "RGB"},
                        Case{"8 palette", 13, -3, 8, BI_RGB, "P"}}) {
    SCOPED_TRACE(c.name);
    QTemporaryDir dir;
    const QString path = dir.filePath("pic.bmp");
    const auto dib = MakeDib(c.width, c.height, c.bitCount, c.compression);
    platform::WriteBmpFile(path.toStdString(), *dib);

    const int w = c.width, h = dib->Height();
    const std::array<std::pair<int, int>, 4> probes = {{{0, 0}, {w - 1, 0}, {0, h - 1}, {5, 2}}};
    QStringList want = {QString("BMP %1 %2 %3").arg(w).arg(h).arg(c.mode)}, ask;
    for (const auto& [x, y] : probes) {
      ask << QString("%1,%2").arg(x).arg(y);
      want << Rgb(Expected(c.bitCount, x, y));
    }
    EXPECT_EQ(ReadBmp(path, ask), want);

    // Header fields a strict reader relies on.
    const std::string bytes = ReadFile(path.toStdString());
    ASSERT_GE(bytes.size(), 54u);
    BITMAPINFOHEADER info;
    std::memcpy(&info, bytes.data() + 14, sizeof info);
    EXPECT_EQ(qFromLittleEndian<uint32_t>(bytes.data() + 2), uint32_t(bytes.size()));
    EXPECT_EQ(info.biHeight, h);
    EXPECT_EQ(info.biSizeImage, dib->ImageSize());
  }
}

TEST(BmpFileTest, NewFileTakesTheUsualModeAReplacedOneKeepsItsOwnAndLinksStay) {
  QTemporaryDir dir;
  const QString path = dir.filePath("pic.bmp");
  const mode_t oldMask = umask(027);
  platform::WriteBmpFile(path.toStdString(), *MakeDib(100, 50, 24));
  umask(oldMask);
  struct stat st {};
  ASSERT_EQ(stat(path.toLocal8Bit().constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  ASSERT_EQ(chmod(path.toLocal8Bit().constData(), 0604), 0);
  ASSERT_TRUE(QFile::link("pic.bmp", dir.filePath("link.bmp")));
  platform::WriteBmpFile(dir.filePath("link.bmp").toStdString(), *MakeDib(9, -4, 24));

  EXPECT_EQ(ReadBmp(path, {"8,3"}), (QStringList{"BMP 9 4 RGB", Rgb(Colour(8, 3))}));
  EXPECT_EQ(testfs::Entries(dir.path()), (QStringList{"link.bmp", "pic.bmp"}));
  EXPECT_TRUE(QFileInfo(dir.filePath("link.bmp")).isSymLink());
  ASSERT_EQ(stat(path.toLocal8Bit().constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0604u);
}

// "Emptied and overwritten": a picture this user could not open for writing stays as it is.
TEST(BmpFileTest, PictureThisUserMayNotWriteIsNotReplaced) {
  QTemporaryDir dir;
  ASSERT_EQ(chmod(dir.path().toLocal8Bit().constData(), 0777), 0);
  const std::string path = dir.filePath("pic.bmp").toStdString();
  platform::WriteBmpFile(path, *MakeDib(3, 2, 24));
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  const std::string before = ReadFile(path);

  const int result = testfs::RunUnprivileged([&] {
    try {
      platform::WriteBmpFile(path, *MakeDib(9, 4, 24));
    } catch (const EStillwickError& e) {
      return e.what() == "Cannot create file \"" + path + "\". Permission denied" ? 0 : 1;
    }
    return 2;
  });
  EXPECT_EQ(result, 0) << "1: another message, 2: written";
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_EQ(testfs::Entries(dir.path()), QStringList{"pic.bmp"});
}

// Killed at any moment, the writer leaves the picture whole or not there at all.
TEST(BmpFileTest, KillLeavesAWholePictureOrNone) {
  QTemporaryDir dir;
  const QString reference = dir.filePath("reference.bmp");
  const std::string path = dir.filePath("pic.bmp").toStdString();
  const auto dib = MakeDib(1920, -1080, 24);
  platform::WriteBmpFile(reference.toStdString(), *dib);
  const std::string whole = ReadFile(reference.toStdString());
  for (int round = 0; round < 8; ++round) {
    QFile::remove(QString::fromStdString(path));
    const pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
      for (;;)
        platform::WriteBmpFile(path, *dib);
    }
    usleep(static_cast<useconds_t>(3000 + round * 1700));
    kill(writer, SIGKILL);
    waitpid(writer, nullptr, 0);
    if (QFile::exists(QString::fromStdString(path))) {
      EXPECT_TRUE(ReadFile(path) == whole) << "round " << round;
    }
  }
}

TEST(BmpFileTest, FailureNamesFileAndReasonAndLeavesFolderAsItWas) {
  QTemporaryDir dir;
  ASSERT_TRUE(harness::WriteFile(dir.filePath("plain").toStdString(), ""));
  ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
  const auto dib = MakeDib(321, 7, 24);

  struct Failure {
    const char* name;
    const char* reason;
  };
  for (const Failure& f :
       {Failure{"missing/pic01.bmp", "No such file or directory"},
        Failure{"nosuch/sub/voZU-01.bmp", "No such file or directory"},
        Failure{"plain/pic01.bmp", "Not a directory"}, Failure{"folder", "Is a directory"}}) {
    const std::string path = dir.filePath(f.name).toStdString();
    try {
      platform::WriteBmpFile(path, *dib);
      ADD_FAILURE() << f.name << " was written";
    } catch (const EStillwickError& e) {
      EXPECT_EQ(e.what(), "Cannot create file \"" + path + "\". " + f.reason);
    }
    EXPECT_EQ(testfs::Entries(dir.path()), (QStringList{"folder", "plain"}));
    EXPECT_TRUE(QDir(dir.filePath("folder")).isEmpty());
  }
}

// A write cut short (a full disk does the same) fails and keeps the old picture.
TEST(BmpFileTest, ShortWriteFailsAndKeepsOldPicture) {
  QTemporaryDir dir;
  const QString path = dir.filePath("pic.bmp");
  platform::WriteBmpFile(path.toStdString(), *MakeDib(3, 2, 24));
  const std::string before = ReadFile(path.toStdString());

  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 1000;
  setrlimit(RLIMIT_FSIZE, &small);
  std::string message;
  try {
    platform::WriteBmpFile(path.toStdString(), *MakeDib(321, -7, 24));
  } catch (const EStillwickError& e) {
    message = e.what();
  }
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);

  EXPECT_EQ(message, "Cannot create file \"" + path.toStdString() + "\". File too large");
  EXPECT_EQ(ReadFile(path.toStdString()), before);
  EXPECT_EQ(testfs::Entries(dir.path()), QStringList{"pic.bmp"});
}

}  // namespace
