#include "widgets/TSpinEdit.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QLocale>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <cstring>

namespace {

// A shown window with the field and a second control to take the focus away to.
struct Form {
  QWidget window;
  TSpinEdit spin{&window};
  QLineEdit other{&window};
  QSignalSpy changed{&spin, &TSpinEdit::Changed};

  Form(int32_t min, int32_t max, int32_t value) {
    QLocale::setDefault(QLocale::c());  // "." is the decimal separator
    spin.SetMinValue(min);
    if (max != 0) {
      spin.SetMaxValue(max);
    }
    spin.SetValue(value);
    spin.setGeometry(0, 0, 40, 21);
    other.setGeometry(0, 30, 40, 21);
    window.show();
    window.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    spin.setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(spin.Editor()->hasFocus());
    changed.clear();
  }
  void Retype(const QString& text) {
    spin.Editor()->selectAll();
    QTest::keyClick(spin.Editor(), Qt::Key_Backspace);
    QTest::keyClicks(spin.Editor(), text);
  }
  void LeaveField() { other.setFocus(Qt::TabFocusReason); }
};

TEST(TSpinEditTest, TypedTextReadsAsNumberAndIsClampedOnlyWhenFocusLeaves) {
  struct Case {
    int32_t min, max;  // max 0: no maximum
    const char* typed;
    int32_t valueWhileTyping;
    const char* textAfterLeaving;
  };
  for (const Case& c :
       {Case{1, 5, "9", 9, "5"}, Case{1, 5, "", 1, ""}, Case{1, 5, "-2", -2, "1"},
        Case{1, 5, "+4", 4, "+4"}, Case{1, 5, "1.5", 1, "1.5"}, Case{1, 5, "-", 1, "-"},
        Case{1, 0, "0", 0, "1"}, Case{1, 0, "9999", 9999, "9999"},
        Case{1, 60, "99999999999", 1, "99999999999"}}) {
    SCOPED_TRACE(c.typed);
    Form form(c.min, c.max, 3);
    form.Retype(c.typed);
    EXPECT_EQ(form.spin.Value(), c.valueWhileTyping);
    // One notification for the emptying, one per typed character.
    EXPECT_EQ(form.changed.count(), 1 + qsizetype(strlen(c.typed)));
    form.changed.clear();
    form.LeaveField();
    EXPECT_EQ(form.spin.Text(), c.textAfterLeaving);
    EXPECT_EQ(form.changed.count(), c.typed == form.spin.Text() ? 0 : 1);
  }
}

// An error box shown from a change handler takes the focus too; clamping then would raise the
// next change (and the next box) from inside the first.
TEST(TSpinEditTest, AnotherWindowTakingTheFocusLeavesTheTextAlone) {
  Form form(1, 5, 3);
  form.Retype("9");
  QWidget box;
  box.show();
  box.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&box));
  EXPECT_FALSE(form.spin.Editor()->hasFocus());
  EXPECT_EQ(form.spin.Text(), "9");
}

TEST(TSpinEditTest, KeysOtherThanNumberCharactersAndControlKeysAreDropped) {
  Form form(1, 5, 3);
  form.spin.Editor()->end(false);
  for (const auto key : {Qt::Key_A, Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter, Qt::Key_X}) {
    QTest::keyClick(form.spin.Editor(), key);
  }
  QTest::keyClicks(form.spin.Editor(), "$*,e");
  EXPECT_EQ(form.spin.Text(), "3");
  EXPECT_EQ(form.changed.count(), 0);

  QTest::keyClick(form.spin.Editor(), Qt::Key_A, Qt::ControlModifier);  // select all
  QTest::keyClick(form.spin.Editor(), Qt::Key_4, Qt::KeypadModifier);
  EXPECT_EQ(form.spin.Text(), "4");
}

TEST(TSpinEditTest, ArrowsStepByOneWithinLimits) {
  Form form(1, 5, 4);
  const auto buttons = form.spin.findChildren<QToolButton*>();
  ASSERT_EQ(buttons.size(), 2);
  QToolButton* up = buttons[0]->arrowType() == Qt::UpArrow ? buttons[0] : buttons[1];
  QToolButton* down = up == buttons[0] ? buttons[1] : buttons[0];

  QTest::keyClick(form.spin.Editor(), Qt::Key_Up);
  QTest::mouseClick(up, Qt::LeftButton);
  EXPECT_EQ(form.spin.Text(), "5");
  EXPECT_EQ(form.changed.count(), 1);  // the step at the limit changes nothing
  EXPECT_TRUE(form.spin.Editor()->hasFocus());

  form.spin.SetText("2");
  QTest::keyClick(form.spin.Editor(), Qt::Key_Down);
  QTest::mouseClick(down, Qt::LeftButton);
  EXPECT_EQ(form.spin.Text(), "1");

  form.spin.SetText("9");  // out of range: an arrow brings it back inside
  QTest::keyClick(form.spin.Editor(), Qt::Key_Up);
  EXPECT_EQ(form.spin.Text(), "5");
  form.spin.SetText("abc");  // no number: steps from the minimum
  QTest::mouseClick(up, Qt::LeftButton);
  EXPECT_EQ(form.spin.Text(), "2");
}

TEST(TSpinEditTest, ProgramValuesAreClampedAndNotifyOnlyOnChange) {
  Form form(1, 6, 2);
  form.spin.SetValue(9);
  form.spin.SetValue(7);
  form.spin.SetValue(-5);
  EXPECT_EQ(form.spin.Text(), "1");
  EXPECT_EQ(form.changed.count(), 2);

  form.spin.SetNoMaximum();
  form.spin.SetValue(INT32_MAX);
  QTest::keyClick(form.spin.Editor(), Qt::Key_Up);
  EXPECT_EQ(form.spin.Value(), INT32_MAX);
}

TEST(TSpinEditTest, LengthLimitStopsTypingButNotTheProgram) {
  Form form(1, 0, 1);
  form.spin.SetMaxLength(4);
  form.Retype("123456");
  EXPECT_EQ(form.spin.Text(), "1234");

  form.spin.SetValue(123456);
  EXPECT_EQ(form.spin.Text(), "123456");
  form.spin.Editor()->end(false);
  QTest::keyClick(form.spin.Editor(), Qt::Key_Backspace);
  EXPECT_EQ(form.spin.Text(), "12345");
  QTest::keyClick(form.spin.Editor(), Qt::Key_7);
  EXPECT_EQ(form.spin.Text(), "12345");
}

}  // namespace
