// Built from the pkg-config file alone: the flags it gives find the headers and the library,
// and its version is the headers' version.

#include <TavikVendorComment/VendorCommentWidget>
#include <TavikVendorComment/tavikvendorcomment_version.h>

#include <QApplication>

#include <filesystem>
#include <iostream>
#include <string_view>

static_assert(TAVIKVENDORCOMMENT_VERSION >= TAVIKVENDORCOMMENT_VERSION_CHECK(2, 0, 0));

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (std::string_view(PC_VERSION) != TAVIKVENDORCOMMENT_VERSION_STRING) {
        std::cerr << "pkg-config says " << PC_VERSION << ", the header "
                  << TAVIKVENDORCOMMENT_VERSION_STRING << std::endl;
        return 1;
    }
    if (!std::filesystem::exists(PC_TRANSLATIONS "/tavikvendorcomment_de.qm")) {
        std::cerr << "no German catalog in pkg-config's translationsdir " << PC_TRANSLATIONS
                  << std::endl;
        return 1;
    }
    const tavik::VendorCommentWidget control;
    if (control.rowCount() != 0 || control.isEditing()) {
        std::cerr << "the control from pkg-config's library is not the control" << std::endl;
        return 1;
    }
    std::cout << "pkgconfig-consumer: ok" << std::endl;
    return 0;
}
