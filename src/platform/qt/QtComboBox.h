#pragma once

#include "../Form.h"
#include "../Widgets.h"

#include <cstdint>
#include <string>

class QComboBox;
class QWidget;

namespace tavik::platform::qt {

class BackColor;
namespace detail {
class LockableComboBox;
}

// A drop-down list on a QComboBox that can be locked against the user's changes and whose
// entries carry 32-bit item data. Its tooltip shows the whole of the selected entry.
class QtComboBox final : public ComboBox {
public:
    QtComboBox(QWidget* parent, const QWidget* form, const WidgetPlacement& placement);
    QComboBox* widget() const;

    void addItem(const std::string& text) override;
    int newIndex() const override { return newIndex_; }
    std::int32_t itemData(int index) const override;
    void setItemData(int index, std::int32_t data) override;
    std::string list(int index) const override;
    int listCount() const override;
    int listIndex() const override;
    void setListIndex(int index) override;
    void clear() override;
    bool locked() const override;
    void setLocked(bool locked) override;
    OleColor backColor() const override;
    void setBackColor(OleColor color) override;
    void setFocus() override;

private:
    void checkIndex(int index) const;

    detail::LockableComboBox* box_;
    const QWidget* form_;
    BackColor* backColor_;
    int newIndex_ = -1;
};

} // namespace tavik::platform::qt
