#include "../MessageBox.h"

#include "WidgetSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <cstdio>
#include <utility>
#include <vector>

namespace tavik::platform {

namespace {

MessageBoxHandler messageBoxHandler;

bool haveWidgetApplication() {
    return qobject_cast<QApplication*>(QCoreApplication::instance());
}

QMessageBox::Icon iconFor(int style) {
    switch (style & 0x70) {
    case vbCritical:
        return QMessageBox::Critical;
    case vbQuestion:
        return QMessageBox::Question;
    case vbExclamation:
        return QMessageBox::Warning;
    case vbInformation:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

struct ButtonSet {
    std::vector<std::pair<QMessageBox::StandardButton, int>> buttons; // with their answers
};

ButtonSet buttonsFor(int style) {
    using B = QMessageBox;
    switch (style & 7) {
    case 1:
        return {{{B::Ok, vbOK}, {B::Cancel, 2}}};
    case 2:
        return {{{B::Abort, 3}, {B::Retry, 4}, {B::Ignore, 5}}};
    case 3:
        return {{{B::Yes, vbYes}, {B::No, vbNo}, {B::Cancel, 2}}};
    case vbYesNo:
        return {{{B::Yes, vbYes}, {B::No, vbNo}}};
    case 5:
        return {{{B::Retry, 4}, {B::Cancel, 2}}};
    default:
        return {{{B::Ok, vbOK}}};
    }
}

// The answer a box gives when it cannot be shown: the one that changes nothing.
int safeAnswer(const ButtonSet& set) {
    for (const auto& [button, answer] : set.buttons) {
        if (button == QMessageBox::No || button == QMessageBox::Cancel)
            return answer;
    }
    return set.buttons.front().second;
}

} // namespace

int MsgBox(const std::string& prompt, int style, const std::string& title) {
    if (messageBoxHandler) {
        const MessageBoxHandler handler = messageBoxHandler; // it may replace itself
        return handler(prompt, style, title);
    }
    const ButtonSet set = buttonsFor(style);
    if (!haveWidgetApplication()) {
        std::fprintf(stderr, "%s: %s\n", title.c_str(), prompt.c_str());
        return safeAnswer(set);
    }

    QMessageBox box(iconFor(style), qt::translated(title), qt::translated(prompt),
                    QMessageBox::NoButton, QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    std::vector<std::pair<QAbstractButton*, int>> answers;
    for (const auto& [button, answer] : set.buttons)
        answers.emplace_back(box.addButton(button), answer);
    const std::size_t defaultButton = static_cast<std::size_t>((style >> 8) & 3);
    if (defaultButton < answers.size())
        box.setDefaultButton(qobject_cast<QPushButton*>(answers[defaultButton].first));
    box.exec();
    for (const auto& [button, answer] : answers) {
        if (box.clickedButton() == button)
            return answer;
    }
    return safeAnswer(set);
}

void setMessageBoxHandler(MessageBoxHandler handler) {
    messageBoxHandler = std::move(handler);
}

} // namespace tavik::platform
