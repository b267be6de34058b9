// Picture names, single captures and bursts through the main window, with files read back by
// an independent reader.
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <climits>
#include <cstdint>

#include "HarnessFiles.h"
#include "support/FileSystemFixtures.h"
#include "support/MainWindowFixture.h"
#include "support/ReadBmp.h"
#include "widgets/TSpinEdit.h"

namespace {

using harness::WaitFor;

class StillCaptureTest : public MainWindowFixture {
 protected:
  void Start(const char* pattern = "smpte") {
    Open();
    window->edFileDir->setText(pictures);
    StartCamera({.name = "Still Cam", .width = 320, .height = 240, .pattern = pattern});
  }

  QStringList Listed() const {
    QStringList names;
    for (int i = 0; i < window->lstFn->count(); ++i)
      names << window->lstFn->item(i)->text();
    return names;
  }
  QStringList Files() const {
    return QDir(pictures).entryList(QDir::Files | QDir::Hidden, QDir::Name);
  }
  QString Path(const QString& name) const { return pictures + "/" + name; }
};

TEST_F(StillCaptureTest, PictureNamesFollowTheNamingRule) {
  Open();
  struct Case {
    QString folder;
    QString prefix;
    int digits;
    int32_t number;
    std::string name;
  };
  const Case cases[] = {
      {"/pic", "cam", 4, 12, "/pic/cam0012.bmp"},
      {"/pic/", "cam", 4, 12, "/pic/cam0012.bmp"},
      {"/pic", "voZU-", 2, 1, "/pic/voZU-01.bmp"},
      {"/pic", "p", 1, 7, "/pic/p7.bmp"},
      {"/pic", "p", 6, 7, "/pic/p000007.bmp"},
      {"/pic", "p", 2, 1234, "/pic/p1234.bmp"},
      {"/pic", "", 2, 5, "/pic/05.bmp"},
      {"/pic", "p", 3, -5, "/pic/p-005.bmp"},
      {"d", "名", 2, 2147483647, "d/名2147483647.bmp"},
      {"/pic", "p", 3, INT32_MIN, "/pic/p-2147483648.bmp"},
      // Counts as typed, before the field clamps them: in full, or the minimum.
      {"/pic", "p", 99, 7, "/pic/p" + std::string(98, '0') + "7.bmp"},
      {"/pic", "p", 40, -12, "/pic/p-" + std::string(38, '0') + "12.bmp"},
      {"/pic", "p", -3, 7, "/pic/p7.bmp"},
      {"/pic", "p", 0, 0, "/pic/p0.bmp"},
  };
  for (const Case& c : cases) {
    window->edFileDir->setText(c.folder);
    window->edPreText->setText(c.prefix);
    window->spNumLen->SetText(QString::number(c.digits));
    EXPECT_EQ(window->BuildPictureFileName(c.number), c.name);
  }
}

TEST_F(StillCaptureTest, SingleCaptureWritesTheFrameAsAnUprightBmp) {
  Start();
  QTest::mouseClick(window->btnGetPic, Qt::LeftButton);
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(Listed(), QStringList{Path("voZU-01.bmp")});
  EXPECT_TRUE(window->lstFn->hasFocus());
  EXPECT_EQ(Files(), QStringList{"voZU-01.bmp"});
  const QStringList read = ReadBmp(Path("voZU-01.bmp"), {"0,0", "0,239"});
  ASSERT_EQ(read.size(), 3) << read.join('\n').toStdString();
  EXPECT_EQ(read[0], "BMP 320 240 RGB");
  // Light bar at the top left, dark band at the bottom left: not upside down.
  const auto sum = [](const QString& rgb) {
    const QStringList channels = rgb.split(',');
    return channels[0].toInt() + channels[1].toInt() + channels[2].toInt();
  };
  EXPECT_GT(sum(read[1]), 3 * 150);
  EXPECT_LT(sum(read[2]), 3 * 110);

  // A second capture with the same start number replaces the file whole.
  QTest::mouseClick(window->btnGetPic, Qt::LeftButton);
  EXPECT_EQ(Files(), QStringList{"voZU-01.bmp"});
  EXPECT_EQ(QFile(Path("voZU-01.bmp")).size(), 54 + 320 * 3 * 240);
}

TEST_F(StillCaptureTest, CaptureBeforeTheFirstFrameWritesTheStartUpPicture) {
  Open();
  window->edFileDir->setText(pictures);
  window->CallBack->setChecked(false);
  StartCamera(TestCameraSpec{});
  QTest::mouseClick(window->btnGetPic, Qt::LeftButton);
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(ReadBmp(Path("voZU-01.bmp"), {"0,0", "0,417"}),
            (QStringList{"BMP 507 418 RGB", "0,0,0", "0,0,0"}));
  // Black and the caption's pure red, nothing between; the fourth byte of every pixel is 0.
  const std::string bytes = harness::ReadFile(Path("voZU-01.bmp").toStdString());
  ASSERT_EQ(bytes.size(), 54u + 507 * 418 * 4);
  int red = 0, other = 0;
  for (size_t i = 54; i < bytes.size(); i += 4) {
    const auto* bgrx = reinterpret_cast<const uint8_t*>(bytes.data() + i);
    const bool pure = bgrx[0] == 0 && bgrx[1] == 0 && bgrx[3] == 0 && bgrx[2] % 255 == 0;
    red += pure && bgrx[2] == 255;
    other += !pure;
  }
  EXPECT_GT(red, 100);
  EXPECT_EQ(other, 0);
}

TEST_F(StillCaptureTest, FailedWritesReportTheFileAndLeaveNothingBehind) {
  Start();
  struct Case {
    QString folder;
    QString prefix;
  };
  const Case cases[] = {
      {dir.filePath("missing"), "voZU-"},
      {pictures, "no-such-sub/x"},
      {"", "voZU-"},
  };
  for (const Case& c : cases) {
    errors.clear();
    window->edFileDir->setText(c.folder);
    window->edPreText->setText(c.prefix);
    window->edFileDir->setFocus();
    QTest::mouseClick(window->btnGetPic, Qt::LeftButton);
    const std::string name = window->BuildPictureFileName(1);
    ASSERT_EQ(errors.size(), 1u) << name;
    EXPECT_EQ(errors[0], "Cannot create file \"" + name + "\". No such file or directory.");
    EXPECT_EQ(window->lstFn->count(), 0);
    EXPECT_FALSE(window->lstFn->hasFocus());
  }
  EXPECT_TRUE(Files().isEmpty());
  EXPECT_FALSE(QFile::exists(dir.filePath("missing")));
}

TEST_F(StillCaptureTest, SingleCaptureEndsARunningBurstOnlyWhileCapturing) {
  Start();
  QTest::mouseClick(window->btnGetMorePic, Qt::LeftButton);
  ASSERT_TRUE(window->Timer1.isActive());
  window->Timer1Timer();
  QTest::mouseClick(window->btnGetPic, Qt::LeftButton);
  EXPECT_FALSE(window->Timer1.isActive());
  EXPECT_EQ(window->btnGetMorePic->text(), "连续捕获多张图片");
  EXPECT_EQ(Listed(), QStringList{Path("voZU-01.bmp")});

  // Stopped: the list is cleared, nothing is written and the burst goes on.
  QTest::mouseClick(window->btnGetMorePic, Qt::LeftButton);
  window->FGVCap.Stop();
  ASSERT_EQ(window->FGVCap.State(), GraphState::Stopped);
  QFile::remove(Path("voZU-01.bmp"));
  QTest::mouseClick(window->btnGetPic, Qt::LeftButton);
  EXPECT_TRUE(window->Timer1.isActive());
  EXPECT_EQ(window->lstFn->count(), 0);
  window->Timer1Timer();
  EXPECT_EQ(Listed(), QStringList{Path("voZU-01.bmp")});
  EXPECT_TRUE(Files().isEmpty());
}

TEST_F(StillCaptureTest, BurstWithTheDefaultsListsAndWritesFivePictures) {
  Start();
  QTest::mouseClick(window->btnGetMorePic, Qt::LeftButton);
  EXPECT_EQ(window->btnGetMorePic->text(), "停止连续捕获图片");
  EXPECT_EQ(window->Timer1.interval(), 1000);
  EXPECT_EQ(window->BurstTotal, 5);
  EXPECT_TRUE(window->lstFn->hasFocus());
  for (int tick = 0; tick < 5; ++tick)
    window->Timer1Timer();
  EXPECT_FALSE(window->Timer1.isActive());
  EXPECT_EQ(window->btnGetMorePic->text(), "连续捕获多张图片");
  const QStringList names = {"voZU-01.bmp", "voZU-02.bmp", "voZU-03.bmp", "voZU-04.bmp",
                             "voZU-05.bmp"};
  EXPECT_EQ(Files(), names);
  QStringList paths;
  for (const QString& name : names)
    paths << Path(name);
  EXPECT_EQ(Listed(), paths);
  EXPECT_TRUE(errors.empty());
}

TEST_F(StillCaptureTest, BurstIntervalsAndTotalsFollowTheRate) {
  Start();
  const int expected[] = {1000, 500, 333, 250, 200};
  for (int rate = 1; rate <= 5; ++rate) {
    window->spPicNum->SetValue(rate);
    window->spPicTime->SetValue(60);
    QTest::mouseClick(window->btnGetMorePic, Qt::LeftButton);
    EXPECT_EQ(window->Timer1.interval(), expected[rate - 1]);
    EXPECT_EQ(window->BurstTotal, 60 * rate);
    QTest::mouseClick(window->btnGetMorePic, Qt::LeftButton);  // stop
    EXPECT_FALSE(window->Timer1.isActive());
  }
}

TEST_F(StillCaptureTest, RealTimerRunsAShortBurstToItsEnd) {
  Start();
  window->spPicNum->SetValue(5);
  window->spPicTime->SetValue(1);
  QTest::mouseClick(window->btnGetMorePic, Qt::LeftButton);
  EXPECT_EQ(window->lstFn->count(), 0);  // the first picture comes one interval later
  ASSERT_TRUE(WaitFor([&] { return !window->Timer1.isActive(); }, 5000));
  EXPECT_EQ(Files().size(), 5);
  EXPECT_EQ(window->lstFn->count(), 5);
}

TEST_F(StillCaptureTest, StopAndRestartNumbersFromTheStartAgain) {
  Start();
  QTest::mouseClick(window->btnGetMorePic, Qt::LeftButton);
  window->Timer1Timer();
  window->Timer1Timer();
  QTest::mouseClick(window->btnGetMorePic, Qt::LeftButton);
  EXPECT_FALSE(window->Timer1.isActive());
  EXPECT_EQ(window->lstFn->count(), 2);
  QTest::mouseClick(window->btnGetMorePic, Qt::LeftButton);
  EXPECT_EQ(window->lstFn->count(), 0);
  window->Timer1Timer();
  EXPECT_EQ(Listed(), QStringList{Path("voZU-01.bmp")});
}

TEST_F(StillCaptureTest, BurstReadsTheNamingFieldsAtEveryTick) {
  Start();
  QTest::mouseClick(window->btnGetMorePic, Qt::LeftButton);
  for (int tick = 0; tick < 3; ++tick)
    window->Timer1Timer();
  window->spStartNum->SetValue(100);
  window->Timer1Timer();
  EXPECT_EQ(Listed().last(), Path("voZU-103.bmp"));
}

TEST_F(StillCaptureTest, BurstNeedsAnExistingFolder) {
  Start();
  ASSERT_TRUE(harness::WriteFile(dir.filePath("a-file").toStdString(), ""));
  for (const QString& folder : {dir.filePath("a-file"), dir.filePath("missing"), QString()}) {
    window->edFileDir->setText(folder);
    window->lstFn->addItem("kept");
    QTest::mouseClick(window->btnGetMorePic, Qt::LeftButton);
    EXPECT_FALSE(window->Timer1.isActive());
    EXPECT_EQ(window->btnGetMorePic->text(), "连续捕获多张图片");
    EXPECT_GT(window->lstFn->count(), 0);
  }
}

TEST_F(StillCaptureTest, BurstWhileStoppedListsNamesAndWritesNothing) {
  Start();
  window->FGVCap.Stop();
  QTest::mouseClick(window->btnGetMorePic, Qt::LeftButton);
  for (int tick = 0; tick < 5; ++tick)
    window->Timer1Timer();
  EXPECT_EQ(window->lstFn->count(), 5);
  EXPECT_FALSE(window->Timer1.isActive());
  EXPECT_TRUE(Files().isEmpty());
}

TEST_F(StillCaptureTest, FailedWriteEndsTheBurstWithOneError) {
  Start();
  QTest::mouseClick(window->btnGetMorePic, Qt::LeftButton);
  window->Timer1Timer();
  window->Timer1Timer();
  // A folder where the third picture should go makes that write fail.
  QDir().mkpath(Path("voZU-03.bmp"));
  // The next tick as the timer delivers it, through the error-box guard.
  window->Timer1.setInterval(1);
  ASSERT_TRUE(WaitFor([&] { return !window->Timer1.isActive(); }));
  ASSERT_TRUE(harness::WaitForPostedEvents());  // the timer stopped: a second box would be there
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_TRUE(QString::fromStdString(errors[0]).startsWith("Cannot create file \"" +
                                                           Path("voZU-03.bmp") + "\". "));
  EXPECT_FALSE(window->Timer1.isActive());
  EXPECT_EQ(window->btnGetMorePic->text(), "连续捕获多张图片");
  EXPECT_EQ(window->lstFn->count(), 3);
  EXPECT_EQ(window->BurstCounter, 2);
  // Nothing but the two good pictures: no temporary file is left beside them.
  EXPECT_EQ(Files(), (QStringList{"voZU-01.bmp", "voZU-02.bmp"}));
}

TEST_F(StillCaptureTest, FullDiskEndsTheBurstWithOneErrorAndNoHalfPicture) {
  // Room for two pictures of 320 x 240.
  testfs::SmallDisk disk(pictures.toStdString(), std::size_t{600} * 1024);
  if (!disk.Mounted())
    GTEST_SKIP() << testfs::SmallDisk::SkipReason();
  Start();
  QTest::mouseClick(window->btnGetMorePic, Qt::LeftButton);
  window->Timer1.setInterval(1);
  ASSERT_TRUE(WaitFor([&] { return !window->Timer1.isActive(); }));
  ASSERT_TRUE(harness::WaitForPostedEvents());
  EXPECT_EQ(errors,
            std::vector<std::string>{"Cannot create file \"" + Path("voZU-03.bmp").toStdString() +
                                     "\". No space left on device."});
  EXPECT_EQ(window->btnGetMorePic->text(), "连续捕获多张图片");
  EXPECT_EQ(Files(), (QStringList{"voZU-01.bmp", "voZU-02.bmp"}));
  for (const QString& name : Files())
    EXPECT_EQ(QFile(Path(name)).size(), 54 + 320 * 3 * 240) << name.toStdString();
}

}  // namespace
