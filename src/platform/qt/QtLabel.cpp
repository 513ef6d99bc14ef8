#include "QtLabel.h"

#include "WidgetSupport.h"

#include <QLabel>

namespace tavik::platform::qt {

QtLabel::QtLabel(QWidget* parent, const WidgetPlacement& placement) : label_(new QLabel(parent)) {
    label_->setTextFormat(Qt::PlainText);
    label_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setCaption(placement.caption);
}

void QtLabel::setCaption(const std::string& caption) {
    caption_ = caption;
    label_->setText(translated(caption));
    if (captionChanged_)
        captionChanged_();
}

} // namespace tavik::platform::qt
