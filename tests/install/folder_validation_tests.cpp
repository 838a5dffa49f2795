#include <gtest/gtest.h>
#include <windows.h>

#include <sddl.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "foundation/constants.h"
#include "foundation/registry.h"
#include "install/admin.h"
#include "install/folder_validation.h"
#include "install/install.h"
#include "tests/install/install_fixture.h"
#include "tests/support/support.h"

namespace dormalis {
namespace {

using namespace testing;

constexpr const char* A = "Choose an absolute local installation folder, not a drive root.";
constexpr const char* C = "A drive root cannot be an installation folder.";
constexpr const char* D = "Choose a local fixed disk.";
constexpr const char* E =
    "To change the folder of an existing installation, uninstall Dormalis first, then run Setup again.";
constexpr const char* F = "The parent folder must already exist.";
constexpr const char* I =
    "Choose a protected folder (for example under Program Files). User-writable parent folders and links are not "
    "safe for a Windows service.";
constexpr const char* J = "Linked folders are not supported.";
constexpr const char* K = "Choose an empty folder dedicated to Dormalis.";

// The message validation gives, or "accepted: <path>".
std::string outcome(const std::wstring& requested) {
    try {
        return "accepted: " + narrow(validateInstallDirectory(requested));
    } catch (const std::exception& error) {
        return error.what();
    }
}

std::string normalised(const std::wstring& requested) {
    try {
        return narrow(normalisedInstallPath(requested));
    } catch (const std::exception& error) {
        return error.what();
    }
}

std::string targetOutcome(const std::wstring& path, bool serviceInstalled) {
    try {
        checkTargetFolder(path, serviceInstalled);
        return "accepted";
    } catch (const std::exception& error) {
        return error.what();
    }
}

TEST(FolderValidation, RawFormsThatAreNotAnAbsoluteDriveFolderGiveA) {
    const std::wstring longest(239 - 3, L'a');
    const std::vector<std::wstring> inputs = {
        L"",
        L"C:",
        L"C:\\",                      // three characters: the form rule answers before the root rule
        L"D:Tools",                   // drive-relative
        L"\\\\server\\share\\Tools",  // UNC
        L"\\\\?\\C:\\Tools",          // device path
        L"\\\\.\\C:\\Tools",
        L"C:/Tools",           // forward slash
        L"Tools\\Dormalis",    // relative
        L"\\Tools\\Dormalis",  // rooted but driveless
        L"C:\\Tools:stream",   // alternate data stream
        L"C:\\Tools\\a:b",
        L"C:\\" + longest + L"b",                                            // 240 characters
        L"C:\\" + std::wstring(200, L'.') + L"\\" + std::wstring(50, L'a'),  // too long even though it would shrink
    };
    for (const wchar_t forbidden : std::wstring(L"<>\"|?*"))
        EXPECT_EQ(outcome(L"C:\\Tools\\x" + std::wstring(1, forbidden)), A) << char(forbidden);
    for (const std::wstring& input : inputs)
        EXPECT_EQ(outcome(input), A) << narrow(input);
    // 239 characters is still a form the rules accept; the walk refuses it later, as every folder under Wine.
    EXPECT_EQ(outcome(L"C:\\" + longest), std::string(I)) << "239 characters must pass the form rule";
}

TEST(FolderValidation, PathsThatResolveToADriveRootGiveC) {
    for (const wchar_t* input :
         {L"C:\\\\", L"C:\\.", L"C:\\..", L"C:\\Tools\\..", L"C:\\Tools\\..\\.\\", L"C:\\\\\\\\"}) {
        EXPECT_EQ(outcome(input), C) << narrow(input);
    }
}

TEST(FolderValidation, TheFullPathIsResolvedAndTrailingBackslashesRemoved) {
    EXPECT_EQ(normalised(L"C:\\Apps\\Tools\\"), "C:\\Apps\\Tools");
    EXPECT_EQ(normalised(L"C:\\Program Files\\DormalisNative\\\\"), "C:\\Program Files\\DormalisNative");
    EXPECT_EQ(normalised(L"C:\\Apps\\..\\Tools"), "C:\\Tools");
    EXPECT_EQ(normalised(L"c:\\apps\\.\\x\\..\\Tools\\"), "c:\\apps\\Tools");
    EXPECT_EQ(normalised(L"C:\\A"), "C:\\A");  // four characters are kept
}

TEST(FolderValidation, DrivesThatAreNotFixedDisksGiveD) {
    EXPECT_EQ(outcome(L"Q:\\Tools"), D) << "a letter with no drive";
    ASSERT_EQ(GetDriveTypeW(L"R:\\"), static_cast<UINT>(DRIVE_REMOVABLE)) << "the prefix maps R: as a floppy";
    EXPECT_EQ(outcome(L"R:\\Tools"), D) << "a removable drive, even with an existing folder";
}

TEST(FolderValidation, AMissingParentOrAParentThatIsAFileGivesF) {
    ScratchFolder scratch(L"C:\\dormalis-validation");
    std::ofstream(std::filesystem::path(scratch.path + L"\\plain.txt")) << "x";
    EXPECT_EQ(outcome(L"C:\\no-such-parent\\Dormalis"), F);
    EXPECT_EQ(outcome(scratch.path + L"\\plain.txt\\Dormalis"), F);
}

// The decision for one folder of the chain, on descriptors standing for real Windows folders.
struct Descriptor {
    UniqueLocal held;
    explicit Descriptor(const std::wstring& sddl) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                                  nullptr)) {
            throw std::runtime_error("bad SDDL in the test");
        }
        held.reset(descriptor);
    }
    PSECURITY_DESCRIPTOR get() const { return held.get(); }
};

constexpr const wchar_t* TrustedInstaller = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// Runs `check` on a thread that impersonates `token`, or as the process itself when there is none.
template <typename Check>
auto asCaller(HANDLE token, Check check) {
    decltype(check()) result{};
    std::thread([&] {
        if (token) SetThreadToken(nullptr, token);
        result = check();
        RevertToSelf();
    }).join();
    return result;
}

struct FolderCase {
    std::wstring sddl;
    DWORD forbidden;
    bool safe;
};

// Descriptors stand for real Windows folders, which Wine cannot show. The judgement must not depend on who asks:
// the process itself holds a principal the protected folders grant full control, as LocalSystem does when a
// deployment tool runs the setup; the restricted view is the same administrator without that membership.
TEST(FolderValidation, AFolderIsJudgedByItsOwnerAndEntriesWhoeverAsks) {
    const std::wstring other = L"S-1-5-21-1-2-3-1001", installer = TrustedInstaller;
    const std::wstring root =
        L"O:" + installer +
        L"D:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)(A;OICIIO;SDGXGWGR;;;AU)(A;;0x4;;;AU)";
    const std::wstring addFiles = L"O:SYD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;CI;0x100116;;;BU)";
    const DWORD above = AncestorForbiddenRights;
    std::vector<FolderCase> cases = {
        {L"O:" + installer + L"D:P(A;;FA;;;" + installer + L")(A;;0x1301bf;;;SY)(A;;0x1301bf;;;BA)" +
             L"(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;BU)(A;;0x1200a9;;;S-1-15-2-1)",
         above, true},                                                            // Program Files
        {root, RootForbiddenRights, true},                                        // a root where users add folders
        {root, above, false},                                                     // the same rights below a root
        {L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)", above, true},                        // nothing for anyone else
        {InstallFolderSddl, ClaimForbiddenRights, true},                          // the installation folder
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
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(Descriptor(InstallFolderSddl).get(), &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED) << "nothing may flow into the installation folder from above";

    UniqueHandle ordinary = ordinaryUserToken();
    UniqueHandle view;
    ASSERT_TRUE(DuplicateToken(ordinary.get(), SecurityImpersonation, view.put()));
    for (HANDLE caller : {static_cast<HANDLE>(nullptr), view.get()}) {
        const char* who = caller ? "as an ordinary user" : "as an elevated administrator";
        for (const FolderCase& folder : cases) {
            Descriptor descriptor(folder.sddl);
            EXPECT_EQ(asCaller(caller, [&] { return folderDescriptorIsSafe(descriptor.get(), folder.forbidden); }),
                      folder.safe)
                << narrow(folder.sddl) << ", " << who;
        }
        // Wine gives every real folder the user as its owner, so the walk refuses them all, links included.
        for (const wchar_t* requested :
             {L"C:\\Program Files\\DormalisNative\\\\", L"C:\\dormalis-links\\linked\\Dormalis"})
            EXPECT_EQ(asCaller(caller, [&] { return outcome(requested); }), I) << narrow(requested) << ", " << who;
    }
}

TEST(FolderValidation, TheFolderItselfMustNotBeALinkAndMustBeEmptyUnlessItIsTheInstallation) {
    ScratchFolder scratch(L"C:\\dormalis-target");
    const std::wstring empty = scratch.path + L"\\empty";
    const std::wstring used = scratch.path + L"\\used";
    std::filesystem::create_directories(std::filesystem::path(empty));
    std::filesystem::create_directories(std::filesystem::path(used));
    std::ofstream(std::filesystem::path(used + L"\\notes.txt")) << "mine";

    EXPECT_EQ(targetOutcome(scratch.path + L"\\not-yet", false), "accepted") << "created later by the installation";
    EXPECT_EQ(targetOutcome(empty, false), "accepted");
    EXPECT_EQ(targetOutcome(used, false), K);
    EXPECT_EQ(targetOutcome(used, true), "accepted") << "the current installation keeps its files until replaced";
    EXPECT_EQ(targetOutcome(L"C:\\dormalis-links\\linked", false), J);
    EXPECT_EQ(targetOutcome(L"C:\\dormalis-links\\linked", true), J);
}

TEST(FolderValidation, AnInstalledServiceTiesTheFolderToItsInstallation) {
    CleanMachine clean;
    registerStandInService(L"\"C:\\Program Files\\DormalisNative\\Dormalis.exe\" --service");
    writeString(HKEY_LOCAL_MACHINE, RegistryPath, L"InstallPath", L"C:\\Program Files\\DormalisNative");
    EXPECT_EQ(outcome(L"C:\\Apps\\Dormalis"), E);
    EXPECT_EQ(outcome(L"C:\\Program Files\\Dormalis"), E);
    // The same folder in another letter case passes the rule (and meets the walk next, which Wine refuses).
    EXPECT_EQ(outcome(L"c:\\PROGRAM FILES\\dormalisnative\\"), I);
    EXPECT_EQ(outcome(L"Q:\\Tools"), D) << "the drive rule comes first";
}

}  // namespace
}  // namespace dormalis
