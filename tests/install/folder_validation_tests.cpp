#include <gtest/gtest.h>
#include <windows.h>

#include <sddl.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "foundation/constants.h"
#include "foundation/registry.h"
#include "install/admin.h"
#include "install/folder_validation.h"
#include "install/install.h"
#include "tests/install/install_fixture.h"

namespace dormalis {
namespace {

using namespace testing;

constexpr const char* A = "Choose an absolute local installation folder, not a drive root.";
constexpr const char* C = "A drive root cannot be an installation folder.";
constexpr const char* D = "Choose a local fixed disk.";
constexpr const char* E =
    "To change the folder of an existing installation, uninstall Dormalis first, then run Setup again.";
constexpr const char* F = "The parent folder must already exist.";
// Wine gives every real folder the user as its owner, so the walk up the parents refuses every folder that passes
// the rules before it.
constexpr const char* I =
    "Choose a protected folder (for example under Program Files). User-writable parent folders and links are not "
    "safe for a Windows service.";

template <typename Call>
std::string outcome(Call call) {
    try {
        return narrow(call());
    } catch (const std::exception& error) {
        return error.what();
    }
}

// The rules in the order they apply: the form, the drive root, the drive type, an existing installation, the parent.
TEST(FolderValidation, EachRuleRefusesWithItsOwnMessage) {
    ScratchFolder scratch(L"C:\\dormalis-validation");
    std::ofstream(std::filesystem::path(scratch.path + L"\\plain.txt")) << "x";
    const std::wstring longest = L"C:\\" + std::wstring(236, L'a');
    ASSERT_EQ(GetDriveTypeW(L"R:\\"), static_cast<UINT>(DRIVE_REMOVABLE)) << "the prefix maps R: as a floppy";
    std::vector<std::pair<const char*, std::vector<std::wstring>>> rules = {
        {A,
         {L"", L"C:", L"C:\\", L"D:Tools", L"\\\\server\\share\\Tools", L"\\\\?\\C:\\Tools", L"\\\\.\\C:\\Tools",
          L"C:/Tools", L"Tools\\Dormalis", L"\\Tools\\Dormalis", L"C:\\Tools:stream", L"C:\\Tools\\a:b", longest + L"b",
          L"C:\\" + std::wstring(200, L'.') + L"\\" + std::wstring(50, L'a')}},  // too long though it would shrink
        {C, {L"C:\\\\", L"C:\\.", L"C:\\..", L"C:\\Tools\\..", L"C:\\Tools\\..\\.\\", L"C:\\\\\\\\"}},
        {D, {L"Q:\\Tools", L"R:\\Tools"}},  // a letter with no drive; a removable drive
        {F, {L"C:\\no-such-parent\\Dormalis", scratch.path + L"\\plain.txt\\Dormalis"}},
        {I, {longest}},  // 239 characters pass the form
    };
    for (const wchar_t forbidden : std::wstring(L"<>\"|?*"))
        rules[0].second.push_back(L"C:\\Tools\\x" + std::wstring(1, forbidden));
    for (const auto& [refusal, inputs] : rules) {
        for (const std::wstring& input : inputs)
            EXPECT_EQ(outcome([&] { return validateInstallDirectory(input); }), refusal) << narrow(input);
    }
    // What the form rules make of a folder they pass; the chain goes on to the walk.
    for (const auto& [input, normalised] :
         {std::pair{L"C:\\windows\\Tools\\", "C:\\windows\\Tools"}, std::pair{L"C:\\windows\\..\\Tools", "C:\\Tools"},
          std::pair{L"c:\\windows\\.\\x\\..\\Tools\\", "c:\\windows\\Tools"}, std::pair{L"C:\\A", "C:\\A"}}) {
        EXPECT_EQ(outcome([&] { return normalisedInstallPath(input); }), normalised);
        EXPECT_EQ(outcome([&] { return validateInstallDirectory(input); }), I) << narrow(input);
    }

    // An installed service ties the folder to its installation; the same folder in another letter case passes.
    CleanMachine clean;
    registerStandInService(L"\"" + DefaultFolder + L"\\Dormalis.exe\" --service");
    writeString(HKEY_LOCAL_MACHINE, RegistryPath, L"InstallPath", DefaultFolder);
    for (const auto& [input, refusal] :
         {std::pair{L"C:\\Apps\\Dormalis", E}, std::pair{L"C:\\Program Files\\Dormalis", E},
          std::pair{L"c:\\PROGRAM FILES\\dormalisnative\\", I},
          std::pair{L"Q:\\Tools", D}})  // the drive rule comes first
        EXPECT_EQ(outcome([&] { return validateInstallDirectory(input); }), refusal) << narrow(input);
}

TEST(FolderValidation, TheFolderItselfMustNotBeALinkAndMustBeEmptyUnlessItIsTheInstallation) {
    ScratchFolder scratch(L"C:\\dormalis-target");
    const std::wstring empty = scratch.path + L"\\empty", used = scratch.path + L"\\used";
    const std::wstring linked = L"C:\\dormalis-links\\linked";
    std::filesystem::create_directories(std::filesystem::path(empty));
    std::filesystem::create_directories(std::filesystem::path(used));
    std::ofstream(std::filesystem::path(used + L"\\notes.txt")) << "mine";
    const char* K = "Choose an empty folder dedicated to Dormalis.";
    const char* J = "Linked folders are not supported.";
    const struct {
        std::wstring path;
        bool installed;
        const char* result;
    } cases[] = {{scratch.path + L"\\not-yet", false, ""},
                 {empty, false, ""},
                 {used, false, K},
                 {used, true, ""},  // the current installation keeps its files until replaced
                 {linked, false, J},
                 {linked, true, J}};
    for (const auto& target : cases) {
        EXPECT_EQ(outcome([&] { return (checkTargetFolder(target.path, target.installed), std::wstring()); }),
                  target.result)
            << narrow(target.path) << (target.installed ? ", installed" : "");
    }
}

constexpr const wchar_t* TrustedInstaller = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// Descriptors stand for real Windows folders, which Wine cannot show. The judgement must not depend on who asks:
// the process itself holds a principal the protected folders grant full control, as LocalSystem does when a
// deployment tool runs the setup; the impersonated view is the same administrator without that membership.
TEST(FolderValidation, AFolderIsJudgedByItsOwnerAndEntriesWhoeverAsks) {
    const std::wstring other = L"S-1-5-21-1-2-3-1001", installer = TrustedInstaller;
    const std::wstring root =
        L"O:" + installer +
        L"D:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)(A;OICIIO;SDGXGWGR;;;AU)(A;;0x4;;;AU)";
    const std::wstring addFiles = L"O:SYD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;CI;0x100116;;;BU)";
    const DWORD above = AncestorForbiddenRights;
    struct FolderCase {
        std::wstring sddl;
        DWORD forbidden;
        bool safe;
    };
    std::vector<FolderCase> cases = {
        {L"O:" + installer + L"D:P(A;;FA;;;" + installer + L")(A;;0x1301bf;;;SY)(A;;0x1301bf;;;BA)" +
             L"(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;BU)(A;;0x1200a9;;;S-1-15-2-1)",
         above, true},                                                            // Program Files
        {root, RootForbiddenRights, true},                                        // a root where users add folders
        {root, above, false},                                                     // the same rights below a root
        {L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)", above, true},                        // nothing for anyone else
        {InstallFolderSddl, ClaimForbiddenRights, true},                          // what an installation sets
        {L"O:" + other + L"D:P(A;;FA;;;BA)", above, false},                       // owned by a user, no entry
        {addFiles, above, true},                                                  // users may add files above...
        {addFiles, ClaimForbiddenRights, false},                                  // ...not to the folder taken over
        {L"O:BAD:P(A;;FA;;;BA)(A;OICIIO;FA;;;BU)", ClaimForbiddenRights, false},  // inherited inside
        {L"O:BAG:BA", above, false},                                              // no DACL: open to all
        {L"D:P(A;;FA;;;BA)", above, false},                                       // no owner
    };
    // One forbidden right for anyone but the system, administrators and TrustedInstaller is enough.
    for (const wchar_t* right : {L"WD", L"WO", L"SD", L"0x40", L"GA"})
        for (const std::wstring& grantee : {other, std::wstring(L"BU")})
            cases.push_back({L"O:BAD:P(A;;FA;;;BA)(A;;" + std::wstring(right) + L";;;" + grantee + L")", above, false});

    UniqueHandle ordinary = ordinaryUserToken(), view;
    ASSERT_TRUE(DuplicateToken(ordinary.get(), SecurityImpersonation, view.put()));
    for (HANDLE caller : {static_cast<HANDLE>(nullptr), view.get()}) {
        for (const FolderCase& folder : cases) {
            PSECURITY_DESCRIPTOR made = nullptr;
            ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(folder.sddl.c_str(), SDDL_REVISION_1,
                                                                             &made, nullptr));
            UniqueLocal descriptor{made};
            bool safe = !folder.safe;
            std::thread([&] {
                if (caller) SetThreadToken(nullptr, caller);
                safe = folderDescriptorIsSafe(descriptor.get(), folder.forbidden);
                RevertToSelf();
            }).join();
            EXPECT_EQ(safe, folder.safe) << narrow(folder.sddl) << (caller ? ", as an ordinary user" : "");
        }
    }
}

}  // namespace
}  // namespace dormalis
