#pragma once

/// @file Translator.h
/// The control's texts in the user's language: tavik::installTranslator().

#include <TavikVendorComment/tavikvendorcomment_export.h>

#include <QLocale>

namespace tavik {

/**
 * Installs the control's catalog for @p locale in the application, so that controls created
 * afterwards show their captions, column headers, message boxes and screen-reader texts in
 * that language. The catalogs are compiled into the library; a QCoreApplication must exist.
 *
 * Returns whether a catalog for the locale was found. A second call replaces the catalog the
 * first one installed; one that finds none removes it, and the control shows its English
 * texts again. Call it on the application's thread.
 */
TAVIKVENDORCOMMENT_EXPORT bool installTranslator(const QLocale& locale);

} // namespace tavik
