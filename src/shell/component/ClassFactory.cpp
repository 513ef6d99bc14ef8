#include "Module.h"
#include "VendorCommentObject.h"

#include <QApplication>
#include <QThread>

#include <atomic>

namespace tavik::shell {
namespace {

std::atomic<long> locks{0};
std::atomic<long> serverLocks{0};

class VendorCommentFactory final : public IClassFactory {
public:
    HRESULT QueryInterface(const Guid& iid, void** out) override {
        if (!out)
            return E_POINTER;
        if (iid != IID_IUnknown && iid != IID_IClassFactory) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }

    // The factory is never deleted, but a reference to it still keeps the library loaded.
    std::uint32_t AddRef() override {
        lockModule();
        return static_cast<std::uint32_t>(++references_);
    }
    std::uint32_t Release() override {
        const long left = --references_;
        unlockModule();
        return static_cast<std::uint32_t>(left);
    }

    HRESULT CreateInstance(IUnknown* outer, const Guid& iid, void** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        if (const HRESULT hr = checkApartment(); FAILED(hr))
            return hr;
        return VendorCommentObject::create(iid, out);
    }

    HRESULT LockServer(bool lock) override {
        if (lock) {
            ++serverLocks;
            lockModule();
            return S_OK;
        }
        // An unlock without a lock would let the library go while someone relies on it.
        long held = serverLocks.load();
        do {
            if (held == 0)
                return E_UNEXPECTED;
        } while (!serverLocks.compare_exchange_weak(held, held - 1));
        unlockModule();
        return S_OK;
    }

private:
    std::atomic<long> references_{0};
};

} // namespace

void lockModule() {
    ++locks;
}
void unlockModule() {
    --locks;
}
long moduleLocks() {
    return locks.load();
}

HRESULT checkApartment() {
    // A widget needs a QApplication, and every call must come on its thread.
    const QCoreApplication* app = QCoreApplication::instance();
    if (!qobject_cast<const QApplication*>(app))
        return CO_E_NOTINITIALIZED;
    return QThread::currentThread() == app->thread() ? S_OK : RPC_E_WRONG_THREAD;
}

IClassFactory& vendorCommentFactory() {
    static VendorCommentFactory factory;
    return factory;
}

} // namespace tavik::shell
