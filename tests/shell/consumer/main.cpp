// Uses the installed package the two ways a host does; exits non-zero on any failure.

#include <shell/ComHost.h>
#include <shell/VendorCommentWidget.h>

#include <QApplication>

#include <filesystem>
#include <iostream>

using namespace tavik;

int fail(const char* what, HRESULT hr = E_FAIL) {
    std::cerr << what << ": " << resultText(hr) << std::endl;
    return 1;
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);

    VendorCommentWidget placed;
    if (placed.control().form().lstComments().columnCount() != 6)
        return fail("the placed control lacks its columns");
    if (!std::filesystem::exists(INSTALLED_IDL))
        return fail("the installed IDL is missing");

    if (const HRESULT hr = RegisterServer(INSTALLED_LIBRARY); FAILED(hr))
        return fail("RegisterServer", hr);
    ComPtr<IDispatch> created;
    if (const HRESULT hr =
            CoCreateInstanceByProgId(ProgID_VendorComment, IID_IDispatch, created.put());
        FAILED(hr))
        return fail("CoCreateInstanceByProgId", hr);
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
