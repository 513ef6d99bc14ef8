// The control for every user: what a screen reader hears, tooltips for cut-off texts, the
// size a layout gives it, the keyboard, and a palette switched while it is shown.

#include "ControlFixture.h"
#include "ParamName.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QHelpEvent>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QTreeView>
#include <QVBoxLayout>

#include <map>

using tavik::test::PrintTo;

using namespace tavik;

using platform::vbButtonFace;
using platform::vbWindowBackground;

namespace {

using tavik::test::PrintTo;

// What a screen reader announces for a widget: the label that names it, without its colon,
// or else the widget's own name. (On Linux a combo box's own name is its current entry;
// its label is what names it.)
QString announcedName(QAccessibleInterface* iface) {
    const auto labels = iface->relations(QAccessible::Label);
    if (labels.isEmpty())
        return iface->text(QAccessible::Name);
    QString label = labels.first().first->text(QAccessible::Name);
    if (label.endsWith(QLatin1Char(':')))
        label.chop(1);
    return label;
}

// Every widget that can take the focus, found by walking the accessibility tree down from
// the window, by object name ("cboType popup" for an unnamed part of cboType); the list's
// cells are left to the list.
void collectFocusable(QAccessibleInterface* iface,
                      std::map<std::string, QAccessibleInterface*>& found) {
    if (auto* widget = qobject_cast<QWidget*>(iface->object());
        widget && widget->focusPolicy() != Qt::NoFocus && !widget->focusProxy()) {
        const QWidget* named = widget;
        while (named->objectName().isEmpty())
            named = named->parentWidget();
        found[named->objectName().toStdString() + (named == widget ? "" : " popup")] = iface;
    }
    if (iface->tableInterface())
        return;
    for (int i = 0; i < iface->childCount(); ++i) {
        if (QAccessibleInterface* child = iface->child(i))
            collectFocusable(child, found);
    }
}

} // namespace

TEST_F(ControlTest, AScreenReaderFindsANameForEveryInput) {
    load("1");
    selectRow(2); // both dates, so both pickers are shown
    std::map<std::string, QAccessibleInterface*> found;
    collectFocusable(QAccessible::queryAccessibleInterface(window), found);

    const std::map<std::string, std::string> expected{{"lstComments", "Comments"},
                                                      {"txtComment", "Comment"},
                                                      {"cboLocation", "Location"},
                                                      {"cboLocation popup", "Location"},
                                                      {"cboType", "Type"},
                                                      {"cboType popup", "Type"},
                                                      {"chkDate(0)", "Effective Date"},
                                                      {"DateBox(0)", "Effective Date value"},
                                                      {"chkDate(1)", "Expires Date"},
                                                      {"DateBox(1)", "Expires Date value"},
                                                      {"cmdAdd", "New Comment"},
                                                      {"cmdEdit", "Edit"},
                                                      {"cmdDelete", "Delete"}};
    std::map<std::string, std::string> heard;
    for (const auto& [name, iface] : found)
        heard[name] = announcedName(iface).toStdString();
    EXPECT_EQ(heard, expected);
    // The control itself is named after what it holds.
    EXPECT_EQ(QAccessible::queryAccessibleInterface(window)->text(QAccessible::Name),
              "Vendor Comments");
    for (const auto& [name, iface] : found) {
        if (!name.starts_with("cmd")) {
            EXPECT_FALSE(iface->text(QAccessible::Description).isEmpty()) << name;
        }
    }

    // The list offers the five seen columns; the zero-width key column is not there.
    QAccessibleTableInterface* table = found.at("lstComments")->tableInterface();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->columnCount(), 5);
    for (int column = 0; column < table->columnCount(); ++column)
        EXPECT_NE(table->columnDescription(column), "CommentSequence");
}

// Neither a host's menu nor the scroll bars' own menu opens over the list's headers or its
// scroll bars, as none opens over its rows.
TEST_F(ControlTest, TheListsPartsOpenNoContextMenu) {
    LoadDocument document;
    document.loc("12", "Dock 1").typ("4", "General");
    for (int i = 1; i <= 40; ++i)
        document.grid(std::to_string(i), "General", "Dock 1", "", "", "row " + std::to_string(i));
    setDocument(document.str());
    load("1");
    window->setContextMenuPolicy(Qt::ActionsContextMenu);
    QAction hostAction("Host action");
    window->addAction(&hostAction);
    int menus = 0;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            ++menus;
            popup->close();
        }
    });
    closer.start(5);
    auto* view = qobject_cast<QTreeView*>(widget("lstComments"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->verticalScrollBar()->isVisible(); }));
    for (QWidget* part :
         {view->header()->viewport(), static_cast<QWidget*>(view->verticalScrollBar()),
          static_cast<QWidget*>(view->horizontalScrollBar())}) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2),
                                part->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(part, &event);
    }
    EXPECT_EQ(menus, 0);
}

namespace {

struct TipCase {
    const char* name;
    int row;
    int column;
    const char* tip; // a part of the tip, null for none: the cell shows its text whole
};

class ListTipTest : public ControlTest, public ::testing::WithParamInterface<TipCase> {};

const std::string kLongComment = [] {
    std::string text;
    while (text.size() < 5000)
        text += "Certificates of conformance for every lot. ";
    return text;
}();

} // namespace

TEST_P(ListTipTest, ACellThatCutsItsTextOffShowsItWholeInABoundedTip) {
    setDocument(LoadDocument()
                    .loc("1", "Dock")
                    .typ("2", "General")
                    .grid("1", "General", "Dock", "", "", kLongComment)
                    .grid("2", "General", "Dock", "", "", "Call first")
                    .grid("3", "General", "Dock", "", "", "First line\r\nSecond line")
                    .str());
    load("1");
    auto* view = qobject_cast<QAbstractItemView*>(widget("lstComments"));
    QToolTip::hideText();
    QTRY_VERIFY(!QToolTip::isVisible());
    const QPoint where =
        view->visualRect(view->model()->index(GetParam().row, GetParam().column)).center();
    QHelpEvent hover(QEvent::ToolTip, where, view->viewport()->mapToGlobal(where));
    QApplication::sendEvent(view->viewport(), &hover);

    EXPECT_EQ(QToolTip::isVisible(), GetParam().tip != nullptr);
    if (!GetParam().tip)
        return;
    const QString tip = QToolTip::text();
    EXPECT_TRUE(tip.contains(GetParam().tip)) << tip.left(300).toStdString();
    EXPECT_LT(tip.size(), 1200); // the start of a long comment, as the cell shows it
}

INSTANTIATE_TEST_SUITE_P(Rows, ListTipTest,
                         ::testing::Values(TipCase{"longComment", 0, 0, "every lot. Cert"},
                                           TipCase{"shortComment", 1, 0, nullptr},
                                           TipCase{"secondLineCutOff", 2, 0, "Second line"},
                                           TipCase{"typeThatFits", 0, 1, nullptr}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ControlTest, AComboBoxTipShowsItsSelectedEntryWhole) {
    setDocument(LoadDocument()
                    .loc("1", "Receiving dock behind the north warehouse, gate 4")
                    .typ("2", "General")
                    .str());
    load("1");
    click("cmdAdd");
    pick("cboLocation", 0);
    EXPECT_EQ(widget("cboLocation")->toolTip(),
              "Receiving dock behind the north warehouse, gate 4");
    EXPECT_EQ(widget("cboType")->toolTip(), "");
}

TEST_F(ControlTest, ALayoutKeepsTheDesignSizeAndFocusGoesToTheList) {
    const QSize design(698, 437);
    EXPECT_EQ(host->sizeHint(), design);
    EXPECT_EQ(host->minimumSizeHint(), design);
    EXPECT_EQ(host->sizePolicy(), QSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed));

    // In a small window's layout the control keeps its size; the window grows instead.
    QWidget small;
    auto* layout = new QVBoxLayout(&small);
    struct GiveBack { // the fixture owns the control
        QWidget* control;
        ~GiveBack() { control->setParent(nullptr); }
    } giveBack{host.get()};
    layout->addWidget(host.get());
    small.resize(300, 200);
    small.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&small));
    EXPECT_EQ(host->size(), design);
    EXPECT_GE(small.width(), design.width());

    host->setFocus();
    EXPECT_EQ(form().focusedWidget(), "lstComments");
}

namespace {

enum class Start { Browse, Adding, Editing };

struct KeyCase {
    const char* name;
    Start start;
    const char* focus; // the widget holding the focus when the key goes down
    Qt::Key key;
    const char* action; // mstrAction afterwards
    bool hostSeesKey;   // the control left the key to its host
};

class EnterEscapeTest : public ControlTest, public ::testing::WithParamInterface<KeyCase> {};

// Records the Escape presses that reach the host's widget.
class EscapeWatcher final : public QObject {
public:
    int seen = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
            ++seen;
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

TEST_P(EnterEscapeTest, EnterClicksTheFocusedButtonAndEscapeCancels) {
    load("1");
    selectRow(2);
    if (GetParam().start == Start::Adding)
        click("cmdAdd");
    if (GetParam().start == Start::Editing)
        click("cmdEdit");
    QWidget* focus = widget(GetParam().focus);
    focus->setFocus();
    ASSERT_EQ(form().focusedWidget(), GetParam().focus);
    EscapeWatcher watcher;
    host->installEventFilter(&watcher);

    QTest::keyClick(QApplication::focusWidget(), GetParam().key);

    EXPECT_EQ(control->state().mstrAction, GetParam().action);
    EXPECT_EQ(watcher.seen, GetParam().hostSeesKey ? 1 : 0);
    if (GetParam().key == Qt::Key_Escape && GetParam().start != Start::Browse) {
        // As after a click on Cancel: read-only again, showing the selected row.
        EXPECT_EQ(form().cmdEdit().caption(), "Edit");
        EXPECT_EQ(form().txtComment().text(), "Prices fixed");
        EXPECT_EQ(form().focusedWidget(), "lstComments");
    }
    EXPECT_TRUE(statements().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Keys, EnterEscapeTest,
    ::testing::Values(
        KeyCase{"enterOnNewComment", Start::Browse, "cmdAdd", Qt::Key_Return, "Add", false},
        KeyCase{"enterOnEdit", Start::Browse, "cmdEdit", Qt::Key_Enter, "Edit", false},
        KeyCase{"enterOnCancelWhileAdding", Start::Adding, "cmdEdit", Qt::Key_Return, "", false},
        KeyCase{"enterInTheCommentSavesNothing", Start::Adding, "txtComment", Qt::Key_Return, "Add",
                false},
        KeyCase{"escapeInTheCommentWhileAdding", Start::Adding, "txtComment", Qt::Key_Escape, "",
                false},
        KeyCase{"escapeInAComboWhileAdding", Start::Adding, "cboType", Qt::Key_Escape, "", false},
        KeyCase{"escapeInTheListWhileAdding", Start::Adding, "lstComments", Qt::Key_Escape, "",
                false},
        KeyCase{"escapeOnSaveWhileAdding", Start::Adding, "cmdAdd", Qt::Key_Escape, "", false},
        KeyCase{"escapeInTheCommentWhileEditing", Start::Editing, "txtComment", Qt::Key_Escape, "",
                false},
        KeyCase{"escapeInAPickerWhileEditing", Start::Editing, "DateBox(0)", Qt::Key_Escape, "",
                false},
        KeyCase{"escapeOnADateBoxWhileEditing", Start::Editing, "chkDate(1)", Qt::Key_Escape, "",
                false},
        KeyCase{"escapeInBrowseGoesToTheHost", Start::Browse, "lstComments", Qt::Key_Escape, "",
                true},
        KeyCase{"escapeInTheLockedCommentGoesToTheHost", Start::Browse, "txtComment",
                Qt::Key_Escape, "", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ControlTest, TheLockedCommentBoxShowsItsFocus) {
    load("1");
    selectRow(0);
    ASSERT_TRUE(form().txtComment().locked());
    QWidget* box = widget("txtComment");
    const auto edgeColour = [&] { return box->grab().toImage().pixelColor(0, box->height() / 2); };
    form().lstComments().setFocus();
    const QColor unfocused = edgeColour();
    form().txtComment().setFocus();
    EXPECT_EQ(edgeColour(), box->palette().color(QPalette::Highlight));
    EXPECT_NE(unfocused, box->palette().color(QPalette::Highlight));
}

namespace {

// A dark palette, switched to while the control is shown, and the light one back after.
class DarkPalette {
public:
    DarkPalette() : light_(QApplication::palette()) {
        dark.setColor(QPalette::Window, QColor(45, 45, 45));
        dark.setColor(QPalette::WindowText, Qt::white);
        dark.setColor(QPalette::Base, QColor(30, 30, 30));
        dark.setColor(QPalette::Text, Qt::white);
        dark.setColor(QPalette::Button, QColor(60, 60, 60));
        dark.setColor(QPalette::ButtonText, Qt::white);
        QApplication::setPalette(dark);
    }
    ~DarkPalette() { QApplication::setPalette(light_); }
    QPalette dark;

private:
    QPalette light_;
};

} // namespace

TEST_F(ControlTest, ASwitchToADarkPaletteRepaintsTheFieldsWithTheSameOleColours) {
    load("1");
    selectRow(0);
    QWidget* list = qobject_cast<QAbstractItemView*>(widget("lstComments"))->viewport();
    QWidget* text = widget("txtComment");
    const QColor lightList = list->palette().color(QPalette::Base);
    const QColor lightText = text->palette().color(QPalette::Base);
    DarkPalette palette;
    // Qt hands the application's palette on to the widgets from the event loop.
    QTRY_COMPARE(window->palette().color(QPalette::Window), palette.dark.color(QPalette::Window));

    EXPECT_NE(list->palette().color(QPalette::Base), lightList);
    EXPECT_EQ(list->palette().color(QPalette::Base), palette.dark.color(QPalette::Base));
    EXPECT_EQ(list->palette().color(QPalette::Text), Qt::white);
    EXPECT_NE(text->palette().color(QPalette::Base), lightText);
    EXPECT_EQ(text->palette().color(QPalette::Base), palette.dark.color(QPalette::Button));
    EXPECT_EQ(widget("cboType")->palette().color(QPalette::Button),
              palette.dark.color(QPalette::Button));
    EXPECT_EQ(form().lstComments().backColor(), vbWindowBackground);
    EXPECT_EQ(form().txtComment().backColor(), vbButtonFace);

    // What the control sets afterwards follows the dark palette too.
    click("cmdEdit");
    EXPECT_EQ(text->palette().color(QPalette::Base), palette.dark.color(QPalette::Base));
    EXPECT_EQ(list->palette().color(QPalette::Base), palette.dark.color(QPalette::Button));
}
