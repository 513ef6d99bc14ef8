#include "FormFixture.h"

#include "platform/RuntimeError.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <chrono>
#include <climits>
#include <functional>

using namespace tavik;

namespace {

using platform::vbButtonFace;
using platform::vbWindowBackground;

TEST_F(FormTest, CaptionsReadBackExactlyAndButtonClicksRaiseTheirEvents) {
    form->cmdAdd().setCaption("Save & Close");
    EXPECT_EQ(form->cmdAdd().caption(), "Save & Close");
    EXPECT_EQ(real<QPushButton>("cmdAdd")->text(), "Save && Close"); // no mnemonic
    form->lblVersionNumber().setCaption("Version Number: <b>2.0.6</b>");
    EXPECT_EQ(form->lblVersionNumber().caption(), "Version Number: <b>2.0.6</b>");
    EXPECT_EQ(real<QLabel>("lblVersionNumber")->textFormat(), Qt::PlainText);

    QTest::mouseClick(real("cmdEdit"), Qt::LeftButton);
    QTest::mouseClick(real("cmdDelete"), Qt::LeftButton);
    EXPECT_EQ(events.log, (std::vector<std::string>{"cmdEdit_Click", "cmdDelete_Click"}));
}

TEST_F(FormTest, TextBoxKeepsTheProgramsTextUntilTheUserEdits) {
    platform::TextBox& box = form->txtComment();
    auto* edit = real<QPlainTextEdit>("txtComment");
    box.setText("first\r\nsecond");
    EXPECT_EQ(box.text(), "first\r\nsecond");
    EXPECT_EQ(edit->blockCount(), 2); // one line break shown, not two

    box.setLocked(false);
    edit->moveCursor(QTextCursor::End);
    QTest::keyClicks(edit, "!");
    EXPECT_EQ(box.text(), "first\nsecond!");
}

// A word far wider than the box is shown in pieces that Qt can lay out lazily; whatever the
// user does at the seams, the text read back is the text the box shows.
TEST_F(FormTest, LongWordsReadBackWholeWhateverIsDoneAtTheirSeams) {
    platform::TextBox& box = form->txtComment();
    auto* edit = real<QPlainTextEdit>("txtComment");
    const std::string word(2500, 'w');
    const std::string head(1024, 'w'), tail(1476, 'w');
    const int seam = 1025; // where the second piece starts in the box
    const struct {
        const char* name;
        std::function<void()> act;
        std::string expected;
    } cases[] = {
        {"nothing", [] {}, word},
        {"typeAtTheSeam", [&] { QTest::keyClicks(edit, "x"); }, head + "x" + tail},
        {"enterAtTheSeam", [&] { QTest::keyClick(edit, Qt::Key_Return); }, head + "\n" + tail},
        {"typeAtTheEndOfTheFirstPiece",
         [&] {
             edit->moveCursor(QTextCursor::PreviousCharacter);
             QTest::keyClicks(edit, "y");
         },
         head + "y" + tail},
        {"pasteALongWord",
         [&] {
             edit->moveCursor(QTextCursor::End);
             QApplication::clipboard()->setText(QString(3000, 'p'));
             edit->paste();
         },
         word + std::string(3000, 'p')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        box.setText(word);
        box.setLocked(false);
        QTextCursor cursor = edit->textCursor();
        cursor.setPosition(seam);
        edit->setTextCursor(cursor);
        c.act();
        EXPECT_EQ(box.text(), c.expected);
    }
}

TEST_F(FormTest, TextBoxStartsReadOnlyLookingAndColoursFollowTheSystem) {
    platform::TextBox& box = form->txtComment();
    auto* edit = real<QPlainTextEdit>("txtComment");
    EXPECT_TRUE(box.locked());
    EXPECT_EQ(box.backColor(), vbButtonFace);
    EXPECT_EQ(edit->palette().color(QPalette::Base),
              QApplication::palette().color(QPalette::Button));
    box.setBackColor(vbWindowBackground);
    EXPECT_EQ(box.backColor(), vbWindowBackground);
    EXPECT_EQ(edit->palette().color(QPalette::Base), QApplication::palette().color(QPalette::Base));
    EXPECT_THROW(box.setBackColor(0x81000000), platform::RuntimeError);
    EXPECT_EQ(box.backColor(), vbWindowBackground);
}

TEST_F(FormTest, LockedTextBoxRefusesTypingButTakesFocusAndTheProgramsText) {
    platform::TextBox& box = form->txtComment();
    box.setLocked(true);
    box.setFocus();
    EXPECT_EQ(form->focusedWidget(), "txtComment");
    QTest::keyClicks(real("txtComment"), "abc");
    QTest::keyClick(real("txtComment"), Qt::Key_Backspace);
    EXPECT_EQ(box.text(), "");
    box.setText("set by the program");
    EXPECT_EQ(box.text(), "set by the program");
}

TEST_F(FormTest, TypedCharactersPassThroughKeyPressWhichCanDropOrChangeThem) {
    events.keyFilter = [](int& KeyAscii) {
        if (KeyAscii == 13)
            KeyAscii = 0; // the control's own filter
        else if (KeyAscii == 'x')
            KeyAscii = 'y';
        else if (KeyAscii == 'z')
            throw platform::RuntimeError("Overflow");
    };
    form->txtComment().setLocked(false);
    QWidget* edit = real("txtComment");
    QTest::keyClicks(edit, "axz");
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QStringLiteral("\n"), Qt::NoModifier);
    QTest::keyClicks(edit, "'");
    QTest::keyClick(edit, Qt::Key_Left); // editing keys are not typed characters
    const std::vector<std::string> expected{"KeyPress(97)", "KeyPress(120)", "KeyPress(122)",
                                            "KeyPress(13)", "KeyPress(10)",  "KeyPress(39)"};
    EXPECT_EQ(events.log, expected);
    EXPECT_EQ(form->txtComment().text(), "ay\n'"); // a failing filter lets nothing through
    EXPECT_EQ(boxes, (std::vector<RecordedBox>{{"Overflow", 16, "Vendor Comments"}}));
}

TEST_F(FormTest, ComboBoxEntriesCarry32BitDataAndKeepNoSelectionUntilSet) {
    platform::ComboBox& box = form->cboType();
    box.addItem("General");
    EXPECT_EQ(box.newIndex(), 0);
    box.addItem("Shipping");
    EXPECT_EQ(box.newIndex(), 1);
    EXPECT_EQ(box.listIndex(), -1);
    EXPECT_EQ(box.itemData(1), 0);
    box.setItemData(1, INT32_MIN);
    EXPECT_EQ(box.itemData(1), INT32_MIN);
    EXPECT_EQ(box.list(1), "Shipping");

    for (const int bad : {-1, 2}) {
        EXPECT_THROW(box.list(bad), platform::RuntimeError);
        EXPECT_THROW(box.itemData(bad), platform::RuntimeError);
        EXPECT_THROW(box.setItemData(bad, 1), platform::RuntimeError);
    }
    box.setListIndex(1);
    EXPECT_EQ(box.listIndex(), 1);
    for (const int bad : {-2, 2})
        EXPECT_THROW(box.setListIndex(bad), platform::RuntimeError);
    EXPECT_EQ(box.listIndex(), 1);
    box.setListIndex(-1);
    EXPECT_EQ(real<QComboBox>("cboType")->currentIndex(), -1);
    box.clear();
    EXPECT_EQ(box.listCount(), 0);
}

TEST_F(FormTest, LockedComboBoxRefusesTheUsersChangesButNotTheProgramsOrTheFocus) {
    platform::ComboBox& box = form->cboLocation();
    auto* combo = real<QComboBox>("cboLocation");
    for (const char* entry : {"Dock 1", "Dock 2", "Office"})
        box.addItem(entry);
    box.setListIndex(0);
    ASSERT_TRUE(box.locked()); // laid out read-only
    box.setFocus();
    QTest::keyClick(combo, Qt::Key_Down);
    QTest::keyClick(combo, Qt::Key_O);
    QTest::mouseClick(combo, Qt::LeftButton);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_EQ(box.listIndex(), 0);
    EXPECT_EQ(form->focusedWidget(), "cboLocation");
    box.setListIndex(2);
    EXPECT_EQ(box.listIndex(), 2);

    box.setLocked(false);
    QTest::keyClick(combo, Qt::Key_Up);
    EXPECT_EQ(box.listIndex(), 1);
}

TEST_F(FormTest, LockedComboBoxIsReadOnlyToAssistiveTechnologyAndOtherwiseReadsAsQtsOwn) {
    struct Case {
        const char* name;
        bool locked;
        int index;
    };
    const Case cases[] = {
        {"locked with an entry", true, 1},
        {"unlocked with an entry", false, 1},
        {"locked without one", true, -1},
        {"unlocked without one", false, -1},
    };
    platform::ComboBox& box = form->cboLocation();
    auto* combo = real<QComboBox>("cboLocation");
    QComboBox plain(window); // what Qt itself tells of a combo box
    plain.setGeometry(combo->geometry());
    plain.setAccessibleDescription(combo->accessibleDescription());
    plain.show();
    for (QComboBox* each : {combo, &plain})
        each->setAccessibleName("Location");
    for (const char* entry : {"Dock 1", "Dock 2"}) {
        box.addItem(entry);
        plain.addItem(entry);
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        box.setLocked(c.locked);
        box.setListIndex(c.index);
        plain.setCurrentIndex(c.index);

        QAccessibleInterface* ours = QAccessible::queryAccessibleInterface(combo);
        QAccessibleInterface* qts = QAccessible::queryAccessibleInterface(&plain);
        ASSERT_NE(ours, nullptr);
        EXPECT_EQ(ours->role(), QAccessible::ComboBox);
        QAccessible::State state = ours->state();
        EXPECT_EQ(state.readOnly, c.locked);
        EXPECT_FALSE(state.editable);
        state.readOnly = false;
        state.focused = qts->state().focused;
        EXPECT_TRUE(state == qts->state());
        EXPECT_EQ(ours->text(QAccessible::Value), combo->currentText());
        for (const auto text : {QAccessible::Name, QAccessible::Value, QAccessible::Description,
                                QAccessible::Accelerator})
            EXPECT_EQ(ours->text(text).toStdString(), qts->text(text).toStdString()) << text;
        ASSERT_EQ(ours->childCount(), qts->childCount());
        EXPECT_EQ(ours->child(0)->object(), combo->view());
        EXPECT_EQ(ours->indexOfChild(ours->child(0)), 0);
        const QStringList actions = ours->actionInterface()->actionNames();
        EXPECT_EQ(actions, c.locked ? QStringList() : qts->actionInterface()->actionNames());
        const QString press = QAccessibleActionInterface::pressAction();
        EXPECT_EQ(ours->actionInterface()->localizedActionDescription(press),
                  qts->actionInterface()->localizedActionDescription(press));
        ours->actionInterface()->doAction(press);
        EXPECT_EQ(QApplication::activePopupWidget() != nullptr, !c.locked);
        combo->hidePopup();
    }
}

TEST_F(FormTest, CheckBoxClicksToggleAndRaiseClickButValuesFromCodeDoNot) {
    platform::CheckBox& box = form->chkDate(1);
    QWidget* widget = real("chkDate(1)");
    QTest::mouseClick(widget, Qt::LeftButton);
    EXPECT_EQ(box.value(), 1);
    QTest::mouseClick(widget, Qt::LeftButton);
    EXPECT_EQ(box.value(), 0);
    box.setValue(2);
    EXPECT_EQ(real<QCheckBox>("chkDate(1)")->checkState(), Qt::PartiallyChecked);
    QTest::mouseClick(widget, Qt::LeftButton);
    EXPECT_EQ(box.value(), 1); // greyed becomes checked
    box.setValue(0);
    EXPECT_THROW(box.setValue(3), platform::RuntimeError);
    EXPECT_EQ(box.value(), 0);

    box.setEnabled(false);
    QTest::mouseClick(widget, Qt::LeftButton);
    EXPECT_EQ(box.value(), 0);
    const std::vector<std::string> expected(3, "chkDate_Click(1)");
    EXPECT_EQ(events.log, expected);
}

platform::DateTime dateTime(int y, unsigned m, unsigned d, int seconds = 0) {
    return {std::chrono::sys_days{std::chrono::year{y} / m / d}, std::chrono::seconds{seconds}};
}

TEST_F(FormTest, DatePickerShowsItsFormatAndKeepsTheTimeOfTheTextSet) {
    platform::DatePicker& picker = form->DateBox(0);
    EXPECT_EQ(picker.value(), dateTime(2002, 8, 14));
    EXPECT_FALSE(picker.visible());
    picker.setValue("3/5/2009 2:05:09 PM");
    EXPECT_EQ(picker.value(), dateTime(2009, 3, 5, 14 * 3600 + 5 * 60 + 9));
    EXPECT_EQ(real<QDateEdit>("DateBox(0)")->text(), "Mar 05, 2009");

    real<QDateEdit>("DateBox(0)")->setDate(QDate(2010, 12, 31)); // as a user picks it
    EXPECT_EQ(picker.value(), dateTime(2010, 12, 31));
}

TEST_F(FormTest, DatePickerRefusesUnreadableAndOutOfRangeTextsAndKeepsItsValue) {
    platform::DatePicker& picker = form->DateBox(1);
    picker.setValue("1753-01-01");
    for (const char* bad : {"not a date", "1700-01-01", "1/1/1752", ""}) {
        EXPECT_THROW(picker.setValue(bad), platform::RuntimeError) << bad;
        EXPECT_EQ(picker.value(), dateTime(1753, 1, 1)) << bad;
    }
    EXPECT_EQ(real<QDateEdit>("DateBox(1)")->date(), QDate(1753, 1, 1));
}

TEST(DatePickerVisibility, IsRelativeToTheFormSoItWorksBeforeTheWindowIsShown) {
    RecordingEvents events;
    const auto form = platform::createForm(designLayout(), events);
    EXPECT_FALSE(form->DateBox(1).visible());
    form->DateBox(1).setVisible(true);
    EXPECT_TRUE(form->DateBox(1).visible());
    EXPECT_FALSE(platform::qt::findWidget(*form, "DateBox(1)")->isVisible());
}

} // namespace
