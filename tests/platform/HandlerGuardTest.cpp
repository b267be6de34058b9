#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/HandlerGuard.h"

namespace {

class HandlerGuardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetErrorPresenter([this](const std::string& text) { shown.push_back(text); });
  }
  void TearDown() override { SetErrorPresenter(nullptr); }
  std::vector<std::string> shown;
};

TEST_F(HandlerGuardTest, FullStopIsAddedOnlyAfterCharactersSortingAfterIt) {
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

TEST_F(HandlerGuardTest, AnExceptionEndsTheHandlerAndIsShownOnce) {
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

}  // namespace
