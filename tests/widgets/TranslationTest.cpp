// The control's texts through Qt's translation system: a German catalog changes what the user
// sees; a catalog that is missing changes nothing; what the control's logic compares and a
// host's dump shows stays English either way.

#include "control/VendorComment.h"
#include "shell/widget/VendorCommentWidget_p.h"

#include <TavikVendorComment/VendorCommentWidget>

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QCoreApplication>
#include <QLabel>
#include <QTranslator>

#include <vector>

using namespace tavik;

namespace {

// Everything the control shows in words before a load: captions, the list's column headers,
// and what a screen reader announces.
std::vector<QString> shownTexts(const QWidget& control) {
    std::vector<QString> texts;
    for (const char* name : {"cmdAdd", "cmdEdit", "cmdDelete"})
        texts.push_back(control.findChild<QAbstractButton*>(name)->text());
    for (const char* name :
         {"lblComment", "lblLocation", "lblType", "lblEffectiveDate", "lblExpiresDate"})
        texts.push_back(control.findChild<QLabel*>(name)->text());
    const auto* list = control.findChild<QAbstractItemView*>("lstComments");
    for (int column = 0; column < list->model()->columnCount(); ++column)
        texts.push_back(list->model()->headerData(column, Qt::Horizontal).toString());
    for (const char* name : {"lstComments", "txtComment", "cboLocation", "cboType", "chkDate(0)",
                             "DateBox(0)", "chkDate(1)", "DateBox(1)"}) {
        const QWidget* widget = control.findChild<QWidget*>(name);
        texts.push_back(widget->accessibleName());
        texts.push_back(widget->accessibleDescription());
    }
    return texts;
}

// Installed for the life of a test case, and only then.
class InstalledTranslator {
public:
    explicit InstalledTranslator(const QString& file) {
        loaded = translator.load(file);
        QCoreApplication::installTranslator(&translator);
    }
    ~InstalledTranslator() { QCoreApplication::removeTranslator(&translator); }
    bool loaded = false;

private:
    QTranslator translator;
};

} // namespace

TEST(TranslationTest, AGermanCatalogChangesEveryTextShown) {
    const std::vector<QString> english = shownTexts(VendorCommentWidget());
    const InstalledTranslator german(VC_GERMAN_CATALOG);
    ASSERT_TRUE(german.loaded) << VC_GERMAN_CATALOG;
    VendorCommentWidget control;
    const std::vector<QString> shown = shownTexts(control);

    ASSERT_EQ(shown.size(), english.size());
    for (std::size_t i = 0; i < shown.size(); ++i)
        EXPECT_NE(shown[i], english[i]) << "not translated: " << english[i].toStdString();
    EXPECT_EQ(control.findChild<QAbstractButton*>("cmdAdd")->text(), "Neuer Kommentar");
    EXPECT_EQ(control.findChild<QLabel*>("lblEffectiveDate")->text(), "Gültig ab");
    EXPECT_EQ(controlOf(control).form().cmdAdd().caption(), "New Comment");
    // The version label keeps its own text.
    EXPECT_EQ(control.findChild<QLabel*>("lblVersionNumber")->text(), "Version Number: 2.0.6");
}

TEST(TranslationTest, AMissingCatalogChangesNothing) {
    const std::vector<QString> untranslated = shownTexts(VendorCommentWidget());
    const InstalledTranslator missing(VC_MISSING_CATALOG);
    EXPECT_FALSE(missing.loaded);
    const VendorCommentWidget control;
    EXPECT_EQ(shownTexts(control), untranslated);
    EXPECT_EQ(control.findChild<QAbstractButton*>("cmdAdd")->text(), "New Comment");
    EXPECT_EQ(control.findChild<QAbstractItemView*>("lstComments")
                  ->model()
                  ->headerData(3, Qt::Horizontal)
                  .toString(),
              "Effective Date");
}
