// The in-process server through the built ZinExt.dll: class factory, object
// identity, unloading, and the registration it writes (with the classes
// root, the machine and the user redirected to private keys).
#include "tests/zinext/ZinExtHarness.h"

#include "ZinExt/ZinExtIds.h"

#include "tests/support/RegistrySandbox.h"

#include "framework/WinHandle.h"

#include <gtest/gtest.h>

#include <memory>

using namespace zinext_test;
using testing_support::RegistrySandbox;

namespace {

const IID kRandomIid = {0x1A2B3C4D, 0x0001, 0x0002, {1, 2, 3, 4, 5, 6, 7, 8}};

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
    void TearDown() override { CoUninitialize(); }

    RegistrySandbox user;
    ZinExtLibrary library;
};

TEST_F(ServerTest, HandsOutTheFactoryForItsOneClassOnly) {
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(library.GetClassObject(kRandomIid, IID_PPV_ARGS(&factory)), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_FALSE(factory);
    EXPECT_EQ(library.GetClassObject(zinext::kClsidZinShlExt, IID_IClassFactory, nullptr), E_POINTER);
    ASSERT_EQ(library.GetClassObject(zinext::kClsidZinShlExt, IID_PPV_ARGS(&factory)), S_OK);

    ComPtr<IUnknown> outer, object;
    ASSERT_EQ(factory.As(&outer), S_OK);
    EXPECT_EQ(factory->CreateInstance(outer.Get(), IID_PPV_ARGS(&object)), CLASS_E_NOAGGREGATION);
    EXPECT_FALSE(object);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IContextMenu, nullptr), E_POINTER);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDropTarget, reinterpret_cast<void**>(object.GetAddressOf())),
              E_NOINTERFACE);
    EXPECT_FALSE(object);
}

TEST_F(ServerTest, HandlerAnswersItsTwoInterfacesWithOneIdentity) {
    ComPtr<IContextMenu> menu = library.CreateHandler();
    ASSERT_TRUE(menu);
    ComPtr<IShellExtInit> init;
    ComPtr<IUnknown> fromMenu, fromInit;
    ComPtr<IContextMenu2> menu2;
    ASSERT_EQ(menu.As(&init), S_OK);
    ASSERT_EQ(menu.As(&fromMenu), S_OK);
    ASSERT_EQ(init.As(&fromInit), S_OK);
    EXPECT_EQ(fromMenu.Get(), fromInit.Get());
    EXPECT_EQ(menu.As(&menu2), E_NOINTERFACE);
    // Release answers the count that is left.
    IContextMenu* raw = menu.Get();
    const ULONG held = raw->AddRef();
    EXPECT_EQ(raw->Release(), held - 1);
}

TEST_F(ServerTest, MayBeUnloadedOnlyWhenNothingIsHeld) {
    EXPECT_EQ(library.CanUnloadNow(), S_OK);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(library.GetClassObject(zinext::kClsidZinShlExt, IID_PPV_ARGS(&factory)), S_OK);
    ComPtr<IContextMenu> handler;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&handler)), S_OK);
    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    factory.Reset();
    EXPECT_EQ(library.CanUnloadNow(), S_FALSE) << "object and lock";
    handler.Reset();
    EXPECT_EQ(library.CanUnloadNow(), S_FALSE) << "lock";
    ASSERT_EQ(library.GetClassObject(zinext::kClsidZinShlExt, IID_PPV_ARGS(&factory)), S_OK);
    ASSERT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(library.CanUnloadNow(), S_FALSE) << "factory";
    factory.Reset();
    EXPECT_EQ(library.CanUnloadNow(), S_OK);
    handler = library.CreateHandler();
    EXPECT_EQ(library.CanUnloadNow(), S_FALSE) << "object";
    handler.Reset();
    EXPECT_EQ(library.CanUnloadNow(), S_OK);
}

// ---- registration ----

const wchar_t kClassKey[] = L"CLSID\\{5C1E9B47-2A6D-4F83-9E10-7B4D3A6C2F58}";
const wchar_t kServerKey[] = L"CLSID\\{5C1E9B47-2A6D-4F83-9E10-7B4D3A6C2F58}\\InprocServer32";
const wchar_t kHandlerKey[] = L"*\\ShellEx\\ContextMenuHandlers\\SimpleShlExt";
const wchar_t kAppIdKey[] = L"AppID\\{A83F2D61-7C94-4B2E-8D05-19E6C4B7F3A2}";
const wchar_t kAppIdNameKey[] = L"AppID\\ZinExt.DLL";

class RegistrationTest : public ::testing::Test {
protected:
    void TearDown() override {
        // Every test starts with a freshly loaded module (per-user mode is
        // remembered for the life of the module).
        library.reset();
        EXPECT_FALSE(GetModuleHandleW(ZinExtLibrary::BuiltPath().c_str())) << "ZinExt.dll still loaded";
    }

    // Machine-wide keys are read from the classes root, per-user ones from
    // the user's Software\Classes.
    static std::wstring UserClasses(const std::wstring& path) { return L"Software\\Classes\\" + path; }
    static bool KeyExists(HKEY root, const std::wstring& path) {
        fw::UniqueHKey key;
        return RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
    }
    static std::wstring Value(HKEY root, const std::wstring& path, const wchar_t* name = nullptr) {
        wchar_t data[1024] = {};
        DWORD size = sizeof data - sizeof(wchar_t);
        if (RegGetValueW(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
            return L"<missing>";
        return data;
    }
    static void CreateKey(HKEY root, const std::wstring& path, const wchar_t* value) {
        fw::UniqueHKey key;
        ASSERT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                                 static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    void ExpectRegistered(HKEY root, const std::wstring& prefix) {
        EXPECT_EQ(Value(root, prefix + kClassKey), L"ZinShlExt Class");
        EXPECT_EQ(Value(root, prefix + kServerKey), library->LoadedPath());
        EXPECT_EQ(Value(root, prefix + kServerKey, L"ThreadingModel"), L"Apartment");
        EXPECT_EQ(Value(root, prefix + kHandlerKey), L"{5C1E9B47-2A6D-4F83-9E10-7B4D3A6C2F58}");
        EXPECT_EQ(Value(root, prefix + kAppIdKey), L"ZinExt");
        EXPECT_EQ(Value(root, prefix + kAppIdNameKey, L"AppID"), L"{A83F2D61-7C94-4B2E-8D05-19E6C4B7F3A2}");
    }
    void ExpectUnregistered(HKEY root, const std::wstring& prefix) {
        for (const wchar_t* path : {kClassKey, kHandlerKey, kAppIdKey, kAppIdNameKey})
            EXPECT_FALSE(KeyExists(root, prefix + path)) << path;
    }

    // The classes root and the machine first: the user's sandbox must be made
    // last so that the others lie in the real hive.
    RegistrySandbox classes{HKEY_CLASSES_ROOT};
    RegistrySandbox machine{HKEY_LOCAL_MACHINE};
    RegistrySandbox user;
    std::unique_ptr<ZinExtLibrary> library = std::make_unique<ZinExtLibrary>();
};

TEST_F(RegistrationTest, RegistersTheClassAndTheHandlerForAllFiles) {
    ASSERT_EQ(library->RegisterServer(), S_OK);
    ExpectRegistered(HKEY_CLASSES_ROOT, L"");
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, UserClasses(L"CLSID")));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"Software"));
}

TEST_F(RegistrationTest, RegisteringTwiceLeavesOneCleanClassAndUnregisteringKeepsTheSharedKeys) {
    ASSERT_EQ(library->RegisterServer(), S_OK);
    CreateKey(HKEY_CLASSES_ROOT, std::wstring(kClassKey) + L"\\Stale", L"left over");
    CreateKey(HKEY_CLASSES_ROOT, std::wstring(kHandlerKey) + L"\\Stale", L"left over");
    ASSERT_EQ(library->RegisterServer(), S_OK);
    ExpectRegistered(HKEY_CLASSES_ROOT, L"");
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(kClassKey) + L"\\Stale"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(kHandlerKey) + L"\\Stale"));

    ASSERT_EQ(library->UnregisterServer(), S_OK);
    ExpectUnregistered(HKEY_CLASSES_ROOT, L"");
    for (const wchar_t* shared : {L"CLSID", L"AppID", L"*", L"*\\ShellEx", L"*\\ShellEx\\ContextMenuHandlers"})
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, shared)) << shared;
    // Unregistering again finds nothing to do.
    EXPECT_EQ(library->UnregisterServer(), S_OK);
}

TEST_F(RegistrationTest, OtherClassesAndHandlersSurvive) {
    const std::wstring otherClass = L"CLSID\\{00000000-1111-2222-3333-444444444444}";
    const std::wstring otherHandler = L"*\\ShellEx\\ContextMenuHandlers\\Other";
    const std::wstring otherAppId = L"AppID\\Other.DLL";
    CreateKey(HKEY_CLASSES_ROOT, otherClass, L"other class");
    CreateKey(HKEY_CLASSES_ROOT, otherHandler, L"{00000000-1111-2222-3333-444444444444}");
    CreateKey(HKEY_CLASSES_ROOT, otherAppId, L"other");
    ASSERT_EQ(library->RegisterServer(), S_OK);
    ASSERT_EQ(library->UnregisterServer(), S_OK);
    ExpectUnregistered(HKEY_CLASSES_ROOT, L"");
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, otherClass), L"other class");
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, otherHandler), L"{00000000-1111-2222-3333-444444444444}");
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, otherAppId), L"other");
}

TEST_F(RegistrationTest, InstallForUserWritesUnderTheUsersClasses) {
    ASSERT_EQ(library->Install(TRUE, L"USER"), S_OK);
    ExpectRegistered(HKEY_CURRENT_USER, UserClasses(L""));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
    // The mode holds for the later calls of the process.
    ASSERT_EQ(library->UnregisterServer(), S_OK);
    ExpectUnregistered(HKEY_CURRENT_USER, UserClasses(L""));
    ASSERT_EQ(library->RegisterServer(), S_OK);
    ExpectRegistered(HKEY_CURRENT_USER, UserClasses(L""));
    ASSERT_EQ(library->Install(FALSE, L"user"), S_OK);
    ExpectUnregistered(HKEY_CURRENT_USER, UserClasses(L""));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
}

TEST_F(RegistrationTest, InstallWithAnyOtherWordIsMachineWide) {
    ASSERT_EQ(library->Install(TRUE, L"users"), S_OK);
    ExpectRegistered(HKEY_CLASSES_ROOT, L"");
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, UserClasses(L"CLSID")));
    ASSERT_EQ(library->Install(FALSE, nullptr), S_OK);
    ExpectUnregistered(HKEY_CLASSES_ROOT, L"");
}

TEST_F(RegistrationTest, UnregisteringWhatWasNeverRegisteredCreatesNothing) {
    ASSERT_EQ(library->UnregisterServer(), S_OK);
    ASSERT_EQ(library->Install(FALSE, L"user"), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"AppID"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Classes"));
}

TEST_F(RegistrationTest, TheCallersThreadLocaleIsGivenBack) {
    const LCID previous = GetThreadLocale();
    const LCID english = MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT);
    ASSERT_TRUE(SetThreadLocale(english));
    EXPECT_EQ(library->RegisterServer(), S_OK);
    EXPECT_EQ(GetThreadLocale(), english);
    SetThreadLocale(previous);
}

}  // namespace
