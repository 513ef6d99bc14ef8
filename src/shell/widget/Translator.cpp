#include "Translator.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTranslator>

#include <memory>

namespace tavik {

namespace {

// Where cmake/Translations.cmake compiles the catalogs into the library.
constexpr char kCatalogFolder[] = ":/TavikVendorComment/translations";

// The catalog installed by the last call; the application owns it.
QPointer<QTranslator> installedCatalog;

} // namespace

bool installTranslator(const QLocale& locale) {
    QCoreApplication* application = QCoreApplication::instance();
    if (!application)
        return false;
    auto catalog = std::make_unique<QTranslator>();
    const bool found = catalog->load(locale, "tavikvendorcomment", "_", kCatalogFolder);
    if (installedCatalog) {
        QCoreApplication::removeTranslator(installedCatalog);
        delete installedCatalog;
    }
    if (!found)
        return false;
    catalog->setParent(application);
    installedCatalog = catalog.release();
    QCoreApplication::installTranslator(installedCatalog);
    return true;
}

} // namespace tavik
