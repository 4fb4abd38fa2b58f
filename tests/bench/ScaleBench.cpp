// The scale benchmark of scripts/bench-scale.sh (not a test): how long the
// Explorer extension takes for a right-click on large selections, and how
// long the folder dialog takes to open on large group listings.
//
//   scale_bench.exe menu       Initialize + QueryContextMenu for 100, 20,000
//                              and 100,000 selected files
//   scale_bench.exe folders    the folder dialog's first opening (listing
//                              loaded and the tree built) for 1,000, 10,000
//                              and 50,000 groups, as a wide tree and as one
//                              chain listed child first, and a reopening
//                              whose refresh patches a tenth of the tree
//
// Prints one line per measurement: "<what> <count> <seconds>".
#include "zinpost/engine/ThreadAgent.h"
#include "common/SettingsNames.h"
#include "zinpost/ui/FolderSelectDialog.h"
#include "zinpost/resource.h"
#include "zinpost/engine/AppSettings.h"

#include "tests/dialogs/ModalRun.h"
#include "tests/support/RegistrySandbox.h"
#include "tests/support/StandinServer.h"
#include "tests/support/TempDir.h"
#include "tools/driver/WindowDriver.h"
#include "tests/zinext/ZinExtHarness.h"

#include "framework/Profile.h"
#include "framework/Text.h"

#include <commctrl.h>
#include <shellapi.h>

#include <chrono>
#include <cstdio>
#include <string>

using namespace testing_support;

namespace {

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int Menu() {
    RegistrySandbox sandbox;
    fw::Profile profile(settings_names::kApplication);
    profile.SetRegistryKey(settings_names::kRegistryKey);
    profile.WriteString(settings_names::kSection, settings_names::kFolderName, "bench");
    profile.WriteString(settings_names::kSection, settings_names::kExeFile, "C:\\bench\\zinpost.exe");
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    zinext_test::ZinExtLibrary library;
    for (size_t count : {100u, 20000u, 100000u}) {
        std::vector<std::wstring> paths;
        for (size_t i = 0; i < count; ++i) paths.push_back(L"C:\\共有 文書\\報告書 " + std::to_wstring(i) + L".docx");
        const auto selection = zinext_test::MakeSelection(paths);
        HMENU menu = CreatePopupMenu();
        const auto start = std::chrono::steady_clock::now();
        auto handler = library.CreateHandler();
        Microsoft::WRL::ComPtr<IShellExtInit> init;
        if (!handler || FAILED(handler.As(&init)) || FAILED(init->Initialize(nullptr, selection.Get(), nullptr)) ||
            FAILED(handler->QueryContextMenu(menu, 0, 1, 10, CMF_NORMAL)))
            return 1;
        std::printf("menu %zu %.4f\n", count, Seconds(start));
        std::fflush(stdout);
        DestroyMenu(menu);
    }
    CoUninitialize();
    return 0;
}

// `count` groups: a wide tree (twenty top-level groups, every other group
// below one of the first fifty) or one chain, listed child first, so that
// every group waits for the one listed after it. `renamed`: every tenth
// group gets another title.
std::string Listing(size_t count, bool chain, bool renamed) {
    std::string json = "[";
    for (size_t n = 0; n < count; ++n) {
        const size_t id = chain ? count - n : n + 1;
        std::string parent = "null";
        if (chain ? id > 1 : id > 20) parent = std::to_string(chain ? id - 1 : 1 + id % 50);
        const std::string title = (renamed && id % 10 == 0 ? "renamed " : "group ") + std::to_string(id);
        json += (n ? "," : "") + fw::Format(R"({"content_group_id": %zu, "parent_content_group_id": %s, "title_ja": "%s"})",
                                             id, parent.c_str(), title.c_str());
    }
    return json + "]";
}

int Folders() {
    StandinServer server;
    TempDir dir;
    CurrentDirectory cwd(dir.Path());
    RegistrySandbox sandbox;
    fw::Profile profile(settings_names::kApplication);
    profile.SetRegistryKey(settings_names::kRegistryKey);
    CAppSettings settings(&profile);
    SetAppSettings(&settings);
    server.SetAccounts({{"bench", "bench"}});
    settings.Server = server.Url();
    settings.User = "bench";
    settings.Password = "bench";
    settings.ProxySelect = 0;
    CFolderSelectDialog* dialog = CFolderSelectDialog::GetInstance();
    for (bool chain : {false, true}) {
        for (size_t count : {1000u, 10000u, 50000u}) {
            const char* shape = chain ? "chain" : "tree";
            server.Control("POST", "/groups", "{\"content_groups\": " + Listing(count, chain, false) + "}");
            CContentGroupCache::GetInstance().SetLoaded(0);
            auto start = std::chrono::steady_clock::now();
            {
                ModalRun run(*dialog);
                HWND tree = GetDlgItem(run.Hwnd(), IDC_FOLDER_TREE);
                if (!tree || TreeView_GetCount(tree) != count) return 1;
                std::printf("folders-open-%s %zu %.3f\n", shape, count, Seconds(start));
                std::fflush(stdout);
                run.Click(IDCANCEL);
                run.Wait(60000);
            }
            // Reopened: the kept tree at once, then the refresh's patch.
            server.Control("POST", "/groups", "{\"content_groups\": " + Listing(count, chain, true) + "}");
            start = std::chrono::steady_clock::now();
            {
                ModalRun run(*dialog);
                const bool patched = WaitFor(
                    [&] {
                        const GroupListing kept = CContentGroupCache::GetInstance().Kept();
                        for (const auto* list : {&kept.parents, &kept.children})
                            for (const ContentGroup& g : *list)
                                if (g.Name.rfind("renamed ", 0) == 0) return true;
                        return false;
                    },
                    600000);
                if (!patched) return 1;
                std::printf("folders-patch-%s %zu %.3f\n", shape, count, Seconds(start));
                std::fflush(stdout);
                run.Click(IDCANCEL);
                run.Wait(60000);
            }
            CThreadAgent* agent = CThreadAgent::GetInstance();
            if (agent->m_pUpdateFolderTreeThread)
                WaitForSingleObject(agent->m_pUpdateFolderTreeThread->handle.get(), 600000);
        }
    }
    SetAppSettings(nullptr);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), 0xFF};
    InitCommonControlsEx(&controls);
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"menu") return Menu();
    if (mode == L"folders") return Folders();
    std::fprintf(stderr, "usage: scale_bench.exe menu|folders\n");
    return 2;
}
