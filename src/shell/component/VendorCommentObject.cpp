#include "VendorCommentObject.h"

#include "../widget/VendorCommentWidget.h"
#include "Module.h"

#include "../../common/Text.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <new>

namespace tavik::shell {
namespace {

const InterfaceInfo& dispatchInterface() {
    return *typeLibrary().classes.front().defaultInterface;
}

} // namespace

VendorCommentObject::VendorCommentObject() : widget_(new VendorCommentWidget) {
    lockModule();
}

VendorCommentObject::~VendorCommentObject() {
    // The host may have destroyed the widget with its parent already.
    if (widget_) {
        if (QThread::currentThread() == widget_->thread())
            delete widget_.data();
        else
            widget_->deleteLater();
    }
    unlockModule();
}

HRESULT VendorCommentObject::create(const Guid& iid, void** out) {
    VendorCommentObject* object = nullptr;
    try {
        object = new VendorCommentObject;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
    const HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
}

HRESULT VendorCommentObject::QueryInterface(const Guid& iid, void** out) {
    if (!out)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_VendorComment)
        *out = static_cast<IVendorComment*>(this);
    else if (iid == IID_IQtWidget)
        *out = static_cast<IQtWidget*>(this);
    else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

std::uint32_t VendorCommentObject::AddRef() {
    return ++references_;
}

std::uint32_t VendorCommentObject::Release() {
    const std::uint32_t left = --references_;
    if (left == 0)
        delete this;
    return left;
}

HRESULT VendorCommentObject::GetTypeInfo(const InterfaceInfo** out) {
    if (!out)
        return E_POINTER;
    *out = &dispatchInterface();
    return S_OK;
}

HRESULT VendorCommentObject::GetIDsOfNames(const char* const* names, std::size_t count,
                                           DispId* ids) {
    if (!names || !ids)
        return E_POINTER;
    if (count == 0)
        return E_INVALIDARG;
    std::fill_n(ids, count, DISPID_UNKNOWN);
    const auto& members = dispatchInterface().members;
    const auto member = std::ranges::find_if(members, [&](const MemberInfo& m) {
        return names[0] && common::equalsIgnoreCase(m.name, names[0]);
    });
    if (member == members.end())
        return DISP_E_UNKNOWNNAME;
    ids[0] = member->dispId;
    HRESULT hr = S_OK;
    for (std::size_t i = 1; i < count; ++i) {
        const auto param = std::ranges::find_if(member->params, [&](const ParamInfo& p) {
            return names[i] && common::equalsIgnoreCase(p.name, names[i]);
        });
        if (param == member->params.end())
            hr = DISP_E_UNKNOWNNAME;
        else
            ids[i] = static_cast<DispId>(param - member->params.begin());
    }
    return hr;
}

HRESULT VendorCommentObject::Invoke(DispId id, std::string* args, std::size_t argCount) {
    if (const HRESULT hr = checkApartment(); FAILED(hr))
        return hr;
    if (id != DISPID_LoadData)
        return DISP_E_MEMBERNOTFOUND;
    if (argCount != 6)
        return DISP_E_BADPARAMCOUNT;
    if (!args)
        return E_POINTER;
    return LoadData(args[0], args[1], args[2], args[3], args[4], args[5]);
}

HRESULT VendorCommentObject::LoadData(std::string& ptServerName, std::string& ptVendorID,
                                      std::string& ptMode, std::string& ptSCRN,
                                      std::string& ptPODate, std::string& ptServerDate) {
    if (const HRESULT hr = checkApartment(); FAILED(hr))
        return hr;
    if (!widget_)
        return E_UNEXPECTED;
    // Loading pumps events; a host that lets go of the object meanwhile must not pull it
    // out from under the call.
    AddRef();
    HRESULT hr = S_OK;
    try {
        widget_->LoadData(ptServerName, ptVendorID, ptMode, ptSCRN, ptPODate, ptServerDate);
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    } catch (...) {
        hr = E_FAIL;
    }
    Release();
    return hr;
}

HRESULT VendorCommentObject::GetWidget(QWidget** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (const HRESULT hr = checkApartment(); FAILED(hr))
        return hr;
    if (!widget_)
        return E_UNEXPECTED;
    *out = widget_.data();
    return S_OK;
}

} // namespace tavik::shell
