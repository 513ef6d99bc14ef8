// The library's entry points, class factory, object lifetime, dispatch and type
// information, through the binary interface a host sees.

#include "ShellFixture.h"

#include <TavikVendorComment/VendorCommentWidget>

#include <QApplication>
#include <QImage>
#include <QPluginLoader>
#ifdef VC_DESIGNER_PLUGIN
#include <QtUiPlugin/QDesignerCustomWidgetInterface>
#endif

#include <dlfcn.h>

#include <array>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

using namespace tavik;

namespace {

ComPtr<IClassFactory> factory() {
    ComPtr<IClassFactory> f;
    EXPECT_HR(S_OK, DllGetClassObject(&CLSID_VendorComment, &IID_IClassFactory, f.put()));
    return f;
}

ComPtr<IVendorComment> newControl() {
    ComPtr<IVendorComment> control;
    EXPECT_HR(S_OK, factory()->CreateInstance(nullptr, IID_VendorComment, control.put()));
    return control;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

constexpr Guid unknownGuid = {0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};

} // namespace

TEST(ExportTable, HasTheFourEntryPointsWithCLinkage) {
    void* library = dlopen(libraryFile().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << libraryFile();
    for (const char* name :
         {"DllRegisterServer", "DllUnregisterServer", "DllGetClassObject", "DllCanUnloadNow"})
        EXPECT_NE(dlsym(library, name), nullptr) << name;
    dlclose(library);
}

TEST(ClassObject, RefusesWhatItDoesNotServe) {
    struct Case {
        const char* name;
        const Guid* clsid;
        const Guid* iid;
        HRESULT expected;
    };
    const std::array cases = {
        Case{"unknown class", &unknownGuid, &IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
        Case{"interface id as class", &IID_VendorComment, &IID_IClassFactory,
             CLASS_E_CLASSNOTAVAILABLE},
        Case{"unknown interface", &CLSID_VendorComment, &unknownGuid, E_NOINTERFACE},
        Case{"class interface of the factory", &CLSID_VendorComment, &IID_VendorComment,
             E_NOINTERFACE},
        Case{"no class id", nullptr, &IID_IClassFactory, E_INVALIDARG},
    };
    for (const Case& c : cases) {
        void* out = reinterpret_cast<void*>(0x1);
        EXPECT_HR(c.expected, DllGetClassObject(c.clsid, c.iid, &out)) << c.name;
        EXPECT_EQ(out, nullptr) << c.name;
    }
    EXPECT_HR(E_POINTER, DllGetClassObject(&CLSID_VendorComment, &IID_IClassFactory, nullptr));
    EXPECT_HR(S_OK, DllCanUnloadNow());
}

TEST(ClassObject, CreatesIndependentControls) {
    auto a = newControl();
    auto b = newControl();
    ASSERT_TRUE(a && b);
    QWidget* wa = nullptr;
    QWidget* wb = nullptr;
    ComPtr<IQtWidget> fa, fb;
    ASSERT_HR(S_OK, a.queryInterface(IID_IQtWidget, fa));
    ASSERT_HR(S_OK, b.queryInterface(IID_IQtWidget, fb));
    ASSERT_HR(S_OK, fa->GetWidget(&wa));
    ASSERT_HR(S_OK, fb->GetWidget(&wb));
    EXPECT_NE(wa, wb);
    EXPECT_NE(qobject_cast<VendorCommentWidget*>(wa), nullptr);
}

TEST(ClassObject, RefusesAggregationAndUnknownInterfaces) {
    auto f = factory();
    auto outer = newControl();
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_HR(CLASS_E_NOAGGREGATION, f->CreateInstance(outer.get(), IID_IUnknown, &out));
    EXPECT_EQ(out, nullptr);
    // The source interface is the class's outgoing one: objects do not implement it.
    for (const Guid* iid : {&unknownGuid, &DIID_VendorCommentEvents, &IID_IClassFactory}) {
        out = reinterpret_cast<void*>(0x1);
        EXPECT_HR(E_NOINTERFACE, f->CreateInstance(nullptr, *iid, &out)) << toString(*iid);
        EXPECT_EQ(out, nullptr);
    }
}

TEST(ClassObject, CanUnloadOnlyWhenNothingIsAlive) {
    ASSERT_HR(S_OK, DllCanUnloadNow());
    {
        auto f = factory();
        EXPECT_HR(S_FALSE, DllCanUnloadNow()) << "a factory reference is held";
        ComPtr<IDispatch> control;
        ASSERT_HR(S_OK, f->CreateInstance(nullptr, IID_IDispatch, control.put()));
        f.reset();
        EXPECT_HR(S_FALSE, DllCanUnloadNow()) << "an object is alive";
        control.reset();
        EXPECT_HR(S_OK, DllCanUnloadNow());
    }
    {
        auto f = factory();
        ASSERT_HR(S_OK, f->LockServer(true));
        f.reset();
        EXPECT_HR(S_FALSE, DllCanUnloadNow()) << "the server is locked";
        f = factory();
        EXPECT_HR(S_OK, f->LockServer(false));
        EXPECT_HR(E_UNEXPECTED, f->LockServer(false)) << "unlock without a lock";
    }
    EXPECT_HR(S_OK, DllCanUnloadNow());
}

TEST(Object, AnswersOneIdentityForEveryInterface) {
    auto control = newControl();
    ComPtr<IUnknown> viaDispatch, viaWidget;
    ComPtr<IDispatch> dispatch;
    ComPtr<IQtWidget> face;
    ASSERT_HR(S_OK, control.queryInterface(IID_IDispatch, dispatch));
    ASSERT_HR(S_OK, control.queryInterface(IID_IQtWidget, face));
    ASSERT_HR(S_OK, dispatch.queryInterface(IID_IUnknown, viaDispatch));
    ASSERT_HR(S_OK, face.queryInterface(IID_IUnknown, viaWidget));
    EXPECT_EQ(viaDispatch.get(), viaWidget.get());
    ComPtr<IUnknown> none;
    EXPECT_HR(E_NOINTERFACE, face.queryInterface(DIID_VendorCommentEvents, none));
    EXPECT_FALSE(none);
}

TEST(Dispatch, FindsLoadDataAndItsParametersByName) {
    auto control = newControl();
    const char* names[] = {"loaddata", "ptSCRN", "PTSERVERNAME"};
    DispId ids[3] = {};
    ASSERT_HR(S_OK, control->GetIDsOfNames(names, 3, ids));
    EXPECT_EQ(ids[0], 0x60030002);
    EXPECT_EQ(ids[1], 3);
    EXPECT_EQ(ids[2], 0);

    const char* wrong[] = {"LoadDat"};
    EXPECT_HR(DISP_E_UNKNOWNNAME, control->GetIDsOfNames(wrong, 1, ids));
    EXPECT_EQ(ids[0], DISPID_UNKNOWN);
    const char* wrongParam[] = {"LoadData", "ptVendor"};
    EXPECT_HR(DISP_E_UNKNOWNNAME, control->GetIDsOfNames(wrongParam, 2, ids));
    EXPECT_EQ(ids[0], 0x60030002);
    EXPECT_EQ(ids[1], DISPID_UNKNOWN);
}

TEST(Dispatch, RefusesWrongIdsAndArgumentCounts) {
    auto control = newControl();
    std::array<std::string, 7> args{};
    struct Case {
        DispId id;
        std::string* args;
        std::size_t count;
        HRESULT expected;
    };
    for (const Case& c : {Case{0x60030001, args.data(), 6, DISP_E_MEMBERNOTFOUND},
                          Case{0, args.data(), 6, DISP_E_MEMBERNOTFOUND},
                          Case{DISPID_UNKNOWN, args.data(), 6, DISP_E_MEMBERNOTFOUND},
                          Case{DISPID_LoadData, args.data(), 5, DISP_E_BADPARAMCOUNT},
                          Case{DISPID_LoadData, args.data(), 7, DISP_E_BADPARAMCOUNT},
                          Case{DISPID_LoadData, nullptr, 0, DISP_E_BADPARAMCOUNT},
                          Case{DISPID_LoadData, nullptr, 6, E_POINTER}})
        EXPECT_HR(c.expected, control->Invoke(c.id, c.args, c.count))
            << "id " << c.id << ", " << c.count << " arguments";
}

TEST(Dispatch, RefusesCallsFromAnotherThread) {
    auto control = newControl();
    HRESULT invoked = S_OK, created = S_OK;
    std::thread other([&] {
        std::array<std::string, 6> args{};
        invoked = control->Invoke(DISPID_LoadData, args.data(), args.size());
        void* out = nullptr;
        created = factory()->CreateInstance(nullptr, IID_IUnknown, &out);
    });
    other.join();
    EXPECT_HR(RPC_E_WRONG_THREAD, invoked);
    EXPECT_HR(RPC_E_WRONG_THREAD, created);
}

TEST(Object, OutlivesItsWidgetWhenTheHostDestroysIt) {
    auto control = newControl();
    ComPtr<IQtWidget> face;
    ASSERT_HR(S_OK, control.queryInterface(IID_IQtWidget, face));
    QWidget* widget = nullptr;
    ASSERT_HR(S_OK, face->GetWidget(&widget));
    {
        QWidget hostWindow;
        widget->setParent(&hostWindow);
    }
    std::array<std::string, 6> args{};
    EXPECT_HR(E_UNEXPECTED, control->Invoke(DISPID_LoadData, args.data(), args.size()));
    EXPECT_HR(E_UNEXPECTED, face->GetWidget(&widget));
    EXPECT_EQ(widget, nullptr);
    face.reset();
    control.reset(); // must not delete the widget a second time
    EXPECT_HR(S_OK, DllCanUnloadNow());
}

TEST(TypeInformation, DescribesLoadDataAsTheHostSeesIt) {
    auto control = newControl();
    const InterfaceInfo* info = nullptr;
    ASSERT_HR(S_OK, control->GetTypeInfo(&info));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->name, "_VendorComment");
    EXPECT_EQ(info->iid, IID_VendorComment);
    EXPECT_EQ(info->kind, InterfaceKind::Dual);
    ASSERT_EQ(info->members.size(), 1u);
    const MemberInfo& loadData = info->members[0];
    EXPECT_EQ(loadData.dispId, 0x60030002);
    std::vector<std::string> params;
    for (const ParamInfo& p : loadData.params) {
        params.emplace_back(p.name);
        EXPECT_TRUE(p.in && p.out) << p.name;
    }
    EXPECT_EQ(params, (std::vector<std::string>{"ptServerName", "ptVendorID", "ptMode", "ptSCRN",
                                                "ptPODate", "ptServerDate"}));
}

// The IDL the build writes must keep its identifiers and shape from one build to the next.
TEST(TypeInformation, WrittenIdlMatchesTheRecordedOne) {
    const std::string written = readFile(VC_IDL_FILE);
    ASSERT_FALSE(written.empty()) << VC_IDL_FILE;
    EXPECT_EQ(written, readFile(VC_IDL_EXPECTED));
    EXPECT_EQ(written, idlText(typeLibrary()));
}

TEST(Guids, ReadBackWhatTheyWrite) {
    for (const Guid& g : {LIBID_TavikVendorComment, CLSID_VendorComment, IID_VendorComment,
                          DIID_VendorCommentEvents, IID_IQtWidget, IID_IDispatch}) {
        Guid back{};
        ASSERT_TRUE(parseGuid(toString(g), &back)) << toString(g);
        EXPECT_EQ(back, g);
    }
    EXPECT_EQ(toString(CLSID_VendorComment), "{DEA33700-01A9-4764-9FB6-92FD5EDDA3D4}");
    Guid g{};
    EXPECT_TRUE(parseGuid("dea33700-01a9-4764-9fb6-92fd5edda3d4", &g));
    EXPECT_EQ(g, CLSID_VendorComment);
    for (const char* bad :
         {"", "{DEA33700-01A9-4764-9FB6-92FD5EDDA3D}", "{DEA33700-01A9-4764-9FB6-92FD5EDDA3DX}",
          "{DEA33700+01A9-4764-9FB6-92FD5EDDA3D4}", "DEA33700-01A9-4764-9FB6-92FD5EDDA3D4}"})
        EXPECT_FALSE(parseGuid(bad, &g)) << bad;
}

TEST(ToolboxBitmap, IsA16By15PictureInSixteenColours) {
    const QImage picture(QString::fromLatin1(ToolboxBitmapResource));
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.size(), QSize(16, 15));
    std::set<QRgb> colours;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            colours.insert(picture.pixel(x, y));
    EXPECT_LE(colours.size(), 16u);
}

#ifdef VC_DESIGNER_PLUGIN
TEST(DesignerPlugin, OffersTheWidgetInTheTavikGroup) {
    QPluginLoader loader(QString::fromUtf8(VC_DESIGNER_PLUGIN));
    auto* plugin = qobject_cast<QDesignerCustomWidgetInterface*>(loader.instance());
    ASSERT_NE(plugin, nullptr) << loader.errorString().toStdString();
    EXPECT_EQ(plugin->name(), "tavik::VendorCommentWidget");
    EXPECT_TRUE(plugin->domXml().contains("name=\"vendorComment\""));
    EXPECT_EQ(plugin->group(), "Tavik");
    EXPECT_EQ(plugin->includeFile(), "TavikVendorComment/VendorCommentWidget");
    EXPECT_FALSE(plugin->isContainer());
    const QList<QSize> sizes = plugin->icon().availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(16, 15)));
    QWidget parent;
    QWidget* widget = plugin->createWidget(&parent);
    EXPECT_NE(qobject_cast<VendorCommentWidget*>(widget), nullptr);
}
#endif
