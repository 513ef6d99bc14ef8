#include "QtComboBox.h"

#include "BackColor.h"
#include "WidgetSupport.h"

#include "../RuntimeError.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QMouseEvent>
#include <QWheelEvent>

namespace tavik::platform::qt {

namespace detail {

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

// The combo as assistive technology sees it: read-only while locked, and otherwise what Qt
// exposes for a plain QComboBox. Qt's own combo interface is private and its widget factory
// unexported, and the accessible cache holds one interface per object, so it cannot be
// wrapped: this reads the box the way Qt's does.
class LockableComboBoxAccessible final : public QAccessibleWidget {
public:
    explicit LockableComboBoxAccessible(LockableComboBox* box)
        : QAccessibleWidget(box, QAccessible::ComboBox) {}

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.expandable = true;
        s.expanded = isValid() && box()->view()->isVisible();
        s.editable = box()->isEditable() && !box()->locked;
        s.readOnly = box()->locked;
        return s;
    }

    int childCount() const override { return box()->isEditable() ? 2 : 1; }
    QAccessibleInterface* child(int index) const override {
        if (index == 0)
            return QAccessible::queryAccessibleInterface(box()->view());
        if (index == 1 && box()->isEditable())
            return QAccessible::queryAccessibleInterface(box()->lineEdit());
        return nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        if (child->object() == box()->view())
            return 0;
        if (box()->isEditable() && child->object() == box()->lineEdit())
            return 1;
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        if (box()->isEditable() && box()->lineEdit()->rect().contains(x, y))
            return child(1);
        return nullptr;
    }
    QAccessibleInterface* focusChild() const override {
        return box()->isEditable() ? child(1) : nullptr;
    }

    QString text(QAccessible::Text t) const override {
        QString text;
        // On Linux the name is the shown entry (labels come as relations), as Qt has it.
        if (t == QAccessible::Name || t == QAccessible::Value)
            text = box()->isEditable() ? box()->lineEdit()->text() : box()->currentText();
        else if (t == QAccessible::Accelerator)
            text = QKeySequence(Qt::Key_Down).toString(QKeySequence::NativeText);
        return text.isEmpty() ? QAccessibleWidget::text(t) : text;
    }

    // Both actions open the popup, which would let the user change a locked entry.
    QStringList actionNames() const override {
        if (box()->locked)
            return {};
        return {showMenuAction(), pressAction()};
    }
    QString localizedActionDescription(const QString& name) const override {
        // Qt's own catalog translates this text; ours does not carry it.
        static const char* const openPopup = "Open the combo box selection popup";
        if (name == showMenuAction() || name == pressAction())
            return QCoreApplication::translate("QComboBox", openPopup);
        return {};
    }
    void doAction(const QString& name) override {
        if (box()->locked || (name != showMenuAction() && name != pressAction()))
            return;
        if (box()->view()->isVisible())
            box()->hidePopup();
        else
            box()->showPopup();
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    LockableComboBox* box() const { return static_cast<LockableComboBox*>(widget()); }
};

// Asked before Qt's own factory, with the class name of each class up the hierarchy.
QAccessibleInterface* lockableComboBoxAccessible(const QString& className, QObject* object) {
    if (className != QLatin1String("QComboBox"))
        return nullptr;
    auto* box = dynamic_cast<LockableComboBox*>(object);
    return box ? new LockableComboBoxAccessible(box) : nullptr;
}

void installAccessibleFactory() {
    static const bool installed = [] {
        QAccessible::installFactory(lockableComboBoxAccessible);
        return true;
    }();
    (void)installed;
}

} // namespace detail

QtComboBox::QtComboBox(QWidget* parent, const QWidget* form, const WidgetPlacement& placement)
    : box_(new detail::LockableComboBox(parent)), form_(form),
      // A drop-down list draws its face with the Button role and its popup with Base.
      backColor_(
          new BackColor(box_, {QPalette::Base, QPalette::Button}, designBackColor(placement))) {
    detail::installAccessibleFactory();
    box_->setEditable(false);
    box_->setInsertPolicy(QComboBox::NoInsert);
    setLocked(backColor_->value() == vbButtonFace);
    // A long name is cut off in the box: its tooltip shows it whole.
    QObject::connect(box_, &QComboBox::currentTextChanged, box_,
                     [box = box_](const QString& text) { box->setToolTip(text); });
}

QComboBox* QtComboBox::widget() const {
    return box_;
}

void QtComboBox::addItem(const std::string& text) {
    // Qt selects the first entry added to an empty box; the list keeps its selection.
    const int selected = box_->currentIndex();
    box_->addItem(toQString(text), QVariant::fromValue<qint32>(0));
    box_->setItemData(box_->count() - 1, box_->itemText(box_->count() - 1), Qt::ToolTipRole);
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
    if (box_->locked == locked)
        return;
    box_->locked = locked;
    if (locked)
        box_->hidePopup();
    // Assistive technology reads the state on demand; tell it that it changed.
    QAccessible::State changed;
    changed.readOnly = true;
    QAccessibleStateChangeEvent event(box_, changed);
    QAccessible::updateAccessibility(&event);
}

OleColor QtComboBox::backColor() const {
    return backColor_->value();
}
void QtComboBox::setBackColor(OleColor color) {
    backColor_->set(color);
}

void QtComboBox::setFocus() {
    focusOrThrow(box_, form_);
}

} // namespace tavik::platform::qt
