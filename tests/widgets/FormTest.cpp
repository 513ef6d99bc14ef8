#include "FormFixture.h"
#include "ParamName.h"

#include "platform/RuntimeError.h"

#include <QApplication>
#include <QDateEdit>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

#include <stdexcept>

using tavik::test::PrintTo;

using namespace tavik;

namespace {

using tavik::test::PrintTo;

struct Placement {
    const char* name;
    QRect pixels; // within its parent, at 96 dpi
};

class GeometryTest : public FormTest, public ::testing::WithParamInterface<Placement> {};

TEST_P(GeometryTest, DesignTwipsBecomePixels) {
    ASSERT_EQ(window->logicalDpiX(), 96);
    EXPECT_EQ(real(GetParam().name)->geometry(), GetParam().pixels);
}

TEST_P(GeometryTest, ResizingTheFormMovesNothing) {
    window->resize(300, 200);
    QApplication::processEvents();
    window->resize(1200, 900);
    QApplication::processEvents();
    EXPECT_EQ(real(GetParam().name)->geometry(), GetParam().pixels);
}

INSTANTIATE_TEST_SUITE_P(DesignLayout, GeometryTest,
                         ::testing::Values(Placement{"fraMain", QRect(4, -1, 694, 438)},
                                           Placement{"lstComments", QRect(4, 9, 686, 245)},
                                           Placement{"txtComment", QRect(5, 279, 683, 48)},
                                           Placement{"chkDate(1)", QRect(588, 337, 15, 19)},
                                           Placement{"DateBox(0)", QRect(448, 358, 95, 19)},
                                           Placement{"cmdAdd", QRect(403, 405, 81, 25)}));

TEST_F(FormTest, EveryWidgetButTheFrameSitsInTheFrameWhichTheSizeHintCovers) {
    EXPECT_EQ(real("fraMain")->parentWidget(), window);
    for (const char* name : {"lstComments", "lblVersionNumber", "cboType", "DateBox(1)"})
        EXPECT_EQ(real(name)->parentWidget(), real("fraMain")) << name;
    EXPECT_EQ(window->sizeHint(), QSize(698, 437));
    EXPECT_EQ(form->lstComments().width(), 10290);
    EXPECT_EQ(platform::qt::findWidget(*form, "nothing"), nullptr);
}

TEST_F(FormTest, TabFollowsTheTabIndexAndSkipsHiddenPickersAndLabels) {
    form->lstComments().setFocus();
    std::vector<std::string> visited{*form->focusedWidget()};
    for (int i = 0; i < 9; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.push_back(form->focusedWidget().value_or("none"));
    }
    // The locked text box and combo boxes pass Tab on as well.
    const std::vector<std::string> expected{
        "lstComments", "txtComment", "cboLocation", "cboType",    "cmdAdd",
        "cmdEdit",     "cmdDelete",  "chkDate(0)",  "chkDate(1)", "lstComments"};
    EXPECT_EQ(visited, expected);
}

TEST_F(FormTest, SetFocusNamesTheFocusedWidgetAndRefusesHiddenOrDisabledOnes) {
    form->txtComment().setFocus();
    EXPECT_EQ(form->focusedWidget(), "txtComment");
    form->chkDate(1).setFocus();
    EXPECT_EQ(form->focusedWidget(), "chkDate(1)");

    EXPECT_THROW(form->DateBox(0).setFocus(), platform::RuntimeError); // hidden by design
    form->DateBox(0).setVisible(true);
    form->DateBox(0).setFocus(); // its inner line edit takes the focus
    EXPECT_EQ(form->focusedWidget(), "DateBox(0)");

    form->lstComments().setEnabled(false);
    EXPECT_THROW(form->lstComments().setFocus(), platform::RuntimeError);
    form->chkDate(0).setEnabled(false);
    EXPECT_THROW(form->chkDate(0).setFocus(), platform::RuntimeError);
    EXPECT_EQ(form->focusedWidget(), "DateBox(0)");
    EXPECT_THROW(form->chkDate(2), platform::RuntimeError);
}

TEST_F(FormTest, FocusedWidgetIsNoneWhenTheFocusIsOutsideTheForm) {
    QWidget host;
    struct GiveBack { // the form must outlive `host`
        QWidget* form;
        ~GiveBack() { form->setParent(nullptr); }
    } giveBack{window};
    auto* layout = new QVBoxLayout(&host);
    auto* other = new QLineEdit(&host);
    layout->addWidget(other);
    layout->addWidget(window); // embedded as a host would
    host.show();
    QApplication::setActiveWindow(&host);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&host));

    form->cboType().setFocus();
    EXPECT_EQ(form->focusedWidget(), "cboType");
    other->setFocus();
    EXPECT_EQ(form->focusedWidget(), std::nullopt);
}

TEST_F(FormTest, FocusIsKnownWhileTheWindowIsInactive) {
    QWidget elsewhere;
    elsewhere.show();
    QApplication::setActiveWindow(&elsewhere);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere));
    form->cboLocation().setFocus();
    EXPECT_EQ(form->focusedWidget(), "cboLocation");
}

TEST_F(FormTest, AFailingHandlerIsReportedInACriticalBoxNotThrownIntoQt) {
    events.onCmdAdd = [] { throw platform::RuntimeError("Invalid procedure call"); };
    QTest::mouseClick(real("cmdAdd"), Qt::LeftButton);
    events.onCmdAdd = [] { throw std::logic_error("something else"); };
    QTest::mouseClick(real("cmdAdd"), Qt::LeftButton);
    const std::vector<RecordedBox> expected{
        {"Invalid procedure call", platform::vbCritical, "Vendor Comments"},
        {"something else", platform::vbCritical, "Vendor Comments"}};
    EXPECT_EQ(boxes, expected);
}

} // namespace
