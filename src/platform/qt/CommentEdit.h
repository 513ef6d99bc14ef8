#pragma once

#include "WidgetSupport.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QPen>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace tavik::platform::qt::detail {

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
        // Emptying a box already emptied by the program and untouched since has nothing to
        // reset (no text, selection or undo step), and rebuilding the document is not free:
        // a save empties the box twice.
        if (text.empty() && programText_.empty() && !userEdited_ && document()->isEmpty())
            return;
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
        // A locked box shows a caret, so that the keyboard can read and copy its text.
        if (locked)
            setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    }

protected:
    // The focus shows as a frame in the highlight colour: a locked box has no blinking caret
    // to show it, and the style draws the focus on line edits only.
    bool event(QEvent* event) override {
        const bool handled = QPlainTextEdit::event(event);
        if (event->type() == QEvent::Paint && hasFocus()) {
            QPainter painter(this);
            const int width = std::max(1, frameWidth());
            painter.setPen(QPen(palette().color(QPalette::Highlight), width));
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(
                QRectF(rect()).adjusted(width / 2.0, width / 2.0, -width / 2.0, -width / 2.0));
        }
        return handled;
    }

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

} // namespace tavik::platform::qt::detail
