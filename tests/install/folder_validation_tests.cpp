#include <gtest/gtest.h>
#include <windows.h>

#include <sddl.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
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
        L"C:\\Tools\\x<y",
        L"C:\\Tools\\x>y",
        L"C:\\Tools\\\"x\"",
        L"C:\\Tools\\x|y",
        L"C:\\Tools\\x?",
        L"C:\\Tools\\*",
        L"C:\\" + longest + L"b",                                            // 240 characters
        L"C:\\" + std::wstring(200, L'.') + L"\\" + std::wstring(50, L'a'),  // too long even though it would shrink
    };
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
    EXPECT_EQ(outcome(L"C:\\no-such-parent\\deeper\\Dormalis"), F);
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

std::wstring currentUserSid() {
    UniqueHandle token;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put());
    BYTE buffer[512];
    DWORD length = 0;
    GetTokenInformation(token.get(), TokenUser, buffer, sizeof(buffer), &length);
    wchar_t* text = nullptr;
    ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text);
    UniqueLocal held{text};
    return text;
}

constexpr const wchar_t* TrustedInstaller = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

TEST(FolderValidation, OneFolderIsJudgedByWhatAnOrdinaryUserMayDoToIt) {
    UniqueHandle view = ordinaryUserView();
    const std::wstring user = currentUserSid();
    // Program Files: users and everyone may read; only the system, administrators and TrustedInstaller change it.
    Descriptor programFiles(std::wstring(L"O:") + TrustedInstaller + L"G:" + TrustedInstaller + L"D:P(A;;FA;;;" +
                            TrustedInstaller +
                            L")(A;;0x1301bf;;;SY)(A;;0x1301bf;;;BA)(A;;0x1200a9;;;BU)(A;;0x1200a9;;;WD)");
    EXPECT_TRUE(folderDescriptorIsSafe(programFiles.get(), view.get(), AncestorForbiddenRights));

    Descriptor profile(L"O:" + user + L"G:" + user + L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + user + L")");
    EXPECT_FALSE(folderDescriptorIsSafe(profile.get(), view.get(), AncestorForbiddenRights)) << "user profile";

    Descriptor repermission(L"O:BAG:SYD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;WD)(A;;WD;;;WD)");
    EXPECT_FALSE(folderDescriptorIsSafe(repermission.get(), view.get(), AncestorForbiddenRights)) << "WRITE_DAC";
    Descriptor takeOwnership(L"O:BAG:SYD:P(A;;FA;;;SY)(A;;0x1200a9;;;WD)(A;;WO;;;WD)");
    EXPECT_FALSE(folderDescriptorIsSafe(takeOwnership.get(), view.get(), AncestorForbiddenRights)) << "WRITE_OWNER";
    Descriptor deletable(L"O:BAG:SYD:P(A;;FA;;;SY)(A;;0x1200a9;;;WD)(A;;SD;;;WD)");
    EXPECT_FALSE(folderDescriptorIsSafe(deletable.get(), view.get(), AncestorForbiddenRights)) << "DELETE";
    Descriptor childDeletable(L"O:BAG:SYD:P(A;;FA;;;SY)(A;;0x1200a9;;;WD)(A;;0x40;;;WD)");
    EXPECT_FALSE(folderDescriptorIsSafe(childDeletable.get(), view.get(), AncestorForbiddenRights))
        << "FILE_DELETE_CHILD";

    // A drive root on which users may create folders (and even hold DELETE, meaningless on a root) is acceptable.
    Descriptor root(L"O:" + std::wstring(TrustedInstaller) + L"G:SYD:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)" +
                    L"(A;OICI;0x1200a9;;;WD)(A;CI;0x4;;;WD)(A;;0x16;;;WD)(A;;SD;;;WD)");
    EXPECT_TRUE(folderDescriptorIsSafe(root.get(), view.get(), RootForbiddenRights)) << "drive root";
    EXPECT_FALSE(folderDescriptorIsSafe(root.get(), view.get(), AncestorForbiddenRights))
        << "the same rights below the root let users delete the folder";
    Descriptor openRoot(L"O:BAG:SYD:(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;WD)(A;;0x40;;;WD)");
    EXPECT_FALSE(folderDescriptorIsSafe(openRoot.get(), view.get(), RootForbiddenRights)) << "root with DELETE_CHILD";
}

TEST(FolderValidation, TheDecisionFailsClosed) {
    UniqueHandle view = ordinaryUserView();
    // Only administrators may enter: the ordinary view is granted nothing, so nothing can be vouched for.
    Descriptor adminsOnly(L"O:BAG:SYD:P(A;;FA;;;SY)(A;;FA;;;BA)");
    EXPECT_FALSE(folderDescriptorIsSafe(adminsOnly.get(), view.get(), AncestorForbiddenRights));
    // The same folder seen with the administrator membership would pass the mask: the view must not be elevated.
    Descriptor adminsWrite(L"O:BAG:SYD:P(A;;FA;;;BA)(A;;0x1200a9;;;WD)");
    EXPECT_TRUE(folderDescriptorIsSafe(adminsWrite.get(), view.get(), AncestorForbiddenRights));
    // A deny entry ahead of the grant takes the forbidden right away again.
    Descriptor denied(L"O:BAG:SYD:P(D;;WD;;;WD)(A;;0x1200a9;;;WD)(A;;WD;;;WD)");
    EXPECT_TRUE(folderDescriptorIsSafe(denied.get(), view.get(), AncestorForbiddenRights));
    // A descriptor without owner and group cannot be checked at all.
    Descriptor ownerless(L"D:P(A;;0x1200a9;;;WD)");
    EXPECT_FALSE(folderDescriptorIsSafe(ownerless.get(), view.get(), AncestorForbiddenRights));
}

TEST(FolderValidation, TheWalkRefusesUnderWineWhereEveryFolderIsUserWritable) {
    // Wine gives every folder a descriptor granting the user full access and keeps no ACL, so the walk must refuse
    // even Program Files; the other rules are reached through the pieces above and below.
    UniqueHandle view = ordinaryUserView();
    EXPECT_FALSE(ancestorsAreSafe(L"C:\\Program Files", view.get()));
    EXPECT_FALSE(ancestorsAreSafe(L"C:\\", view.get()));
    EXPECT_EQ(outcome(L"C:\\Program Files\\DormalisNative\\\\"), I);
    EXPECT_EQ(outcome(L"C:\\Tools"), I);
    EXPECT_EQ(outcome(L"C:\\dormalis-links\\linked\\Dormalis"), I) << "parent is a link";
    EXPECT_EQ(outcome(L"C:\\users\\Public\\Dormalis"), I);
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
