// The control's texts through Qt's translation system: a German catalog changes what the user
// sees, and every caption shows whole; a catalog that is missing changes nothing; what the
// control's logic compares and a host's dump shows stays English either way.

#include "ParamName.h"
#include "control/VendorComment.h"
#include "shell/widget/VendorCommentWidget_p.h"

#include <TavikVendorComment/Translator.h>
#include <TavikVendorComment/VendorCommentWidget>

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QCoreApplication>
#include <QHeaderView>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTranslator>

#include <vector>

using namespace tavik;

namespace {

using tavik::test::PrintTo;

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

namespace {

// Calls of installTranslator, one after the other, and what a control created after the last
// one shows.
struct InstallCase {
    const char* name;
    std::vector<const char*> locales;
    bool lastFound;
    const char* newComment;
};

// Leaves no catalog installed for the cases after it.
template <class Case> class CatalogTest : public ::testing::TestWithParam<Case> {
protected:
    void TearDown() override { installTranslator(QLocale::c()); }
};

using InstallTranslatorTest = CatalogTest<InstallCase>;

} // namespace

TEST_P(InstallTranslatorTest, TheLastCallDecidesTheLanguage) {
    bool found = false;
    for (const char* locale : GetParam().locales)
        found = installTranslator(QLocale(locale));
    EXPECT_EQ(found, GetParam().lastFound);
    VendorCommentWidget control;
    EXPECT_EQ(control.findChild<QAbstractButton*>("cmdAdd")->text(), GetParam().newComment);
    EXPECT_EQ(controlOf(control).form().cmdAdd().caption(), "New Comment");
}

INSTANTIATE_TEST_SUITE_P(
    Locales, InstallTranslatorTest,
    ::testing::Values(InstallCase{"German", {"de_DE"}, true, "Neuer Kommentar"},
                      InstallCase{"AustrianFallsBackToGerman", {"de_AT"}, true, "Neuer Kommentar"},
                      InstallCase{"NoCatalogShowsEnglish", {"fr_FR"}, false, "New Comment"},
                      InstallCase{"TwiceThenWithoutCatalogLeavesNone",
                                  {"de_DE", "de_DE", "fr_FR"},
                                  false,
                                  "New Comment"}),
    [](const auto& info) { return std::string(info.param.name); });

namespace {

// Whether a caption shows whole: its text within the part of the widget the style draws it in.
bool shownWhole(const QWidget* widget, QString* caption) {
    const QFontMetrics metrics = widget->fontMetrics();
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        *caption = label->text();
        return metrics.horizontalAdvance(*caption) <= label->contentsRect().width();
    }
    const auto* button = qobject_cast<const QAbstractButton*>(widget);
    if (!button)
        return true;
    *caption = button->text();
    if (caption->isEmpty())
        return true;
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const bool isBox = qobject_cast<const QCheckBox*>(button);
    const QRect room = button->style()->subElementRect(
        isBox ? QStyle::SE_CheckBoxContents : QStyle::SE_PushButtonContents, &option, button);
    return metrics.size(Qt::TextShowMnemonic, *caption).width() <= room.width();
}

struct GermanScreen {
    const char* name;
    bool adding; // the buttons read Save and Cancel
};

using GermanScreenTest = CatalogTest<GermanScreen>;

} // namespace

TEST_P(GermanScreenTest, EveryCaptionShowsWholeWithinTheFrame) {
    ASSERT_TRUE(installTranslator(QLocale(QLocale::German)));
    VendorCommentWidget control;
    if (GetParam().adding) {
        controlOf(control).form().cmdAdd().setCaption("Save");
        controlOf(control).form().cmdEdit().setCaption("Cancel");
        ASSERT_EQ(control.findChild<QAbstractButton*>("cmdAdd")->text(), "Speichern");
    }
    const QWidget* frame = control.findChild<QWidget*>("fraMain");
    const QList<QWidget*> widgets = frame->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (const QWidget* widget : widgets) {
        QString caption;
        EXPECT_TRUE(shownWhole(widget, &caption))
            << widget->objectName().toStdString() << " cuts " << caption.toStdString();
        EXPECT_TRUE(frame->contentsRect().contains(widget->geometry()))
            << widget->objectName().toStdString();
    }
    // The buttons' row keeps its order, without overlaps.
    const char* row[] = {"lblVersionNumber", "cmdAdd", "cmdEdit", "cmdDelete"};
    for (std::size_t i = 1; i < std::size(row); ++i)
        EXPECT_LT(frame->findChild<QWidget*>(row[i - 1])->geometry().right(),
                  frame->findChild<QWidget*>(row[i])->geometry().left())
            << row[i];
    const auto* list = control.findChild<QAbstractItemView*>("lstComments");
    auto* header = control.findChild<QHeaderView*>();
    for (int column = 0; column < list->model()->columnCount(); ++column) {
        const QString text = list->model()->headerData(column, Qt::Horizontal).toString();
        EXPECT_LE(header->fontMetrics().horizontalAdvance(text) +
                      2 * header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header),
                  header->sectionSize(column))
            << text.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(States, GermanScreenTest,
                         ::testing::Values(GermanScreen{"Browse", false},
                                           GermanScreen{"Adding", true}),
                         [](const auto& info) { return std::string(info.param.name); });
