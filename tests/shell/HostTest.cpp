// A host that knows only the program id: registration through the library's entry
// points, creation through the registry, LoadData through dispatch, and what a host gets
// when the registry leads nowhere. Also the host program's registration and --progid modes.

#include "ShellFixture.h"

#include "TestServer.h"

#include <TavikVendorComment/VendorCommentWidget>

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QImage>
#include <QProcess>

#include <dlfcn.h>

#include <fstream>

using namespace tavik;
namespace fs = std::filesystem;

namespace {

const std::string loadDocument =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><VendorComments>"
    "<LOC><Code>1</Code><Name>Receiving</Name></LOC>"
    "<TYP><Code>2</Code><Name>Quality</Name></TYP>"
    "<GRID><VendorID>318</VendorID><CommentSequence>1</CommentSequence><Type>2</Type>"
    "<TypeName>Quality</TypeName><Location>1</Location><LocationName>Receiving</LocationName>"
    "<Effective>3/1/2009</Effective><Expires></Expires><Comment>Check every pallet</Comment>"
    "</GRID></VendorComments>";

class RegistryHostTest : public ScratchRegistryTest {
protected:
    void SetUp() override {
        ScratchRegistryTest::SetUp();
        server.http.Get("/VendorCommentLOAD.asp",
                        [](const httplib::Request&, httplib::Response& res) {
                            res.set_content(loadDocument, "text/xml");
                        });
        server.start();
    }

    // Registers a class whose entry names the given library file.
    void registerBrokenClass(const std::string& progId, const std::string& library) {
        const std::string clsid = "{12345678-1234-5678-0102-030405060708}";
        Guid id{};
        ASSERT_TRUE(parseGuid(clsid, &id));
        ASSERT_TRUE(
            registry::writeEntries({{registry::classFile(id), {{"Class/Library", library}}},
                                    {registry::progIdFile(progId), {{"ProgID/CLSID", clsid}}}}));
    }

    int runHost(const QStringList& arguments, QString* errors = nullptr) {
        QProcess host;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(registry::EnvironmentVariable, QString::fromStdString(root.string()));
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        host.setProcessEnvironment(environment);
        host.start(VC_HOST_PROGRAM, arguments);
        if (!host.waitForFinished(60000)) {
            host.kill();
            host.waitForFinished();
            return -1;
        }
        if (errors)
            *errors = QString::fromLocal8Bit(host.readAllStandardError());
        return host.exitStatus() == QProcess::NormalExit ? host.exitCode() : -1;
    }

    TestServer server;
};

} // namespace

TEST_F(RegistryHostTest, CreatesTheControlFromItsProgramIdAndLoadsAVendor) {
    ASSERT_HR(S_OK, RegisterServer(libraryFile()));

    ComPtr<IDispatch> control;
    ASSERT_HR(S_OK, CoCreateInstanceByProgId("TavikVendorComment.VendorComment", IID_IDispatch,
                                             control.put()));
    const char* name = "LoadData";
    DispId id = DISPID_UNKNOWN;
    ASSERT_HR(S_OK, control->GetIDsOfNames(&name, 1, &id));
    std::string args[6] = {server.baseUrl(), "318", "1", "PO", "3/2/2009", "3/23/2009"};
    ASSERT_HR(S_OK, control->Invoke(id, args, 6));

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, "/VendorCommentLOAD.asp");
    EXPECT_EQ(requests[0].query, "PODate=3/2/2009&SCRN=PO&Vendor=318");

    ComPtr<IQtWidget> face;
    ASSERT_HR(S_OK, control.queryInterface(IID_IQtWidget, face));
    QWidget* widget = nullptr;
    ASSERT_HR(S_OK, face->GetWidget(&widget));
    auto* vendorComment = qobject_cast<VendorCommentWidget*>(widget);
    ASSERT_NE(vendorComment, nullptr);
    EXPECT_EQ(vendorComment->vendorId(), "318");
    ASSERT_EQ(vendorComment->rowCount(), 1);
    const auto* list = vendorComment->findChild<QAbstractItemView*>("lstComments");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->model()->index(0, 0).data().toString(), "Check every pallet");

    face.reset();
    control.reset();
    EXPECT_HR(S_OK, UnregisterServer(libraryFile()));
    EXPECT_HR(REGDB_E_CLASSNOTREG, CoCreateInstanceByProgId("TavikVendorComment.VendorComment",
                                                            IID_IDispatch, control.put()));
    EXPECT_FALSE(control);
}

TEST_F(RegistryHostTest, ReportsWhyARegisteredClassCannotBeCreated) {
    // A library that exists but has no class objects: Qt's own core library.
    Dl_info qtCore{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&QCoreApplication::instance), &qtCore), 0);
    const fs::path notALibrary = fs::path(scratch.path().toStdString()) / "notalibrary.so";
    std::ofstream(notALibrary) << "plain text";

    registerBrokenClass("Tavik.Gone", "/nonexistent/libTavikVendorComment.so");
    EXPECT_HR(CO_E_DLLNOTFOUND,
              CoCreateInstanceByProgId("Tavik.Gone", IID_IUnknown, ComPtr<IUnknown>().put()));
    registerBrokenClass("Tavik.Text", notALibrary.string());
    EXPECT_HR(CO_E_ERRORINDLL,
              CoCreateInstanceByProgId("Tavik.Text", IID_IUnknown, ComPtr<IUnknown>().put()));
    EXPECT_FALSE(lastLoadError().empty());
    registerBrokenClass("Tavik.NoEntry", qtCore.dli_fname);
    EXPECT_HR(CO_E_ERRORINDLL,
              CoCreateInstanceByProgId("Tavik.NoEntry", IID_IUnknown, ComPtr<IUnknown>().put()));
    registerBrokenClass("Tavik.Empty", "");
    EXPECT_HR(CO_E_DLLNOTFOUND,
              CoCreateInstanceByProgId("Tavik.Empty", IID_IUnknown, ComPtr<IUnknown>().put()));
}

TEST_F(RegistryHostTest, RefusesProgramIdsThatAreNotRegistered) {
    ASSERT_HR(S_OK, DllRegisterServer());
    for (const char* progId : {"TavikVendorComment.Other", "", "../ProgID/TavikVendorComment",
                               "tavikvendorcomment.vendorcomment."}) {
        void* out = reinterpret_cast<void*>(0x1);
        EXPECT_HR(REGDB_E_CLASSNOTREG, CoCreateInstanceByProgId(progId, IID_IUnknown, &out))
            << progId;
        EXPECT_EQ(out, nullptr);
    }
    // A program id whose entry names no readable class id.
    ASSERT_TRUE(registry::writeEntries(
        {{registry::progIdFile("Tavik.Garbled"), {{"ProgID/CLSID", "{not-a-guid}"}}}}));
    EXPECT_HR(REGDB_E_CLASSNOTREG,
              CoCreateInstanceByProgId("Tavik.Garbled", IID_IUnknown, ComPtr<IUnknown>().put()));
    // Known class, interface it lacks.
    ComPtr<IUnknown> none;
    EXPECT_HR(E_NOINTERFACE, CoCreateInstanceByProgId("TavikVendorComment.VendorComment",
                                                      DIID_VendorCommentEvents, none.put()));
    EXPECT_HR(S_OK, DllCanUnloadNow());
}

TEST_F(RegistryHostTest, RegistrationToolReportsLibrariesItCannotLoad) {
    EXPECT_HR(CO_E_DLLNOTFOUND, RegisterServer("/nonexistent/libTavikVendorComment.so"));
    EXPECT_HR(CO_E_DLLNOTFOUND, UnregisterServer(""));
    EXPECT_TRUE(files().empty());
}

TEST_F(RegistryHostTest, HostProgramRegistersCreatesByProgramIdAndUnregisters) {
    const QString library = QString::fromStdString(libraryFile());
    ASSERT_EQ(runHost({"--register", library}), 0);
    EXPECT_FALSE(files().empty());

    const QString picture = scratch.filePath("control.png");
    QString errors;
    ASSERT_EQ(runHost({"--progid", "TavikVendorComment.VendorComment", "--server",
                       QString::fromStdString(server.baseUrl()), "--vendor", "318", "--screenshot",
                       picture},
                      &errors),
              0)
        << errors.toStdString();
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].query, "PODate=&SCRN=&Vendor=318");
    const QImage shot(picture);
    EXPECT_FALSE(shot.isNull());
    EXPECT_GT(shot.width(), 400);

    ASSERT_EQ(runHost({"--unregister", library}), 0);
    EXPECT_TRUE(files().empty());
    EXPECT_EQ(
        runHost({"--progid", "TavikVendorComment.VendorComment", "--screenshot", picture}, &errors),
        1);
    EXPECT_TRUE(errors.contains("REGDB_E_CLASSNOTREG")) << errors.toStdString();
    EXPECT_EQ(runHost({"--register", "/nonexistent/lib.so"}), 1);
}
