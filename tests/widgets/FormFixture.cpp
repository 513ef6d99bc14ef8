#include "FormFixture.h"

#include <QApplication>
#include <QTest>

using namespace tavik;

void RecordingEvents::cmdAdd_Click() {
    log.push_back("cmdAdd_Click");
    if (onCmdAdd)
        onCmdAdd();
}
void RecordingEvents::chkDate_Click(int Index) {
    log.push_back("chkDate_Click(" + std::to_string(Index) + ")");
}
void RecordingEvents::txtComment_KeyPress(int& KeyAscii) {
    log.push_back("KeyPress(" + std::to_string(KeyAscii) + ")");
    if (keyFilter)
        keyFilter(KeyAscii);
}
void RecordingEvents::lstComments_Click() {
    log.push_back("lstComments_Click");
    if (onListClick)
        onListClick();
}
void RecordingEvents::lstComments_DblClick() {
    log.push_back("lstComments_DblClick");
    if (onListDblClick)
        onListDblClick();
}
void RecordingEvents::lstComments_KeyUp(int KeyCode, int Shift) {
    log.push_back("KeyUp(" + std::to_string(KeyCode) + "," + std::to_string(Shift) + ")");
}
void RecordingEvents::lstComments_ColumnClick(int column) {
    log.push_back("ColumnClick(" + std::to_string(column) + ")");
}
void RecordingEvents::Inet1_StateChanged(int State) {
    log.push_back("Inet1_StateChanged(" + std::to_string(State) + ")");
}

void FormTest::SetUp() {
    platform::setMessageBoxHandler(
        [this](const std::string& prompt, int style, const std::string& title) {
            boxes.push_back({prompt, style, title});
            return platform::vbOK;
        });
    form = platform::createForm(designLayout(), events);
    window = platform::qt::widgetOf(*form);
    window->show();
    QApplication::setActiveWindow(window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
}

void FormTest::TearDown() {
    form.reset();
    platform::setMessageBoxHandler({});
}

QWidget* FormTest::real(const std::string& name) const {
    QWidget* widget = platform::qt::findWidget(*form, name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}
