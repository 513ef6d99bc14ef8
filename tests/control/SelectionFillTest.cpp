// Browsing: a row click or an arrow key release copies the selected row into the editor;
// the date check boxes show and hide their pickers; the comment box refuses Enter.

#include "ControlFixture.h"

#include <QHeaderView>
#include <QTest>
#include <QTreeView>

using namespace tavik;

namespace {

std::string pickerDate(platform::Form& form, int index) {
    return platform::isoDate(form.DateBox(index).value());
}

} // namespace

TEST_F(ControlTest, RowClickFillsTheEditorFromTheRow) {
    load("1");
    selectRow(2); // Prices fixed | General | Office | 4/1/2009 | 12/31/2009 | 3

    EXPECT_EQ(form().txtComment().text(), "Prices fixed");
    EXPECT_EQ(form().cboType().listIndex(), 0);
    EXPECT_EQ(form().cboLocation().listIndex(), 1);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(form().chkDate(i).value(), 1);
        EXPECT_TRUE(form().DateBox(i).visible());
    }
    EXPECT_EQ(pickerDate(form(), 0), "2009-04-01");
    EXPECT_EQ(pickerDate(form(), 1), "2009-12-31");
    EXPECT_EQ(control->state().mstrSequence, "3");
    EXPECT_TRUE(form().cmdEdit().enabled());
    EXPECT_TRUE(form().cmdDelete().enabled());
    // The fill leaves the editor read-only.
    EXPECT_TRUE(form().txtComment().locked());
    EXPECT_FALSE(form().chkDate(0).enabled());

    selectRow(1); // no dates: boxes unchecked, pickers hidden holding the server date
    EXPECT_EQ(form().txtComment().text(), "Don`t ship on Fridays");
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(form().chkDate(i).value(), 0);
        EXPECT_FALSE(form().DateBox(i).visible());
        EXPECT_EQ(pickerDate(form(), i), "2009-03-23");
    }
}

TEST_F(ControlTest, ViewOnlyModeNeverEnablesEditOrDelete) {
    load("0");
    selectRow(0);
    EXPECT_EQ(form().txtComment().text(), "Call first");
    EXPECT_FALSE(form().cmdEdit().enabled());
    EXPECT_FALSE(form().cmdDelete().enabled());
    doubleClickRow(0);
    EXPECT_EQ(form().cmdEdit().caption(), "Edit");
    EXPECT_EQ(control->state().mstrAction, "");
}

TEST_F(ControlTest, FillTrimsDatesAndSequenceButMatchesLookupsExactly) {
    setDocument(LoadDocument()
                    .loc("1", "Dock")
                    .loc("2", "Dock")
                    .typ("4", "General")
                    .typ("5", "Shipping")
                    .grid(" 7 ", "Shipping", "Dock", " 3/1/2009 ", "   ", "spaced")
                    .grid("8", "general", "Dock ", "", "", "no exact match")
                    .grid("", "General", "Dock", "", "", "no sequence")
                    .str());
    load("1");

    selectRow(0);
    EXPECT_EQ(control->state().mstrSequence, "7");
    EXPECT_EQ(form().chkDate(0).value(), 1);
    EXPECT_EQ(pickerDate(form(), 0), "2009-03-01");
    EXPECT_EQ(form().chkDate(1).value(), 0);
    EXPECT_EQ(form().cboType().listIndex(), 1);
    EXPECT_EQ(form().cboLocation().listIndex(), 0); // the first of two equal entries

    selectRow(1); // "general" and "Dock " match nothing: the selections stay
    EXPECT_EQ(form().cboType().listIndex(), 1);
    EXPECT_EQ(form().cboLocation().listIndex(), 0);
    EXPECT_TRUE(form().cmdEdit().enabled());

    selectRow(2); // no sequence: nothing to edit or delete
    EXPECT_EQ(control->state().mstrSequence, "");
    EXPECT_FALSE(form().cmdEdit().enabled());
    EXPECT_FALSE(form().cmdDelete().enabled());
}

// The fill stops where the picker refuses a date. The editor then shows part of the row
// without its key, so Edit and Delete, which would act on the row shown before, are off.
TEST_F(ControlTest, DateThePickerRefusesEndsTheFillAndDisarmsEditAndDelete) {
    setDocument(LoadDocument()
                    .loc("12", "Dock")
                    .typ("4", "General")
                    .grid("1", "General", "Dock", "", "", "good")
                    .grid("2", "General", "Dock", "not a date", "", "bad")
                    .grid("3", "General", "Dock", "1/1/1700", "", "too early")
                    .str());
    load("1");
    for (int row : {1, 2}) {
        selectRow(0);
        selectRow(row);
        EXPECT_EQ(form().txtComment().text(), form().lstComments().itemText(row)) << row;
        EXPECT_EQ(form().chkDate(0).value(), 1) << row;   // set before the picker refused
        EXPECT_FALSE(form().DateBox(0).visible()) << row; // the click handler never ran
        EXPECT_EQ(control->state().mstrSequence, "") << row;
        EXPECT_FALSE(form().cmdEdit().enabled()) << row;
        EXPECT_FALSE(form().cmdDelete().enabled()) << row;
        EXPECT_TRUE(boxes.empty());
    }
    // Nor does a double click open it for an update of the row shown before.
    doubleClickRow(2);
    type(" changed");
    click("cmdAdd");
    EXPECT_EQ(statements(), std::vector<std::string>{});
}

TEST_F(ControlTest, RowClickWhileAddingOnlyResetsThePickers) {
    load("1");
    selectRow(0);
    click("cmdAdd");
    click("chkDate(0)");
    setDate(0, 2010, 5, 6);
    type("draft");
    selectRow(2);
    EXPECT_EQ(pickerDate(form(), 0), "2009-03-23");
    EXPECT_EQ(form().txtComment().text(), "draft");
    EXPECT_EQ(form().chkDate(0).value(), 1);
    EXPECT_EQ(control->state().mstrSequence, "1");
    EXPECT_EQ(control->state().mstrAction, "Add");
}

TEST_F(ControlTest, ColumnClickNeitherSortsNorSelects) {
    load("1");
    selectRow(1);
    const auto before = control->state();
    auto* header = qobject_cast<QTreeView*>(widget("lstComments"))->header();
    for (int column : {0, 1, 0}) {
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(column) + 5, 5));
    }
    EXPECT_EQ(form().lstComments().itemText(0), "Call first");
    EXPECT_EQ(form().lstComments().itemText(2), "Prices fixed");
    EXPECT_EQ(form().lstComments().selectedIndex(), 1);
    EXPECT_EQ(control->state().mstrSequence, before.mstrSequence);
}

TEST_F(ControlTest, DateCheckBoxShowsAndHidesItsPickerKeepingTheDate) {
    load("1");
    click("cmdAdd");
    click("chkDate(1)");
    EXPECT_TRUE(form().DateBox(1).visible());
    EXPECT_FALSE(form().DateBox(0).visible());
    setDate(1, 2011, 2, 3);
    click("chkDate(1)");
    EXPECT_FALSE(form().DateBox(1).visible());
    click("chkDate(1)");
    EXPECT_TRUE(form().DateBox(1).visible());
    EXPECT_EQ(pickerDate(form(), 1), "2011-02-03");
}

TEST_F(ControlTest, CommentBoxDropsEnterButKeepsLineFeedsAndApostrophes) {
    load("1");
    click("cmdAdd");
    type("a\rb\nc'd");
    EXPECT_EQ(form().txtComment().text(), "ab\nc'd");
}

TEST_F(ControlTest, LockedCommentBoxTakesNoTyping) {
    load("1");
    type("x");
    EXPECT_EQ(form().txtComment().text(), "");
}
