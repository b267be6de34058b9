// Settings files as they come from elsewhere (Chinese Windows, editors that save UTF-16) load as
// they read; start-up writes only a value that really changes, and every write keeps the file's
// encoding.
#include <QLineEdit>

#include "support/MainWindowFixture.h"
#include "widgets/TSpinEdit.h"

namespace {

std::string Utf16Le(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (const char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

using MainWindowSettingsTest = MainWindowFixture;

TEST_F(MainWindowSettingsTest, ForeignEncodingsLoadUnchangedAndStayWhenWritten) {
  struct Case {
    std::string before;        // as found
    std::string afterStartUp;  // after the window restored it
    std::string afterTyping;   // after "x" was added to the prefix
  };
  const Case cases[] = {
      {"[START]\r\nedPreText=\xB2\xE2\xCA\xD4\r\nedFileDir=/\xCD\xBC\r\n",
       "[START]\r\nedPreText=\xB2\xE2\xCA\xD4\r\nedFileDir=/\xCD\xBC\r\n",
       "[START]\r\nedPreText=\xB2\xE2\xCA\xD4x\r\nedFileDir=/\xCD\xBC\r\n"},
      // The one rewrite of start-up, a number out of range, keeps the encoding too.
      {"[START]\r\nedPreText=\xB2\xE2\xCA\xD4\r\nedFileDir=/\xCD\xBC\r\nspNumLen=9\r\n",
       "[START]\r\nedPreText=\xB2\xE2\xCA\xD4\r\nedFileDir=/\xCD\xBC\r\nspNumLen=6\r\n",
       "[START]\r\nedPreText=\xB2\xE2\xCA\xD4x\r\nedFileDir=/\xCD\xBC\r\nspNumLen=6\r\n"},
      {Utf16Le(u"[START]\r\nedPreText=测试\r\nedFileDir=/图\r\n"),
       Utf16Le(u"[START]\r\nedPreText=测试\r\nedFileDir=/图\r\n"),
       Utf16Le(u"[START]\r\nedPreText=测试x\r\nedFileDir=/图\r\n")},
  };
  for (const Case& c : cases) {
    WriteIni(c.before);
    Open();
    EXPECT_EQ(window->edPreText->text(), "测试");
    EXPECT_EQ(window->edFileDir->text(), "/图");
    EXPECT_EQ(ReadIni(), c.afterStartUp);
    window->edPreText->setText("测试x");
    EXPECT_EQ(ReadIni(), c.afterTyping);
    EXPECT_TRUE(errors.empty());
    window.reset();
  }
}

}  // namespace
