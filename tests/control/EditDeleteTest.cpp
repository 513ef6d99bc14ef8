// Editing and deleting: Edit and Cancel with the widget settings of each state, the
// double click, the update and delete on the wire, and what an accepted answer changes.

#include "ControlFixture.h"

#include "editor/Statements.h"
#include "platform/MessageBox.h"

using namespace tavik;

using platform::vbButtonFace;
using platform::vbWindowBackground;

TEST_F(ControlTest, EditOpensTheSelectedRowAndFreezesTheList) {
    load("1");
    selectRow(2);
    click("cmdEdit");
    EXPECT_EQ(control->state().mstrAction, "Edit");
    EXPECT_EQ(form().cmdAdd().caption(), "Save");
    EXPECT_EQ(form().cmdEdit().caption(), "Cancel");
    EXPECT_TRUE(form().cmdEdit().enabled());
    EXPECT_FALSE(form().cmdDelete().enabled());
    EXPECT_FALSE(form().lstComments().enabled());
    EXPECT_EQ(form().lstComments().backColor(), vbButtonFace);
    EXPECT_FALSE(form().lstComments().hideSelection());
    EXPECT_FALSE(form().txtComment().locked());
    EXPECT_EQ(form().txtComment().backColor(), vbWindowBackground);
    EXPECT_EQ(form().txtComment().text(), "Prices fixed");
    EXPECT_EQ(form().cboType().listIndex(), 0);
    EXPECT_EQ(form().cboLocation().listIndex(), 1);
    EXPECT_FALSE(form().cboType().locked());
    EXPECT_EQ(form().cboLocation().backColor(), vbWindowBackground);
    EXPECT_EQ(form().focusedWidget(), "txtComment");
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(form().chkDate(i).enabled());
        EXPECT_TRUE(form().DateBox(i).enabled());
        EXPECT_TRUE(form().DateBox(i).visible()); // the row's own dates, as the fill left them
    }
}

TEST_F(ControlTest, CancelDiscardsChangesAndShowsTheRowAgain) {
    load("1");
    selectRow(0);
    click("cmdEdit");
    type(" and again");
    pick("cboType", 1);
    click("cmdEdit"); // Cancel
    EXPECT_EQ(control->state().mstrAction, "");
    EXPECT_EQ(form().cmdAdd().caption(), "New Comment");
    EXPECT_EQ(form().cmdEdit().caption(), "Edit");
    EXPECT_TRUE(form().lstComments().enabled());
    EXPECT_TRUE(form().lstComments().hideSelection());
    EXPECT_EQ(form().lstComments().backColor(), vbWindowBackground);
    EXPECT_TRUE(form().txtComment().locked());
    EXPECT_EQ(form().txtComment().backColor(), vbButtonFace);
    EXPECT_TRUE(form().cboType().locked());
    EXPECT_EQ(form().cboType().backColor(), vbButtonFace);
    EXPECT_FALSE(form().chkDate(0).enabled());
    EXPECT_FALSE(form().DateBox(1).enabled());
    EXPECT_EQ(form().focusedWidget(), "lstComments");
    // The selection fill shows the row as it was and enables Edit again.
    EXPECT_EQ(form().txtComment().text(), "Call first");
    EXPECT_EQ(form().cboType().listIndex(), 0);
    EXPECT_EQ(form().lstComments().itemText(0), "Call first");
    EXPECT_TRUE(form().cmdEdit().enabled());
    EXPECT_TRUE(form().cmdDelete().enabled());
    EXPECT_TRUE(statements().empty());
}

TEST_F(ControlTest, CancelOnAnEmptyListLeavesTheEditorCleared) {
    setDocument(LoadDocument().loc("1", "A").typ("2", "T").str());
    load("1");
    click("cmdAdd");
    type("draft");
    click("cmdEdit");
    EXPECT_EQ(form().txtComment().text(), "");
    EXPECT_TRUE(form().txtComment().locked());
    EXPECT_FALSE(form().cmdEdit().enabled());
    EXPECT_EQ(form().cmdAdd().caption(), "New Comment");
}

TEST_F(ControlTest, EditNeedsASelectedRowWithText) {
    setDocument(LoadDocument().typ("4", "General").grid("1", "General", "", "", "", "").str());
    load("1");
    selectRow(0);
    ASSERT_TRUE(form().cmdEdit().enabled());
    click("cmdEdit");
    EXPECT_EQ(form().cmdEdit().caption(), "Edit");
    EXPECT_EQ(control->state().mstrAction, "");
    EXPECT_TRUE(form().lstComments().enabled());
}

TEST_F(ControlTest, DoubleClickEditsInBrowseAndCancelsInAdding) {
    load("1");
    doubleClickRow(1);
    EXPECT_EQ(control->state().mstrAction, "Edit");
    EXPECT_EQ(form().txtComment().text(), "Don`t ship on Fridays");
    click("cmdEdit");

    click("cmdAdd");
    type("abandoned");
    doubleClickRow(2);
    EXPECT_EQ(control->state().mstrAction, "");
    EXPECT_EQ(form().cmdAdd().caption(), "New Comment");
    EXPECT_EQ(form().txtComment().text(), "Prices fixed");
}

TEST_F(ControlTest, AcceptedUpdateRewritesTheRowInPlace) {
    load("1");
    selectRow(1);
    click("cmdEdit");
    type(" ever");
    pick("cboType", 0);
    pick("cboLocation", 0);
    click("chkDate(0)");
    setDate(0, 2009, 3, 5);
    setStatementAnswer("");
    click("cmdAdd");

    ASSERT_EQ(statements().size(), 1u);
    EXPECT_EQ(statements()[0],
              UpdateStatement("318", 4, 12, "3/5/2009", "", "Don`t ship on Fridays ever", "2"));
    EXPECT_EQ(loadCount(), 1); // no reload
    const platform::ListView& list = form().lstComments();
    EXPECT_EQ(list.itemText(1), "Don`t ship on Fridays ever");
    EXPECT_EQ(list.subItem(1, 1), "General");
    EXPECT_EQ(list.subItem(1, 2), "Dock 1");
    EXPECT_EQ(list.subItem(1, 3), "Mar 05, 2009");
    EXPECT_EQ(list.subItem(1, 4), "");
    EXPECT_EQ(list.subItem(1, 5), "2");
    EXPECT_EQ(list.itemText(0), "Call first");
    EXPECT_EQ(control->state().mstrAction, "");
    EXPECT_TRUE(form().lstComments().enabled());
    // The fill shows the rewritten row, whose date the picker reads back.
    EXPECT_EQ(form().txtComment().text(), "Don`t ship on Fridays ever");
    EXPECT_EQ(form().chkDate(0).value(), 1);
    EXPECT_EQ(platform::isoDate(form().DateBox(0).value()), "2009-03-05");
}

TEST_F(ControlTest, DeleteAnsweredNoSendsNothing) {
    load("1");
    selectRow(0);
    click("cmdDelete");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0],
              (ShownBox{"Do you want to delete the selected comment", 36, "Vendor Comments"}));
    EXPECT_TRUE(statements().empty());
    EXPECT_FALSE(control->state().mblnDeleting);
    EXPECT_EQ(form().lstComments().count(), 3);
}

TEST_F(ControlTest, AcceptedDeleteRemovesTheRowWithoutAReload) {
    load("1", "V100");
    selectRow(1);
    click("chkDate(0)"); // disabled in Browse: ignored
    answers.push_back(platform::vbYes);
    setStatementAnswer("  ");
    click("cmdDelete");

    ASSERT_EQ(statements().size(), 1u);
    EXPECT_EQ(statements()[0], "DELETE FROM VendorComment Where vendorID = V100 And "
                               "CommentSequence = 2");
    EXPECT_EQ(loadCount(), 1);
    const platform::ListView& list = form().lstComments();
    ASSERT_EQ(list.count(), 2);
    EXPECT_EQ(list.itemText(1), "Prices fixed");
    EXPECT_FALSE(form().cmdEdit().enabled());
    EXPECT_FALSE(form().cmdDelete().enabled());
    EXPECT_EQ(form().txtComment().text(), "");
    EXPECT_EQ(form().cboType().listIndex(), -1);
    EXPECT_EQ(form().cboLocation().listIndex(), -1);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(form().chkDate(i).value(), 0);
        EXPECT_FALSE(form().DateBox(i).visible());
    }
    EXPECT_FALSE(control->state().mblnDeleting);
    EXPECT_EQ(control->state().mstrSequence, "2"); // still the deleted row's
}

// A refused delete must not leave the flag set: the next accepted save would otherwise be
// taken for a delete and remove a row the server kept.
TEST_F(ControlTest, RefusedDeleteClearsTheFlagSoALaterSaveIsNotADelete) {
    load("1");
    selectRow(0);
    answers.push_back(platform::vbYes);
    setStatementAnswer("Row is locked");
    click("cmdDelete");
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1],
              (ShownBox{"Row is locked   Unsuccessful attempt ", 16, "Vendor  Comment - ERROR"}));
    EXPECT_FALSE(control->state().mblnDeleting);
    EXPECT_EQ(form().lstComments().count(), 3);

    click("cmdEdit");
    type("!");
    setStatementAnswer("");
    click("cmdAdd");
    EXPECT_EQ(form().lstComments().count(), 3);
    EXPECT_EQ(form().lstComments().itemText(0), "Call first!");
}

TEST_F(ControlTest, FailedDeleteTransferClearsTheFlag) {
    load("1");
    selectRow(0);
    answers.push_back(platform::vbYes);
    server.http.stop();
    click("cmdDelete");
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1], (ShownBox{" Error !  ", 48, "ERROR"}));
    EXPECT_FALSE(control->state().mblnDeleting);
    EXPECT_EQ(form().lstComments().count(), 3);
}
