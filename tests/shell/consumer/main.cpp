// Uses the installed package the two ways a host does; exits non-zero on any failure.

#include <TavikVendorComment/ComHost.h>
#include <TavikVendorComment/TypeInfo.h>
#include <TavikVendorComment/VendorCommentWidget>
#include <TavikVendorComment/tavikvendorcomment_version.h>

#include "ui_CommentsForm.h"

#include <QApplication>
#include <QDate>
#include <QEventLoop>
#include <QTimer>
#include <QUrl>

#include <filesystem>
#include <iostream>
#include <string_view>

using namespace tavik;

static_assert(TAVIKVENDORCOMMENT_VERSION >= TAVIKVENDORCOMMENT_VERSION_CHECK(2, 0, 6));

int fail(const char* what, HRESULT hr = E_FAIL) {
    std::cerr << what << ": " << resultText(hr) << std::endl;
    return 1;
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (std::string_view(PACKAGE_VERSION) != TAVIKVENDORCOMMENT_VERSION_STRING)
        return fail("the CMake package and the version header disagree");

    // Placed directly, and loaded both ways from a port where nothing listens: each load
    // tells the host that it failed.
    VendorCommentWidget placed;
    int failures = 0;
    QObject::connect(&placed, &VendorCommentWidget::loadFailed, [&] { ++failures; });
    placed.LoadData("http://127.0.0.1:1/", "318", "1", "7", "03/23/2009", "3/23/2009");
    // loadData returns at once; its failure arrives later.
    QEventLoop waiting;
    QObject::connect(&placed, &VendorCommentWidget::loadFailed, &waiting, &QEventLoop::quit);
    QTimer::singleShot(10000, &waiting, &QEventLoop::quit);
    placed.loadData(QUrl("http://127.0.0.1:1"), "318", VendorCommentWidget::ReadWrite, "7",
                    "03/23/2009", QDate(2009, 3, 23));
    waiting.exec();
    if (failures != 2 || placed.vendorId() != "318" || placed.rowCount() != 0)
        return fail("the placed control did not report its failed loads");
    QWidget formHost;
    Ui::CommentsForm form;
    form.setupUi(&formHost);
    tavik::VendorCommentWidget* inForm = form.vendorComment;
    if (inForm->rowCount() != 0 || inForm->isEditing())
        return fail("the control in a Designer form is not the control");
    if (!std::filesystem::exists(INSTALLED_IDL))
        return fail("the installed IDL is missing");
    // Every function the installed headers declare links from the installed package.
    if (typeLibrary().libid != LIBID_TavikVendorComment ||
        idlText(typeLibrary()).find("LoadData") == std::string::npos)
        return fail("the type information");

    if (const HRESULT hr = RegisterServer(INSTALLED_LIBRARY); FAILED(hr))
        return fail("RegisterServer", hr);
    ComPtr<IDispatch> created;
    if (const HRESULT hr =
            CoCreateInstanceByProgId(ProgID_VendorComment, IID_IDispatch, created.put());
        FAILED(hr))
        return fail("CoCreateInstanceByProgId", hr);
    Guid clsid{};
    if (const HRESULT hr = CLSIDFromProgID(ProgID_VendorComment, &clsid);
        FAILED(hr) || clsid != CLSID_VendorComment)
        return fail("CLSIDFromProgID", hr);
    ComPtr<IClassFactory> factory;
    if (const HRESULT hr = CoGetClassObject(clsid, IID_IClassFactory, factory.put()); FAILED(hr))
        return fail("CoGetClassObject", hr);
    ComPtr<IDispatch> second;
    if (const HRESULT hr = CoCreateInstance(clsid, IID_IDispatch, second.put()); FAILED(hr))
        return fail("CoCreateInstance", hr);
    std::cout << "last load error: \"" << lastLoadError() << "\"" << std::endl;
    second.reset();
    factory.reset();
    const char* name = "LoadData";
    DispId id = DISPID_UNKNOWN;
    if (const HRESULT hr = created->GetIDsOfNames(&name, 1, &id);
        FAILED(hr) || id != DISPID_LoadData)
        return fail("GetIDsOfNames", hr);
    created.reset();
    if (const HRESULT hr = UnregisterServer(INSTALLED_LIBRARY); hr != S_OK)
        return fail("UnregisterServer", hr);
    std::cout << "consumer: ok" << std::endl;
    return 0;
}
