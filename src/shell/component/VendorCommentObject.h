#pragma once

#include "TavikVendorComment.h"

#include <QPointer>

#include <atomic>

namespace tavik {
class VendorCommentWidget;
}

namespace tavik::shell {

// One VendorComment instance as hosts see it: the _VendorComment dual interface and the
// IQtWidget face, over a VendorCommentWidget that the object owns.
class VendorCommentObject final : public IVendorComment, public IQtWidget {
public:
    // Creates an object and answers its interface iid; the caller checks the apartment.
    static HRESULT create(const Guid& iid, void** out);

    HRESULT QueryInterface(const Guid& iid, void** out) override;
    std::uint32_t AddRef() override;
    std::uint32_t Release() override;

    HRESULT GetTypeInfo(const InterfaceInfo** out) override;
    HRESULT GetIDsOfNames(const char* const* names, std::size_t count, DispId* ids) override;
    HRESULT Invoke(DispId id, std::string* args, std::size_t argCount) override;

    HRESULT LoadData(std::string& ptServerName, std::string& ptVendorID, std::string& ptMode,
                     std::string& ptSCRN, std::string& ptPODate,
                     std::string& ptServerDate) override;

    HRESULT GetWidget(QWidget** out) override;

private:
    VendorCommentObject();
    ~VendorCommentObject();

    std::atomic<std::uint32_t> references_{1};
    QPointer<VendorCommentWidget> widget_;
};

} // namespace tavik::shell
