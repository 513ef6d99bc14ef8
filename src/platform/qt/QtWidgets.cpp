#include "QtWidgets.h"

#include "../RuntimeError.h"
#include "../Screen.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFocusEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMimeData>
#include <QMouseEvent>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTreeView>
#include <QWheelEvent>

#include <array>
#include <chrono>
#include <cmath>
#include <exception>
#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace platform::qt {

namespace {

constexpr const char* kInvalidPropertyValue = "Invalid property value";
constexpr const char* kInvalidArrayIndex = "Invalid property array index";
constexpr const char* kIndexOutOfBounds = "Index out of bounds";

QString toQString(const std::string& text) {
    return QString::fromStdString(text);
}

// "&" would otherwise turn the next letter into a mnemonic.
QString withoutMnemonics(const std::string& caption) {
    return toQString(caption).replace(QLatin1Char('&'), QLatin1String("&&"));
}

OleColor designBackColor(const WidgetPlacement& placement) {
    return placement.backColor.value_or(vbWindowBackground);
}

// Base is the role the text box, the list and the combo's popup fill their background with.
void setBaseColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Base, color);
    widget->setPalette(palette);
}

QDate toQDate(const DateTime& value) {
    const std::chrono::year_month_day ymd{value.date};
    return QDate(static_cast<int>(ymd.year()), static_cast<int>(static_cast<unsigned>(ymd.month())),
                 static_cast<int>(static_cast<unsigned>(ymd.day())));
}

DateTime fromQDate(const QDate& date) {
    const std::chrono::year_month_day ymd{std::chrono::year{date.year()},
                                          std::chrono::month{static_cast<unsigned>(date.month())},
                                          std::chrono::day{static_cast<unsigned>(date.day())}};
    return DateTime{std::chrono::sys_days{ymd}, std::chrono::seconds{0}};
}

// The earliest and latest dates a picker accepts.
const QDate kMinimumDate(1753, 1, 1);
const QDate kMaximumDate(9999, 12, 31);

// Windows virtual key codes for the keys the list reports on release; 0 for other keys.
int virtualKeyCode(int key) {
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9))
        return key; // same codes as their ASCII capitals and digits
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return 112 + (key - Qt::Key_F1);
    switch (key) {
    case Qt::Key_Backspace:
        return 8;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return 9;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Shift:
        return 16;
    case Qt::Key_Control:
        return 17;
    case Qt::Key_Alt:
        return 18;
    case Qt::Key_Pause:
        return 19;
    case Qt::Key_CapsLock:
        return 20;
    case Qt::Key_Escape:
        return 27;
    case Qt::Key_Space:
        return 32;
    case Qt::Key_PageUp:
        return 33;
    case Qt::Key_PageDown:
        return 34;
    case Qt::Key_End:
        return 35;
    case Qt::Key_Home:
        return 36;
    case Qt::Key_Left:
        return 37;
    case Qt::Key_Up:
        return 38;
    case Qt::Key_Right:
        return 39;
    case Qt::Key_Down:
        return 40;
    case Qt::Key_Insert:
        return 45;
    case Qt::Key_Delete:
        return 46;
    default:
        return 0;
    }
}

int shiftState(Qt::KeyboardModifiers modifiers) {
    return (modifiers.testFlag(Qt::ShiftModifier) ? 1 : 0) |
           (modifiers.testFlag(Qt::ControlModifier) ? 2 : 0) |
           (modifiers.testFlag(Qt::AltModifier) ? 4 : 0);
}

} // namespace

namespace detail {

// A plain-text editor whose typed characters pass through the KeyPress handler first, and
// which remembers the program's text exactly until the user changes it.
//
// Qt lays out a paragraph as a whole, and a word far wider than the box costs time that grows
// with the square of its length (a 1 MiB word froze the box for a minute). Such a word is
// shown in pieces of kWordPiece characters, a paragraph each, which Qt lays out only when
// they come into view. The breaks between the pieces are remembered as cursors that stay at
// the start of the piece after them; they are no part of the text.
class CommentEdit final : public QPlainTextEdit {
public:
    static constexpr int kWordPiece = 1024;

    explicit CommentEdit(QWidget* parent) : QPlainTextEdit(parent) {
        setLineWrapMode(QPlainTextEdit::WidgetWidth);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setTabChangesFocus(true);
        connect(this, &QPlainTextEdit::textChanged, this, [this] {
            if (!settingText_)
                userEdited_ = true;
        });
    }

    std::function<void(int&)> keyPress;

    // The text as the box holds it, character for character: unlike toPlainText, no-break
    // spaces and line separators stay what they are; paragraphs are joined by line feeds,
    // the pieces of a long word by nothing.
    std::string value() const {
        if (!userEdited_)
            return programText_;
        std::set<int> joins;
        for (const QTextCursor& join : joins_)
            joins.insert(join.position());
        QString text;
        for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
            if (block.position() > 0 && !joins.count(block.position()))
                text += QLatin1Char('\n');
            text += block.text();
        }
        return text.toStdString();
    }

    void setValue(const std::string& text) {
        programText_ = text;
        // The editor would take each "\r" of "\r\n" for a line break of its own.
        QString shown = toQString(text);
        shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        settingText_ = true;
        joins_.clear();
        std::vector<int> joins;
        setPlainText(inPieces(shown, joins));
        addJoins(0, joins);
        settingText_ = false;
        userEdited_ = false;
    }

    void setLocked(bool locked) {
        setReadOnly(locked);
        setFocusPolicy(Qt::StrongFocus); // read-only must not cost the focus
    }

protected:
    // A paste or drop: a long word in it is cut into pieces as the program's text is.
    void insertFromMimeData(const QMimeData* source) override {
        if (isReadOnly() || !source->hasText())
            return;
        QTextCursor cursor = textCursor();
        std::vector<int> joins;
        const QString shown = inPieces(source->text(), joins);
        cursor.removeSelectedText();
        const int start = cursor.position();
        cursor.insertText(shown);
        addJoins(start, joins);
        setTextCursor(cursor);
        ensureCursorVisible();
    }

private:
    // The text with a paragraph break after every kWordPiece characters of a word; `joins`
    // receives the offsets where a piece starts.
    static QString inPieces(const QString& text, std::vector<int>& joins) {
        QString shown;
        shown.reserve(text.size() + text.size() / kWordPiece);
        qsizetype wordLength = 0;
        for (const QChar c : text) {
            if (c.isSpace()) {
                wordLength = 0;
            } else if (++wordLength > kWordPiece) {
                shown += QLatin1Char('\n');
                joins.push_back(int(shown.size()));
                wordLength = 1;
            }
            shown += c;
        }
        return shown;
    }

    void addJoins(int start, const std::vector<int>& offsets) {
        for (const int offset : offsets) {
            // A cursor made on the block, not moved there: moving lays the block out.
            QTextCursor join(document()->findBlock(start + offset));
            join.setKeepPositionOnInsert(true); // text typed there joins the piece
            joins_.push_back(join);
        }
    }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (!isTypedText(*event)) {
            QPlainTextEdit::keyPressEvent(event);
            return;
        }
        event->accept();
        QString accepted;
        for (const char32_t typed : event->text().toUcs4()) {
            int code = static_cast<int>(typed);
            if (keyPress) {
                bool filtered = false;
                raiseEvent([&] {
                    keyPress(code);
                    filtered = true;
                });
                if (!filtered)
                    code = 0; // a filter that failed passes nothing
            }
            if (code == 13 || code == 10)
                accepted += QLatin1Char('\n');
            else if (code > 0 && code <= 0x10FFFF) {
                const char32_t character = static_cast<char32_t>(code);
                accepted += QString::fromUcs4(&character, 1);
            }
        }
        if (accepted.isEmpty() || isReadOnly())
            return;
        insertPlainText(accepted);
        ensureCursorVisible();
    }

private:
    // Characters a user types, as opposed to editing keys and shortcuts, which keep Qt's
    // handling. Control+Alt stays typing: it is AltGr on some keyboards.
    static bool isTypedText(const QKeyEvent& event) {
        const QString text = event.text();
        if (text.isEmpty())
            return false;
        const Qt::KeyboardModifiers modifiers = event.modifiers();
        const bool altGr =
            modifiers.testFlag(Qt::ControlModifier) && modifiers.testFlag(Qt::AltModifier);
        if ((modifiers.testFlag(Qt::ControlModifier) || modifiers.testFlag(Qt::MetaModifier)) &&
            !altGr)
            return false;
        for (const char32_t c : text.toUcs4()) {
            if (c != U'\r' && c != U'\n' && !QChar::isPrint(c))
                return false;
        }
        return true;
    }

    std::string programText_;
    std::vector<QTextCursor> joins_;
    bool userEdited_ = false;
    bool settingText_ = false;
};

// A drop-down list that, while locked, shows its entry and takes the focus but lets no
// mouse, wheel or key change the selection.
class LockableComboBox final : public QComboBox {
public:
    explicit LockableComboBox(QWidget* parent) : QComboBox(parent) {}
    bool locked = false;

    void showPopup() override {
        if (!locked)
            QComboBox::showPopup();
    }

protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (locked)
            event->accept(); // the click has already given the focus
        else
            QComboBox::mousePressEvent(event);
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (locked)
            event->accept();
        else
            QComboBox::mouseReleaseEvent(event);
    }
    void wheelEvent(QWheelEvent* event) override {
        if (locked)
            event->ignore();
        else
            QComboBox::wheelEvent(event);
    }
    void keyPressEvent(QKeyEvent* event) override {
        if (locked)
            event->ignore(); // Tab navigation is handled before this
        else
            QComboBox::keyPressEvent(event);
    }
};

// A tri-state box the program can set to greyed, whose user clicks only toggle between
// unchecked and checked.
class TwoStateClickCheckBox final : public QCheckBox {
public:
    explicit TwoStateClickCheckBox(QWidget* parent) : QCheckBox(parent) { setTristate(true); }

protected:
    void nextCheckState() override {
        setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    }
};

// The rows of the report list: a text and five sub-items each, under the column headers.
class ReportModel final : public QAbstractTableModel {
public:
    static constexpr int kFields = 6; // the text and sub-items 1 to 5
    static constexpr int kShownCharacters = 1000;
    using Row = std::array<QString, kFields>;

    explicit ReportModel(QObject* parent) : QAbstractTableModel(parent) {}

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(rows_.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(headers_.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid() || index.column() >= kFields)
            return {};
        // A cell shows the start of its text, elided: no column is wide enough for more,
        // and measuring a long comment whole at every paint would stall the list.
        const QString& text =
            rows_[static_cast<std::size_t>(index.row())][static_cast<std::size_t>(index.column())];
        return text.size() > kShownCharacters ? text.left(kShownCharacters) + QChar(0x2026) : text;
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
            section >= columnCount())
            return {};
        return headers_[static_cast<std::size_t>(section)];
    }
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        if (!index.isValid())
            return Qt::NoItemFlags;
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    }

    void appendColumn(const QString& header) {
        const int at = columnCount();
        beginInsertColumns({}, at, at);
        headers_.push_back(header);
        endInsertColumns();
    }
    const QString& header(int column) const { return headers_[static_cast<std::size_t>(column)]; }

    int appendRow(const QString& text) {
        const int at = rowCount();
        beginInsertRows({}, at, at);
        rows_.emplace_back();
        rows_.back()[0] = text;
        endInsertRows();
        return at;
    }
    void removeRowAt(int row) {
        beginRemoveRows({}, row, row);
        rows_.erase(rows_.begin() + row);
        endRemoveRows();
    }
    void clearRows() {
        beginResetModel();
        rows_.clear();
        rows_.shrink_to_fit();
        endResetModel();
    }
    const QString& field(int row, int field) const {
        return rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(field)];
    }
    void setField(int row, int field, QString text) {
        QString& cell = rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(field)];
        if (cell == text)
            return;
        cell = std::move(text);
        if (field < columnCount()) {
            const QModelIndex changed = index(row, field);
            emit dataChanged(changed, changed, {Qt::DisplayRole});
        }
    }

private:
    std::vector<QString> headers_;
    std::vector<Row> rows_;
};

// The report-style list: whole-row single selection, never sorted, never edited in place,
// raising the list's events after Qt has moved the selection.
class ReportView final : public QTreeView {
public:
    explicit ReportView(QWidget* parent) : QTreeView(parent) {
        setRootIsDecorated(false);
        setItemsExpandable(false);
        setUniformRowHeights(true);
        setSelectionMode(QAbstractItemView::SingleSelection);
        setSelectionBehavior(QAbstractItemView::SelectRows);
        setEditTriggers(QAbstractItemView::NoEditTriggers);
        setSortingEnabled(false);
        setAllColumnsShowFocus(true);
        QHeaderView* columns = header();
        columns->setMinimumSectionSize(0);
        columns->setStretchLastSection(false);
        columns->setSectionsMovable(false);
        columns->setSectionsClickable(true);
        columns->setSortIndicatorShown(false);
        connect(columns, &QHeaderView::sectionClicked, this, [this](int column) {
            if (isEnabled() && columnClick)
                raiseEvent([&] { columnClick(column); });
        });
    }

    std::function<void()> click;
    std::function<void()> dblClick;
    std::function<void(int, int)> keyDown;
    std::function<void(int, int)> keyUp;
    std::function<void(int)> columnClick;

    OleColor backColor = vbWindowBackground;
    bool hideSelection = true;

    // The background, and a highlight that vanishes while hidden selections are asked for
    // and the list lacks the focus.
    void refreshPalette() {
        QPalette palette = QApplication::palette(this);
        const QColor base = colorFromOle(backColor);
        palette.setColor(QPalette::Base, base);
        if (hideSelection && !hasFocus()) {
            for (const auto group : {QPalette::Active, QPalette::Inactive}) {
                palette.setColor(group, QPalette::Highlight, base);
                palette.setColor(group, QPalette::HighlightedText,
                                 palette.color(group, QPalette::Text));
            }
        }
        setPalette(palette);
    }

    void keyboardSearch(const QString& search) override {
        // Typing looks for the row's text, whichever cell was clicked last.
        const QModelIndex current = currentIndex();
        if (current.isValid() && current.column() != 0)
            selectionModel()->setCurrentIndex(current.siblingAtColumn(0),
                                              QItemSelectionModel::NoUpdate);
        QTreeView::keyboardSearch(search);
    }

protected:
    void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override {
        // Qt would select the next row in place of a removed current one; the list instead
        // is left with no selection.
        const QModelIndex current = currentIndex();
        if (current.isValid() && current.row() >= start && current.row() <= end)
            selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
        QTreeView::rowsAboutToBeRemoved(parent, start, end);
    }
    void mousePressEvent(QMouseEvent* event) override {
        QTreeView::mousePressEvent(event);
        if (event->button() == Qt::LeftButton)
            clickArmed_ = true;
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        QTreeView::mouseReleaseEvent(event);
        if (event->button() == Qt::LeftButton && clickArmed_) {
            clickArmed_ = false;
            raise(click);
        }
    }
    void mouseDoubleClickEvent(QMouseEvent* event) override {
        QTreeView::mouseDoubleClickEvent(event);
        if (event->button() == Qt::LeftButton) {
            clickArmed_ = false; // the release that ends a double click is no click
            raise(dblClick);
        }
    }
    void keyPressEvent(QKeyEvent* event) override {
        const int code = virtualKeyCode(event->key());
        if (code != 0 && !event->isAutoRepeat() && isEnabled() && keyDown) {
            const int shift = shiftState(event->modifiers());
            raiseEvent([&] { keyDown(code, shift); });
        }
        QTreeView::keyPressEvent(event);
    }
    void keyReleaseEvent(QKeyEvent* event) override {
        if (event->isAutoRepeat()) {
            event->accept();
            return;
        }
        const int code = virtualKeyCode(event->key());
        if (code == 0) {
            QTreeView::keyReleaseEvent(event);
            return;
        }
        event->accept();
        if (isEnabled() && keyUp) {
            const int shift = shiftState(event->modifiers());
            raiseEvent([&] { keyUp(code, shift); });
        }
    }
    void focusInEvent(QFocusEvent* event) override {
        QTreeView::focusInEvent(event);
        if (hideSelection)
            refreshPalette();
    }
    void focusOutEvent(QFocusEvent* event) override {
        QTreeView::focusOutEvent(event);
        if (hideSelection)
            refreshPalette();
    }

private:
    void raise(const std::function<void()>& handler) {
        if (isEnabled() && handler)
            raiseEvent(handler);
    }

    bool clickArmed_ = false;
};

} // namespace detail

int twipsToPixels(double twips, int dpi) {
    return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

QColor colorFromOle(OleColor color) {
    if (color & 0x80000000u) {
        // Windows system colours by index, as the nearest palette colour.
        static constexpr std::array<QPalette::ColorRole, 25> roles{
            QPalette::Mid,             // 0 scroll bar
            QPalette::Window,          // 1 desktop
            QPalette::Highlight,       // 2 active caption
            QPalette::Window,          // 3 inactive caption
            QPalette::Window,          // 4 menu
            QPalette::Base,            // 5 window background
            QPalette::Shadow,          // 6 window frame
            QPalette::WindowText,      // 7 menu text
            QPalette::Text,            // 8 window text
            QPalette::HighlightedText, // 9 caption text
            QPalette::Window,          // 10 active border
            QPalette::Window,          // 11 inactive border
            QPalette::Dark,            // 12 application workspace
            QPalette::Highlight,       // 13 highlight
            QPalette::HighlightedText, // 14 highlighted text
            QPalette::Button,          // 15 button face
            QPalette::Dark,            // 16 button shadow
            QPalette::PlaceholderText, // 17 grey text
            QPalette::ButtonText,      // 18 button text
            QPalette::WindowText,      // 19 inactive caption text
            QPalette::Light,           // 20 button highlight
            QPalette::Shadow,          // 21 3-D dark shadow
            QPalette::Midlight,        // 22 3-D light
            QPalette::ToolTipText,     // 23 tooltip text
            QPalette::ToolTipBase,     // 24 tooltip background
        };
        const OleColor index = color & 0x7FFFFFFFu;
        if (index >= roles.size())
            throw RuntimeError(kInvalidPropertyValue);
        return QGuiApplication::palette().color(QPalette::Active, roles[index]);
    }
    if (color > 0x00FFFFFFu)
        throw RuntimeError(kInvalidPropertyValue);
    return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                  static_cast<int>((color >> 16) & 0xFF));
}

void focusOrThrow(QWidget* widget, const QWidget* form) {
    if (!widget->isEnabled() || !widget->isVisibleTo(form) || widget->focusPolicy() == Qt::NoFocus)
        throw RuntimeError("Invalid procedure call");
    widget->setFocus(Qt::OtherFocusReason);
}

void raiseEvent(const std::function<void()>& handler) {
    if (!handler)
        return;
    std::optional<std::string> failure;
    try {
        handler();
    } catch (const std::exception& error) {
        Trapped("an event handler", error);
        failure = error.what();
    } catch (...) {
        failure = "Unexpected error";
    }
    if (!failure)
        return;
    try {
        MsgBox(*failure, vbCritical, "Vendor Comments");
    } catch (...) {
        // Nothing is left to tell the user with; the event loop must go on regardless.
    }
}

// CommandButton

QtCommandButton::QtCommandButton(QWidget* parent, const WidgetPlacement& placement)
    : button_(new QPushButton(parent)) {
    setCaption(placement.caption);
}

void QtCommandButton::onClick(std::function<void()> handler) {
    QObject::connect(button_, &QPushButton::clicked, button_,
                     [handler = std::move(handler)] { raiseEvent(handler); });
}

void QtCommandButton::setCaption(const std::string& caption) {
    caption_ = caption;
    button_->setText(withoutMnemonics(caption));
}

bool QtCommandButton::enabled() const {
    return button_->isEnabled();
}
void QtCommandButton::setEnabled(bool enabled) {
    button_->setEnabled(enabled);
}

// TextBox

QtTextBox::QtTextBox(QWidget* parent, const QWidget* form, const WidgetPlacement& placement)
    : edit_(new detail::CommentEdit(parent)), form_(form), backColor_(designBackColor(placement)) {
    edit_->setValue(placement.caption);
    setBackColor(backColor_);
    // A box laid out with the read-only colour starts read-only.
    setLocked(backColor_ == vbButtonFace);
}

QWidget* QtTextBox::widget() const {
    return edit_;
}
void QtTextBox::onKeyPress(std::function<void(int&)> handler) {
    edit_->keyPress = std::move(handler);
}
std::string QtTextBox::text() const {
    return edit_->value();
}
void QtTextBox::setText(const std::string& text) {
    edit_->setValue(text);
}
bool QtTextBox::locked() const {
    return edit_->isReadOnly();
}
void QtTextBox::setLocked(bool locked) {
    edit_->setLocked(locked);
}

void QtTextBox::setBackColor(OleColor color) {
    setBaseColor(edit_, colorFromOle(color));
    backColor_ = color;
}

void QtTextBox::setFocus() {
    focusOrThrow(edit_, form_);
}

// ComboBox

QtComboBox::QtComboBox(QWidget* parent, const QWidget* form, const WidgetPlacement& placement)
    : box_(new detail::LockableComboBox(parent)), form_(form),
      backColor_(designBackColor(placement)) {
    box_->setEditable(false);
    box_->setInsertPolicy(QComboBox::NoInsert);
    setBackColor(backColor_);
    setLocked(backColor_ == vbButtonFace);
}

QComboBox* QtComboBox::widget() const {
    return box_;
}

void QtComboBox::addItem(const std::string& text) {
    // Qt selects the first entry added to an empty box; the list keeps its selection.
    const int selected = box_->currentIndex();
    box_->addItem(toQString(text), QVariant::fromValue<qint32>(0));
    if (box_->currentIndex() != selected)
        box_->setCurrentIndex(selected);
    newIndex_ = box_->count() - 1;
}

void QtComboBox::checkIndex(int index) const {
    if (index < 0 || index >= box_->count())
        throw RuntimeError(kInvalidArrayIndex);
}

std::int32_t QtComboBox::itemData(int index) const {
    checkIndex(index);
    return box_->itemData(index).value<qint32>();
}

void QtComboBox::setItemData(int index, std::int32_t data) {
    checkIndex(index);
    box_->setItemData(index, QVariant::fromValue<qint32>(data));
}

std::string QtComboBox::list(int index) const {
    checkIndex(index);
    return box_->itemText(index).toStdString();
}

int QtComboBox::listCount() const {
    return box_->count();
}
int QtComboBox::listIndex() const {
    return box_->currentIndex();
}

void QtComboBox::setListIndex(int index) {
    if (index < -1 || index >= box_->count())
        throw RuntimeError(kInvalidPropertyValue);
    box_->setCurrentIndex(index);
}

void QtComboBox::clear() {
    box_->clear();
    newIndex_ = -1;
}

bool QtComboBox::locked() const {
    return box_->locked;
}

void QtComboBox::setLocked(bool locked) {
    box_->locked = locked;
    if (locked)
        box_->hidePopup();
}

void QtComboBox::setBackColor(OleColor color) {
    // A drop-down list draws its face with the Button role and its popup with Base.
    const QColor shown = colorFromOle(color);
    QPalette palette = box_->palette();
    palette.setColor(QPalette::Base, shown);
    palette.setColor(QPalette::Button, shown);
    box_->setPalette(palette);
    backColor_ = color;
}

void QtComboBox::setFocus() {
    focusOrThrow(box_, form_);
}

// CheckBox

QtCheckBox::QtCheckBox(QWidget* parent, const QWidget* form, const WidgetPlacement& placement)
    : box_(new detail::TwoStateClickCheckBox(parent)), form_(form) {
    box_->setText(withoutMnemonics(placement.caption));
}

void QtCheckBox::onClick(std::function<void()> handler) {
    QObject::connect(box_, &QCheckBox::clicked, box_,
                     [handler = std::move(handler)] { raiseEvent(handler); });
}

int QtCheckBox::value() const {
    switch (box_->checkState()) {
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    default:
        return 0;
    }
}

void QtCheckBox::setValue(int value) {
    static constexpr std::array<Qt::CheckState, 3> states{Qt::Unchecked, Qt::Checked,
                                                          Qt::PartiallyChecked};
    if (value < 0 || value > 2)
        throw RuntimeError(kInvalidPropertyValue);
    box_->setCheckState(states[static_cast<std::size_t>(value)]);
}

bool QtCheckBox::enabled() const {
    return box_->isEnabled();
}
void QtCheckBox::setEnabled(bool enabled) {
    box_->setEnabled(enabled);
}
void QtCheckBox::setFocus() {
    focusOrThrow(box_, form_);
}

// DatePicker

QtDatePicker::QtDatePicker(QWidget* parent, const QWidget* form, const WidgetPlacement& placement)
    : edit_(new QDateEdit(parent)),
      form_(form), value_{std::chrono::sys_days{std::chrono::year{2002} / 8 / 14},
                          std::chrono::seconds{0}} {
    edit_->setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
    edit_->setDateRange(kMinimumDate, kMaximumDate);
    if (!placement.customFormat.empty())
        edit_->setDisplayFormat(toQString(placement.customFormat));
    edit_->setCalendarPopup(true);
    edit_->setDate(toQDate(value_));
    edit_->setVisible(placement.visible);
    QObject::connect(edit_, &QDateEdit::dateChanged, edit_, [this](QDate date) {
        if (!settingValue_ && date.isValid())
            value_ = fromQDate(date);
    });
}

void QtDatePicker::setValue(const std::string& dateText) {
    const DateTime parsed = CDate(dateText);
    const QDate date = toQDate(parsed);
    if (!date.isValid() || date < kMinimumDate || date > kMaximumDate)
        throw RuntimeError(kInvalidPropertyValue);
    settingValue_ = true;
    edit_->setDate(date);
    settingValue_ = false;
    value_ = parsed;
}

bool QtDatePicker::visible() const {
    return edit_->isVisibleTo(form_);
}
void QtDatePicker::setVisible(bool visible) {
    edit_->setVisible(visible);
}
bool QtDatePicker::enabled() const {
    return edit_->isEnabled();
}
void QtDatePicker::setEnabled(bool enabled) {
    edit_->setEnabled(enabled);
}
void QtDatePicker::setFocus() {
    focusOrThrow(edit_, form_);
}

// ListView

QtListView::QtListView(QWidget* parent, const QWidget* form, const WidgetPlacement& placement)
    : view_(new detail::ReportView(parent)), model_(new detail::ReportModel(view_)), form_(form) {
    view_->setModel(model_);
    view_->backColor = designBackColor(placement);
    view_->refreshPalette();
}

QWidget* QtListView::widget() const {
    return view_;
}
void QtListView::onClick(std::function<void()> handler) {
    view_->click = std::move(handler);
}
void QtListView::onDblClick(std::function<void()> handler) {
    view_->dblClick = std::move(handler);
}
void QtListView::onKeyDown(std::function<void(int, int)> handler) {
    view_->keyDown = std::move(handler);
}
void QtListView::onKeyUp(std::function<void(int, int)> handler) {
    view_->keyUp = std::move(handler);
}
void QtListView::onColumnClick(std::function<void(int)> handler) {
    view_->columnClick = std::move(handler);
}

void QtListView::addColumn(const std::string& text, double widthTwips) {
    model_->appendColumn(toQString(text));
    columnWidths_.push_back(widthTwips);
    const int column = model_->columnCount() - 1;
    view_->header()->resizeSection(column,
                                   std::max(0, twipsToPixels(widthTwips, view_->logicalDpiX())));
}

void QtListView::checkColumn(int column) const {
    if (column < 0 || column >= columnCount())
        throw RuntimeError(kIndexOutOfBounds);
}

std::string QtListView::columnText(int column) const {
    checkColumn(column);
    return model_->header(column).toStdString();
}

double QtListView::columnWidth(int column) const {
    checkColumn(column);
    return columnWidths_[static_cast<std::size_t>(column)];
}

int QtListView::addItem(const std::string& text) {
    return model_->appendRow(toQString(text));
}
void QtListView::clearItems() {
    model_->clearRows();
}
int QtListView::count() const {
    return model_->rowCount();
}

void QtListView::checkRow(int index) const {
    if (index < 0 || index >= model_->rowCount())
        throw RuntimeError(kIndexOutOfBounds);
}

void QtListView::remove(int index) {
    checkRow(index);
    model_->removeRowAt(index);
}

std::string QtListView::itemText(int index) const {
    checkRow(index);
    return model_->field(index, 0).toStdString();
}

void QtListView::setItemText(int index, const std::string& text) {
    checkRow(index);
    model_->setField(index, 0, toQString(text));
}

std::string QtListView::subItem(int index, int subItem) const {
    checkRow(index);
    if (subItem < 1 || subItem >= detail::ReportModel::kFields)
        throw RuntimeError(kInvalidPropertyValue);
    return model_->field(index, subItem).toStdString();
}

void QtListView::setSubItem(int index, int subItem, const std::string& text) {
    checkRow(index);
    if (subItem < 1 || subItem >= detail::ReportModel::kFields)
        throw RuntimeError(kInvalidPropertyValue);
    model_->setField(index, subItem, toQString(text));
}

int QtListView::selectedIndex() const {
    const QItemSelection selection = view_->selectionModel()->selection();
    for (const QItemSelectionRange& range : selection) {
        if (range.isValid())
            return range.top();
    }
    return -1;
}

double QtListView::width() const {
    return view_->width() * 1440.0 / view_->logicalDpiX();
}
bool QtListView::enabled() const {
    return view_->isEnabled();
}
void QtListView::setEnabled(bool enabled) {
    view_->setEnabled(enabled);
}
bool QtListView::hideSelection() const {
    return view_->hideSelection;
}

void QtListView::setHideSelection(bool hide) {
    view_->hideSelection = hide;
    view_->refreshPalette();
}

OleColor QtListView::backColor() const {
    return view_->backColor;
}

void QtListView::setBackColor(OleColor color) {
    colorFromOle(color); // refuses an invalid value before anything changes
    view_->backColor = color;
    view_->refreshPalette();
}

void QtListView::setFocus() {
    focusOrThrow(view_, form_);
}

// Label

QtLabel::QtLabel(QWidget* parent, const WidgetPlacement& placement) : label_(new QLabel(parent)) {
    label_->setTextFormat(Qt::PlainText);
    label_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setCaption(placement.caption);
}

void QtLabel::setCaption(const std::string& caption) {
    caption_ = caption;
    label_->setText(toQString(caption));
}

} // namespace platform::qt
