#include "FormFixture.h"
#include "ParamName.h"

#include "platform/RuntimeError.h"

#include <QApplication>
#include <QHeaderView>
#include <QTest>
#include <QTreeView>

using tavik::test::PrintTo;

using namespace tavik;

namespace {

using tavik::test::PrintTo;

// The list with the control's six columns and a few rows, each holding all five sub-items.
class ListTest : public FormTest {
protected:
    void SetUp() override {
        FormTest::SetUp();
        const double W = list().width();
        const std::pair<const char*, double> columns[] = {
            {"Comment", W / 2.16},     {"Type", W / 6.5},       {"Location", W / 8},
            {"Effective Date", W / 8}, {"Expires Date", W / 8}, {"CommentSequence", 0}};
        for (const auto& [text, width] : columns)
            list().addColumn(text, width);
        for (const char* text : {"Call first", "Dock closed", "Cash only", "Back door"}) {
            const int row = list().addItem(text);
            for (int sub = 1; sub <= 5; ++sub)
                list().setSubItem(row, sub, std::string(text) + "/" + std::to_string(sub));
        }
        view = real<QTreeView>("lstComments");
        QApplication::processEvents();
    }

    platform::ListView& list() { return form->lstComments(); }
    QPoint rowCentre(int row) const {
        return view->visualRect(view->model()->index(row, 0)).center();
    }
    void clickRow(int row) {
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rowCentre(row));
    }

    QTreeView* view = nullptr;
};

TEST_F(ListTest, SixColumnsWithTheWidthsAsGivenAndAHiddenSixthThatStillHoldsValues) {
    ASSERT_EQ(list().columnCount(), 6);
    EXPECT_EQ(list().columnText(5), "CommentSequence");
    EXPECT_DOUBLE_EQ(list().columnWidth(0), 10290 / 2.16);
    EXPECT_EQ(view->header()->sectionSize(0), 318); // 4763.89 twips
    EXPECT_EQ(view->header()->sectionSize(1), 106);
    // The zero-width sixth holds values, but the view (and so a screen reader) offers five.
    EXPECT_EQ(view->header()->count(), 5);
    EXPECT_EQ(list().subItem(3, 5), "Back door/5");
    EXPECT_THROW(list().columnText(6), platform::RuntimeError);
}

TEST_F(ListTest, RowsAreAppendedInOrderAndBadIndicesThrow) {
    EXPECT_EQ(list().addItem("Last"), 4);
    EXPECT_EQ(list().count(), 5);
    list().setItemText(4, "Really last");
    EXPECT_EQ(list().itemText(4), "Really last");
    EXPECT_EQ(list().subItem(4, 3), "");

    EXPECT_THROW(list().remove(5), platform::RuntimeError);
    EXPECT_THROW(list().remove(-1), platform::RuntimeError);
    EXPECT_THROW(list().itemText(5), platform::RuntimeError);
    EXPECT_THROW(list().subItem(0, 0), platform::RuntimeError);
    EXPECT_THROW(list().subItem(0, 6), platform::RuntimeError);
    EXPECT_THROW(list().setSubItem(9, 1, "x"), platform::RuntimeError);
    EXPECT_EQ(list().count(), 5);
}

TEST_F(ListTest, SelectionFollowsItsRowAndEndsWithItsRemovalOrAClear) {
    EXPECT_EQ(list().selectedIndex(), -1);
    EXPECT_THROW(list().selectedItem(), platform::RuntimeError);
    clickRow(2);
    EXPECT_EQ(list().selectedItem(), 2);
    list().remove(0);
    EXPECT_EQ(list().selectedIndex(), 1);
    list().remove(1);
    EXPECT_EQ(list().selectedIndex(), -1);
    clickRow(0);
    list().clearItems();
    EXPECT_EQ(list().selectedIndex(), -1);
    EXPECT_EQ(list().count(), 0);
}

// The list keeps its texts in UTF-8 and converts only what a cell shows: the start of a long
// text, cut after 1,000 UTF-16 units. What it shows and reads back is what Qt makes of the
// whole text, broken bytes included.
TEST_F(ListTest, CellsShowAndReadBackWhatQtMakesOfTheirTexts) {
    const auto repeat = [](const std::string& piece, int times) {
        std::string text;
        for (int i = 0; i < times; ++i)
            text += piece;
        return text;
    };
    const std::string texts[] = {
        "plain",
        repeat("x", 1000),
        repeat("x", 1001),
        repeat("\u4E2D", 1000), // three bytes, one unit each
        repeat("\u4E2D", 1001),
        repeat("\U0001F600", 501), // four bytes, two units each
        "a" + repeat("\u00E9", 1500),
        "broken \xFF\xC3 bytes",
        repeat("\xE4\xB8", 1600), // cut short, 1,600 times over
    };
    for (const std::string& text : texts) {
        SCOPED_TRACE(text.substr(0, 20));
        const int row = list().addItem(text);
        list().setSubItem(row, 2, text);
        const QString whole = QString::fromStdString(text);
        const QString shown = whole.size() > 1000 ? whole.left(1000) + QChar(0x2026) : whole;
        for (const int column : {0, 2})
            EXPECT_EQ(view->model()->index(row, column).data().toString(), shown);
        EXPECT_EQ(list().itemText(row), whole.toStdString());
        EXPECT_EQ(list().subItem(row, 2), whole.toStdString());
    }
}

TEST_F(ListTest, ClickAndDoubleClickRaiseTheirEventsAfterTheSelectionMoved) {
    std::vector<int> seen;
    events.onListClick = [&] { seen.push_back(list().selectedIndex()); };
    events.onListDblClick = [&] { seen.push_back(list().selectedIndex()); };
    clickRow(1);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rowCentre(3));
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, rowCentre(3));
    const std::vector<std::string> expected{"lstComments_Click", "lstComments_Click",
                                            "lstComments_DblClick"};
    EXPECT_EQ(events.log, expected);
    EXPECT_EQ(seen, (std::vector<int>{1, 3, 3}));
}

struct KeyCase {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    int keyCode;
    int shift;
};

class KeyUpTest : public ListTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(KeyUpTest, ReleasesReportWindowsKeyCodesAndShiftBits) {
    list().setFocus();
    QTest::keyClick(view, GetParam().key, GetParam().modifiers);
    // The modifier's own release follows, as its own KeyUp; a key that moved the selection
    // raised Click before.
    std::erase(events.log, "lstComments_Click");
    ASSERT_FALSE(events.log.empty());
    EXPECT_EQ(events.log.front(), "KeyUp(" + std::to_string(GetParam().keyCode) + "," +
                                      std::to_string(GetParam().shift) + ")");
}

INSTANTIATE_TEST_SUITE_P(
    Keys, KeyUpTest,
    ::testing::Values(KeyCase{Qt::Key_Up, {}, 38, 0}, KeyCase{Qt::Key_Down, {}, 40, 0},
                      KeyCase{Qt::Key_PageUp, {}, 33, 0}, KeyCase{Qt::Key_PageDown, {}, 34, 0},
                      KeyCase{Qt::Key_End, {}, 35, 0}, KeyCase{Qt::Key_Home, {}, 36, 0},
                      KeyCase{Qt::Key_C, {}, 67, 0}, KeyCase{Qt::Key_5, {}, 53, 0},
                      KeyCase{Qt::Key_Down, Qt::ShiftModifier, 40, 1},
                      KeyCase{Qt::Key_Down, Qt::ControlModifier, 40, 2},
                      KeyCase{Qt::Key_Down, Qt::AltModifier, 40, 4}));

// Click follows every move of the held key; KeyUp comes once, at the end.
TEST_F(ListTest, HoldingAKeyReportsOneReleaseAtTheEndAfterTheSelectionMoved) {
    list().setFocus();
    clickRow(0);
    events.log.clear();
    for (int i = 0; i < 2; ++i) {
        QTest::sendKeyEvent(QTest::Press, view, Qt::Key_Down, QString(), {});
        QKeyEvent repeat(QEvent::KeyRelease, Qt::Key_Down, {}, QString(), true);
        QApplication::sendEvent(view, &repeat);
    }
    QTest::sendKeyEvent(QTest::Release, view, Qt::Key_Down, QString(), {});
    const std::vector<std::string> expected{"lstComments_Click", "lstComments_Click",
                                            "KeyUp(40,0)"};
    EXPECT_EQ(events.log, expected);
    EXPECT_EQ(list().selectedIndex(), 2);
}

TEST_F(ListTest, TypingALetterMovesToTheNextRowStartingWithIt) {
    list().setFocus();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      view->visualRect(view->model()->index(0, 2)).center());
    QTest::keyClick(view, Qt::Key_B); // searches the row text, not the clicked cell
    EXPECT_EQ(list().selectedIndex(), 3);
}

// The control's own changes to the rows move the selection without raising Click.
TEST_F(ListTest, RemovingOrClearingRowsRaisesNothing) {
    clickRow(1);
    events.log.clear();
    list().remove(1);
    clickRow(2);
    events.log.clear();
    list().clearItems();
    EXPECT_TRUE(events.log.empty());
    EXPECT_EQ(list().selectedIndex(), -1);
}

TEST_F(ListTest, HeaderClickRaisesColumnClickOnlyAndNeverSorts) {
    clickRow(1);
    events.log.clear();
    QHeaderView* header = view->header();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(0) + 10, header->height() / 2));
    EXPECT_EQ(events.log, std::vector<std::string>{"ColumnClick(0)"});
    EXPECT_EQ(list().itemText(0), "Call first");
    EXPECT_EQ(list().selectedIndex(), 1);
}

TEST_F(ListTest, ADisabledListRaisesNoEvents) {
    list().setEnabled(false);
    clickRow(1);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, rowCentre(1));
    QTest::keyClick(view, Qt::Key_Down);
    QHeaderView* header = view->header();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(10, header->height() / 2));
    EXPECT_TRUE(events.log.empty());
    EXPECT_EQ(list().selectedIndex(), -1);
}

TEST_F(ListTest, HiddenSelectionShowsOnlyWhileTheListHasTheFocus) {
    const auto highlight = [&] {
        return view->palette().color(QPalette::Active, QPalette::Highlight);
    };
    const QColor base = QApplication::palette().color(QPalette::Base);
    ASSERT_TRUE(list().hideSelection());
    form->txtComment().setFocus();
    EXPECT_EQ(highlight(), base);
    list().setFocus();
    EXPECT_NE(highlight(), base);
    form->txtComment().setFocus();
    list().setHideSelection(false);
    EXPECT_NE(highlight(), base);

    list().setBackColor(platform::vbButtonFace);
    EXPECT_EQ(list().backColor(), platform::vbButtonFace);
    EXPECT_EQ(view->palette().color(QPalette::Base),
              QApplication::palette().color(QPalette::Button));
}

} // namespace
