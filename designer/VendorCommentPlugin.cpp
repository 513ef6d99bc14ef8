#include "VendorCommentPlugin.h"

#include <TavikVendorComment/TavikVendorComment.h>
#include <TavikVendorComment/VendorCommentWidget>

#include <QIcon>
#include <QPixmap>

VendorCommentPlugin::VendorCommentPlugin(QObject* parent) : QObject(parent) {}

// The qualified class name: uic writes it as the member's type in the generated form.
QString VendorCommentPlugin::name() const {
    return QStringLiteral("tavik::VendorCommentWidget");
}

// A valid object name for new instances; the default would be made from the class name.
QString VendorCommentPlugin::domXml() const {
    return QStringLiteral("<ui language=\"c++\"><widget class=\"tavik::VendorCommentWidget\" "
                          "name=\"vendorComment\"/></ui>");
}

QString VendorCommentPlugin::group() const {
    return QStringLiteral("Tavik");
}

QString VendorCommentPlugin::toolTip() const {
    return QStringLiteral("Vendor comments: shows and maintains a vendor's comments");
}

QString VendorCommentPlugin::whatsThis() const {
    return QStringLiteral("Shows the free-text comments a server keeps for one vendor and lets "
                          "the user add, edit and delete them. Call loadData to load a vendor.");
}

QString VendorCommentPlugin::includeFile() const {
    return QStringLiteral("TavikVendorComment/VendorCommentWidget");
}

// The picture lives in the control library's resources, loaded with it.
QIcon VendorCommentPlugin::icon() const {
    return QIcon(QPixmap(QString::fromLatin1(tavik::ToolboxBitmapResource)));
}

bool VendorCommentPlugin::isContainer() const {
    return false;
}

QWidget* VendorCommentPlugin::createWidget(QWidget* parent) {
    return new tavik::VendorCommentWidget(parent);
}
