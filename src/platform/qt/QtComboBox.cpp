#include "QtComboBox.h"

#include "BackColor.h"
#include "WidgetSupport.h"

#include "../RuntimeError.h"

#include <QComboBox>
#include <QKeyEvent>
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

} // namespace detail

QtComboBox::QtComboBox(QWidget* parent, const QWidget* form, const WidgetPlacement& placement)
    : box_(new detail::LockableComboBox(parent)), form_(form),
      // A drop-down list draws its face with the Button role and its popup with Base.
      backColor_(
          new BackColor(box_, {QPalette::Base, QPalette::Button}, designBackColor(placement))) {
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
    box_->locked = locked;
    if (locked)
        box_->hidePopup();
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
