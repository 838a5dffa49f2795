#include <gtest/gtest.h>

#include <thread>

#include "tests/support/support.h"

namespace dormalis {
namespace {

using namespace testing;

std::wstring dormalis(const std::wstring& arguments) {
    return quoted(buildFolder() + L"\\Dormalis.exe") + L" " + arguments;
}

TEST(EntrySystem, PreviewWithoutAUsableHostExitsAtOnceWithZero) {
    for (const wchar_t* arguments : {L"/p", L"/p:0", L"/p 0", L"/p 987654321", L"/P:987654321"}) {
        ProcessResult result = runProcess(dormalis(arguments), 10000);
        EXPECT_TRUE(result.finished) << narrow(arguments);
        EXPECT_EQ(result.exitCode, 0u) << narrow(arguments);
    }
}

TEST(EntrySystem, DriverReadsAndAnswersAMessageBoxOfAnotherProgram) {
    int answer = 0;
    std::thread owner([&] { answer = MessageBoxW(nullptr, L"Line one\nLine two", L"Driver check", MB_OKCANCEL); });
    ProcessResult read = driver(L"message-box \"Driver check\" 10000");
    ProcessResult pressed = driver(L"press \"Driver check\" 1 10000");
    owner.join();
    EXPECT_EQ(read.exitCode, 0u);
    EXPECT_EQ(read.output, "Line one\nLine two");
    EXPECT_EQ(pressed.exitCode, 0u);
    EXPECT_EQ(answer, IDOK);
}

TEST(EntrySystem, DriverFindsNothingWhenNothingIsThere) {
    ProcessResult result = driver(L"find - \"No window has this title\" 300");
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_TRUE(result.output.empty());
}

TEST(EntrySystem, AnEscapingErrorIsShownInTheDormalisNativeBoxAndGivesExitCodeOne) {
    UniqueHandle process = startProcess(dormalis(L"--set-timeout 0"));
    ProcessResult box = driver(L"message-box \"Dormalis Native\" 10000");
    ASSERT_EQ(box.exitCode, 0u) << "no error box appeared";
    EXPECT_FALSE(box.output.empty());
    driver(L"press \"Dormalis Native\" 1");
    EXPECT_EQ(finishProcess(process.get(), 10000), 1u);
}

}  // namespace
}  // namespace dormalis
