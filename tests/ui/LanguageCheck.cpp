// Run by ctest once per pinned locale (tests/CMakeLists.txt): STILLWICK_EXPECT_LANGUAGE says
// which captions that locale must give, "en" or "zh" (the source texts).
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QToolButton>

#include "app/Translation.h"
#include "support/MainWindowFixture.h"
#include "widgets/TSpinEdit.h"

namespace {

using LanguageCheck = MainWindowFixture;

// Room for text inside a control, as the style lays it out.
int TextRoom(QWidget* control) {
  QStyleOptionButton option;
  option.initFrom(control);
  if (qobject_cast<QCheckBox*>(control))
    return control->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, control).width();
  if (qobject_cast<QPushButton*>(control))
    return control->style()
        ->subElementRect(QStyle::SE_PushButtonContents, &option, control)
        .width();
  return control->width() - 4;  // a flat tool button: its one-pixel frame and a pixel of margin
}

TEST_F(LanguageCheck, LocalePicksTheCaptionsAndTheyFitTheirControls) {
  const QString language = qEnvironmentVariable("STILLWICK_EXPECT_LANGUAGE");
  ASSERT_TRUE(language == "en" || language == "zh") << "run through ctest";
  const bool english = language == "en";
  ASSERT_EQ(InstallTranslation(*qApp), english) << QLocale::system().name().toStdString();
  TFrmMain& w = Open();

  struct Caption {
    QWidget* control;
    const char* zh;
    const char* en;
    QWidget* next;  // a label must end before this control begins
  };
  const Caption captions[] = {
      {w.OpenPlay, "启动采集", "Start", nullptr},
      {w.btnPause, "暂停", "Pause", nullptr},
      {w.CallBack, "同步显示", "Live", nullptr},
      {w.btnAddDir, "存储目录", "Folder", nullptr},
      {w.btnGetPic, "捕获单张图片", "Capture one", nullptr},
      {w.btnGetMorePic, "连续捕获多张图片", "Capture series", nullptr},
      {w.btnGetVCap, "刷新", "Scan", nullptr},
      {w.Label1, "目录", "Dir", w.edFileDir},
      {w.Label3, "文件前缀", "Prefix", w.edPreText},
      {w.Label4, "起始编号", "Start #", w.spStartNum},
      {w.Label5, "位数", "Dig.", w.spNumLen},
      {w.Label160, "视频输入", "Source", w.cbVCap},
  };
  for (const Caption& c : captions) {
    const QString expected = QString::fromUtf8(english ? c.en : c.zh);
    auto* label = qobject_cast<QLabel*>(c.control);
    const QString text = label ? label->text() : static_cast<QAbstractButton*>(c.control)->text();
    EXPECT_EQ(text, expected);
    const int width = c.control->fontMetrics().horizontalAdvance(text);
    if (label) {
      // The layout itself lets "起始编号" run one (blank) pixel into its field.
      EXPECT_LE(label->x() + width, c.next->x() + 1) << text.toStdString();
    } else {
      EXPECT_LE(width, TextRoom(c.control)) << text.toStdString();
    }
  }
  EXPECT_EQ(w.cbVCap->placeholderText(), english ? "No video device found" : "未找到视频设备");
  EXPECT_LE(w.cbVCap->fontMetrics().horizontalAdvance(w.cbVCap->placeholderText()),
            w.cbVCap->width() - 20);

  // The burst line's words lie beside the two number fields that sit in its blanks.
  const QString line = w.Label2->text();
  EXPECT_EQ(line.startsWith("Burst"), english);
  const QFontMetrics metrics = w.Label2->fontMetrics();
  const QWidget* fields[] = {w.spPicNum, w.spPicTime};
  for (int start = 0; start < line.size();) {
    if (line[start] == ' ') {
      ++start;
      continue;
    }
    int end = start;
    while (end < line.size() &&
           !(line[end] == ' ' && end + 1 < line.size() && line[end + 1] == ' '))
      ++end;
    const int left = w.Label2->x() + metrics.horizontalAdvance(line.left(start));
    const int right = w.Label2->x() + metrics.horizontalAdvance(line.left(end));
    EXPECT_LE(right, w.Label2->geometry().right() + 1)
        << line.mid(start, end - start).toStdString();
    for (const QWidget* field : fields) {
      EXPECT_TRUE(right <= field->x() || left >= field->geometry().right() + 1)
          << line.mid(start, end - start).toStdString();
    }
    start = end;
  }
  RemoveTranslation();
}

}  // namespace
