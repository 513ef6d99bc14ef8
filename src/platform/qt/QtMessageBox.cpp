#include "../MessageBox.h"

#include "Logging.h"
#include "QtForm.h"
#include "WidgetSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

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

int MsgBox(const std::string& prompt, int style, const std::string& title, Form* owner) {
    if (messageBoxHandler) {
        const MessageBoxHandler handler = messageBoxHandler; // it may replace itself
        return handler(prompt, style, title);
    }
    const ButtonSet set = buttonsFor(style);
    if (!haveWidgetApplication()) {
        qCWarning(qt::lcWidget, "%s: %s", title.c_str(), prompt.c_str());
        return safeAnswer(set);
    }

    // The box belongs to the owner's window, which the host may delete while the box is open:
    // it is never a stack object that the window's deletion would free a second time.
    QWidget* ownerWidget = owner ? qt::widgetOf(*owner) : nullptr;
    const QPointer<QMessageBox> box = new QMessageBox(
        iconFor(style), qt::translated(title), qt::translated(prompt), QMessageBox::NoButton,
        ownerWidget ? ownerWidget->window() : QApplication::activeWindow());
    box->setTextFormat(Qt::PlainText);
    box->setWindowModality(Qt::ApplicationModal);
    std::vector<std::pair<QAbstractButton*, int>> answers;
    for (const auto& [button, answer] : set.buttons)
        answers.emplace_back(box->addButton(button), answer);
    const std::size_t defaultButton = static_cast<std::size_t>((style >> 8) & 3);
    if (defaultButton < answers.size())
        box->setDefaultButton(qobject_cast<QPushButton*>(answers[defaultButton].first));

    // Answered, or gone with its window, or its owner gone: the wait is over.
    QEventLoop loop;
    QObject::connect(box, &QDialog::finished, &loop, &QEventLoop::quit);
    QObject::connect(box, &QObject::destroyed, &loop, &QEventLoop::quit);
    if (ownerWidget)
        QObject::connect(ownerWidget, &QObject::destroyed, &loop, &QEventLoop::quit);
    box->show();
    loop.exec(); // returns at once when the application quits

    int chosen = safeAnswer(set);
    if (box) {
        for (const auto& [button, answer] : answers) {
            if (box->clickedButton() == button)
                chosen = answer;
        }
        delete box.data();
    }
    return chosen;
}

void setMessageBoxHandler(MessageBoxHandler handler) {
    messageBoxHandler = std::move(handler);
}

} // namespace tavik::platform
