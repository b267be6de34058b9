#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDialog>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include <stdexcept>
#include <string>
#include <vector>

#include "HarnessEventLoop.h"
#include "platform/runtime/Error.h"
#include "platform/runtime/ErrorBox.h"

namespace {

class ErrorBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetErrorPresenter([this](const std::string& text) { shown.push_back(text); });
  }
  void TearDown() override { SetErrorPresenter(nullptr); }
  std::vector<std::string> shown;
};

TEST_F(ErrorBoxTest, FullStopIsAddedOnlyAfterCharactersSortingAfterIt) {
  struct Case {
    const char* message;
    const char* shown;
  };
  const Case cases[] = {
      {"Unable to write to /x/y.INI", "Unable to write to /x/y.INI."},
      {"'abc' is not a valid integer value", "'abc' is not a valid integer value."},
      {"Version 2", "Version 2."},
      {"Already ends.", "Already ends."},
      {"Ends with a blank ", "Ends with a blank "},
      {"Ends with a comma,", "Ends with a comma,"},
      {"Quoted \"x\"", "Quoted \"x\""},
      {"系统退出", "系统退出."},
      {"", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ErrorBoxText(c.message), c.shown) << c.message;
}

// 9999 digits typed into the number length make a path far wider than any screen.
TEST_F(ErrorBoxTest, BoxWithALongPathStaysOnTheScreen) {
  const std::string path = "/home/lab/Pictures/voZU-" + std::string(9999, '0') + "1.bmp";
  const std::string message =
      ErrorBoxText("Cannot create file \"" + path + "\". File name too long");
  const auto box = MakeErrorMessageBox(nullptr, message);
  box->show();
  QCoreApplication::processEvents();
  const QRect screen = box->screen()->availableGeometry();
  EXPECT_LE(box->frameGeometry().width(), screen.width());
  EXPECT_LE(box->frameGeometry().height(), screen.height());
  const QString text = box->text();
  EXPECT_TRUE(text.startsWith("Cannot create file \"/home/lab/")) << text.toStdString();
  EXPECT_TRUE(text.endsWith("0001.bmp\". File name too long.")) << text.toStdString();
  EXPECT_TRUE(text.contains(QChar(0x2026)));
  box->hide();

  // A text that fits is shown as it is, as plain text.
  EXPECT_EQ(MakeErrorMessageBox(nullptr, "Unable to write to <b>/x.INI</b>.")->text(),
            "Unable to write to <b>/x.INI</b>.");
  EXPECT_EQ(MakeErrorMessageBox(nullptr, "x")->textFormat(), Qt::PlainText);
}

TEST_F(ErrorBoxTest, AnExceptionEndsTheHandlerAndIsShownOnce) {
  bool after = false;
  Guarded([&] {
    RaiseError(FormatMessage("Cannot create file \"%s\". %s", "/a/b.bmp", "No such file"));
    after = true;
  });
  EXPECT_FALSE(after);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], "Cannot create file \"/a/b.bmp\". No such file.");

  Guarded([] { throw std::logic_error("plain"); });
  Guarded([] {});
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[1], "plain.");
}

TEST_F(ErrorBoxTest, ABoxThatComesWhileOneIsOpenFollowsItOnce) {
  int open = 0, deepest = 0;
  SetErrorPresenter([&](const std::string& text) {
    shown.push_back(text);
    deepest = std::max(deepest, ++open);
    if (text == "first.") {
      // Handlers that run in the open box's own event loop.
      ShowErrorBox("second", BoxTiming::AfterModalWindows);
      ShowErrorBox("first");   // the failure of the box that is open
      ShowErrorBox("second");  // the failure that already waits
      ShowErrorBox("third");
    }
    --open;
  });
  ShowErrorBox("first");
  EXPECT_EQ(shown, (std::vector<std::string>{"first.", "second.", "third."}));
  EXPECT_EQ(deepest, 1);
}

TEST_F(ErrorBoxTest, ABoxThatArrivesWaitsForAModalWindowItsOwnBoxDoesNot) {
  QDialog dialog;
  std::vector<std::string> whileOpen;
  QTimer::singleShot(0, &dialog, [&] {
    ShowErrorBox("the device was lost", BoxTiming::AfterModalWindows);
    ShowErrorBox("the dialog's own");
    EXPECT_TRUE(harness::WaitForPostedEvents());  // a box that did not wait would be here
    whileOpen = shown;
    dialog.reject();
  });
  dialog.exec();
  EXPECT_EQ(whileOpen, std::vector<std::string>{"the dialog's own."});
  EXPECT_TRUE(harness::WaitFor([&] { return shown.size() == 2; }));
  EXPECT_EQ(shown, (std::vector<std::string>{"the dialog's own.", "the device was lost."}));
}

}  // namespace
