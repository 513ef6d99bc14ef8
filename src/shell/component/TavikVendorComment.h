#pragma once

/**
 * @file TavikVendorComment.h
 * The binary interface of the TavikVendorComment control library: a small component model
 * of our own in plain C++. A host finds the library through the registry (ComHost.h),
 * asks its DllGetClassObject for the class factory, creates VendorComment objects and
 * talks to them through the interfaces below.
 *
 * Threading: the class is apartment-threaded. Every call on a created object, and every
 * CreateInstance, must come on the thread of the host's QApplication; a call from another
 * thread gets RPC_E_WRONG_THREAD. The library starts no thread of its own.
 *
 * Reference counting follows the usual rules: an interface pointer handed out is already
 * AddRef'ed; the receiver calls Release once when done.
 */

#include "TypeInfo.h"

#include <TavikVendorComment/tavikvendorcomment_export.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

class QWidget;

/// The vendor comment control, its component interface and the host side.
namespace tavik {

/// A call's result: negative for a failure, 0 or above for success.
using HRESULT = std::int32_t;

/// @name Result codes
/// Result codes, with their conventional values.
///@{
/// Success.
inline constexpr HRESULT S_OK = 0;
/// Success, with nothing to do.
inline constexpr HRESULT S_FALSE = 1;
/// The object can no longer answer (its widget is gone).
inline constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFF);
/// Not implemented.
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001);
/// The object has no such interface.
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
/// A null pointer where one was needed.
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
/// An unspecified failure.
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
/// Out of memory.
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
/// An invalid argument.
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);
/// The class cannot be aggregated.
inline constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110);
/// The library does not implement the class.
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111);
/// The class is not registered.
inline constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154);
/// The type library could not be registered.
inline constexpr HRESULT SELFREG_E_TYPELIB = static_cast<HRESULT>(0x80040200);
/// The class could not be registered.
inline constexpr HRESULT SELFREG_E_CLASS = static_cast<HRESULT>(0x80040201);
/// No member with that dispatch id.
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003);
/// An argument of the wrong type.
inline constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005);
/// A name the interface does not know.
inline constexpr HRESULT DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006);
/// The wrong number of arguments.
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = static_cast<HRESULT>(0x8002000E);
/// No QApplication to create the object on.
inline constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0);
/// The registered library file is missing.
inline constexpr HRESULT CO_E_DLLNOTFOUND = static_cast<HRESULT>(0x800401F8);
/// The library cannot be loaded or lacks an entry point.
inline constexpr HRESULT CO_E_ERRORINDLL = static_cast<HRESULT>(0x800401F9);
/// The call came on another thread than the object's.
inline constexpr HRESULT RPC_E_WRONG_THREAD = static_cast<HRESULT>(0x8001010E);
///@}

/// Whether hr reports success (S_OK, S_FALSE).
constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
/// Whether hr reports a failure.
constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}

/// @name Well-known interface identifiers
/// The well-known interfaces keep their customary identifiers.
///@{
/// IUnknown's identifier.
inline constexpr Guid IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
/// IClassFactory's identifier.
inline constexpr Guid IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
/// IDispatch's identifier.
inline constexpr Guid IID_IDispatch = {
    0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
///@}

// The library's own identifiers. They never change: hosts and registries keep them.
/// The type library's identifier.
inline constexpr Guid LIBID_TavikVendorComment = {
    0x616D41D1, 0x7839, 0x448E, {0x90, 0x8B, 0x8F, 0x50, 0x4B, 0x88, 0xC5, 0xB7}};
/// The VendorComment class's identifier.
inline constexpr Guid CLSID_VendorComment = {
    0xDEA33700, 0x01A9, 0x4764, {0x9F, 0xB6, 0x92, 0xFD, 0x5E, 0xDD, 0xA3, 0xD4}};
/// _VendorComment, the class's default (dual) interface.
inline constexpr Guid IID_VendorComment = {
    0xAC3F4BF7, 0x23D4, 0x4C32, {0x8D, 0x82, 0xBD, 0x83, 0x28, 0x40, 0x7B, 0xAD}};
/// __VendorComment, the class's default source (event) interface; it has no members.
inline constexpr Guid DIID_VendorCommentEvents = {
    0xBBA40CA9, 0xFE55, 0x441C, {0x90, 0xD0, 0x54, 0xF1, 0xF8, 0x4B, 0xA1, 0x51}};
/// IQtWidget, how a Qt host reaches the object's widget.
inline constexpr Guid IID_IQtWidget = {
    0xB2018C60, 0x1EB4, 0x42AF, {0x80, 0x80, 0x67, 0x75, 0x26, 0x99, 0xFD, 0x26}};

/// The VendorComment class's program id, the name hosts create it by.
inline constexpr char ProgID_VendorComment[] = "TavikVendorComment.VendorComment";

/// The dispatch id of LoadData, fixed by the type information.
inline constexpr DispId DISPID_LoadData = 0x60030002;

/// @name Miscellaneous status bits
/// Miscellaneous status bits a container reads before placing the control.
///@{
/// Re-lays itself out when resized.
inline constexpr std::uint32_t OLEMISC_RECOMPOSEONRESIZE = 0x1;
/// Cannot be linked to.
inline constexpr std::uint32_t OLEMISC_CANTLINKINSIDE = 0x10;
/// Active as soon as it is placed.
inline constexpr std::uint32_t OLEMISC_INSIDEOUT = 0x80;
/// Activated whenever visible.
inline constexpr std::uint32_t OLEMISC_ACTIVATEWHENVISIBLE = 0x100;
/// Wants its site before it is loaded.
inline constexpr std::uint32_t OLEMISC_SETCLIENTSITEFIRST = 0x20000;
///@}

/// The toolbox bitmap (16 by 15 pixels, 16 colours) as a Qt resource of the library: the
/// registry names it "LIBRARY,30000"; once the library is loaded, this path opens it.
inline constexpr char ToolboxBitmapResource[] = ":/TavikVendorComment/bitmaps/30000";

/// The interface every object answers: its other interfaces and its reference count.
class IUnknown {
public:
    /// The object's interface iid in *out, with a reference added; E_NOINTERFACE (and null)
    /// when the object has none.
    virtual HRESULT QueryInterface(const Guid& iid, void** out) = 0;
    /// Adds a reference; answers the new count, for debugging only.
    virtual std::uint32_t AddRef() = 0;
    /// Drops a reference; the object goes with its last. Answers the new count.
    virtual std::uint32_t Release() = 0;

protected:
    ~IUnknown() = default;
};

/// Creates the objects of one class (DllGetClassObject hands it out).
class IClassFactory : public IUnknown {
public:
    /// outer must be null: the class cannot be aggregated.
    virtual HRESULT CreateInstance(IUnknown* outer, const Guid& iid, void** out) = 0;
    /// Keeps the library loaded (DllCanUnloadNow answers S_FALSE) while locked.
    virtual HRESULT LockServer(bool lock) = 0;

protected:
    ~IClassFactory() = default;
};

/// Late-bound calls by name and dispatch id, as scripting hosts make them.
class IDispatch : public IUnknown {
public:
    /// The type information of the object's dispatch interface.
    virtual HRESULT GetTypeInfo(const InterfaceInfo** out) = 0;
    /// Maps names[0], a member name, to its dispatch id, and names[1..] to the positions of
    /// that member's parameters. Names compare without regard to case. An unknown name
    /// gets DISPID_UNKNOWN and the call answers DISP_E_UNKNOWNNAME.
    virtual HRESULT GetIDsOfNames(const char* const* names, std::size_t count, DispId* ids) = 0;
    /// Calls a method with argCount string arguments in declaration order. In/out arguments
    /// receive the values the method leaves in them.
    virtual HRESULT Invoke(DispId id, std::string* args, std::size_t argCount) = 0;

protected:
    ~IDispatch() = default;
};

/// _VendorComment: dual, so LoadData is also callable straight through the vtable.
class IVendorComment : public IDispatch {
public:
    /// The six texts, each in and out. Loading failures are silent, as for any host: the
    /// result reports only calls that could not be made (wrong thread, widget gone).
    virtual HRESULT LoadData(std::string& ptServerName, std::string& ptVendorID,
                             std::string& ptMode, std::string& ptSCRN, std::string& ptPODate,
                             std::string& ptServerDate) = 0;

protected:
    ~IVendorComment() = default;
};

/// The object's Qt widget, for a Qt host.
class IQtWidget : public IUnknown {
public:
    /// The object's widget, for the host to parent and show. The object owns it; a host that
    /// parents it may also destroy it with its parent, after which calls answer E_UNEXPECTED.
    virtual HRESULT GetWidget(QWidget** out) = 0;

protected:
    ~IQtWidget() = default;
};

/// Holds one reference to an interface and releases it when it goes.
template <class T> class ComPtr {
public:
    /// Holds nothing.
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    /// Takes over other's reference; other holds nothing then.
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    /// Releases what is held and takes over other's reference.
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    /// Releases what is held.
    ~ComPtr() { reset(); }

    /// The interface held, or null; the reference stays here.
    T* get() const { return p_; }
    /// Calls through the interface held.
    T* operator->() const { return p_; }
    /// Whether an interface is held.
    explicit operator bool() const { return p_ != nullptr; }
    /// For out-parameters: releases what is held and hands out the slot.
    void** put() {
        reset();
        return reinterpret_cast<void**>(&p_);
    }
    /// Releases what is held; holds nothing then.
    void reset() {
        if (p_)
            std::exchange(p_, nullptr)->Release();
    }

    /// Asks the object held for interface iid into out: E_POINTER when nothing is held,
    /// else what QueryInterface answers.
    template <class U> HRESULT queryInterface(const Guid& iid, ComPtr<U>& out) const {
        return p_ ? p_->QueryInterface(iid, out.put()) : E_POINTER;
    }

private:
    T* p_ = nullptr;
};

} // namespace tavik

/// The four library entry points, with C linkage so a host finds them by name.
extern "C" {
/// Writes the class, program id, type library and interface entries into the registry.
TAVIKVENDORCOMMENT_EXPORT tavik::HRESULT DllRegisterServer();
/// Removes them; S_FALSE when none of them was there.
TAVIKVENDORCOMMENT_EXPORT tavik::HRESULT DllUnregisterServer();
/// The class factory of a class this library implements.
TAVIKVENDORCOMMENT_EXPORT tavik::HRESULT DllGetClassObject(const tavik::Guid* clsid,
                                                           const tavik::Guid* iid, void** out);
/// S_OK when no object, factory reference or server lock is alive; S_FALSE otherwise.
TAVIKVENDORCOMMENT_EXPORT tavik::HRESULT DllCanUnloadNow();
}

/// @name Entry point types
/// Their types, for hosts that look them up with dlsym.
///@{
using DllRegisterServerFn = tavik::HRESULT (*)();   ///< DllRegisterServer's type
using DllUnregisterServerFn = tavik::HRESULT (*)(); ///< DllUnregisterServer's type
/// DllGetClassObject's type.
using DllGetClassObjectFn = tavik::HRESULT (*)(const tavik::Guid*, const tavik::Guid*, void**);
using DllCanUnloadNowFn = tavik::HRESULT (*)(); ///< DllCanUnloadNow's type
///@}
