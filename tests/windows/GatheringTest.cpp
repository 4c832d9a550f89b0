// SPDX-License-Identifier: Apache-2.0
// Several files chosen at once, as Explorer starts them: a helper process per
// file, all started together, each joining a gathering of the test's own.

#include "Children.h"
#include "Files.h"

#include <process.h>
#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <thread>

using namespace kwtest;

namespace {

std::string Utf8(const std::wstring& text)
{
    std::string out(text.size() * 4 + 1, '\0');
    out.resize(static_cast<std::size_t>(
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(),
                            static_cast<int>(out.size()), nullptr, nullptr)));
    return out;
}

std::wstring GatheringName(const std::string& row)
{
    return L"Kestrawin test " + std::to_wstring(_getpid()) + L" "
           + std::wstring(row.begin(), row.end());
}

// What a helper writes when it leads: "lead" and its paths, a line each.
std::string LeadReport(const fs::path& dir, const std::vector<std::wstring>& files)
{
    std::string text = "lead\n";
    for (const std::wstring& file : files) text += Utf8((dir / file).native()) + "\n";
    return text;
}

// The pipe a lead of this user and logon session listens on.
std::wstring PipeName(const std::wstring& name, const std::wstring& group)
{
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user(size);
    GetTokenInformation(token, TokenUser, user.data(), size, &size);
    CloseHandle(token);
    wchar_t* sid = nullptr;
    ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid);
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    std::wstring pipe = L"\\\\.\\pipe\\" + name + L".gathering.1." + sid + L"."
                        + std::to_wstring(session) + L"." + group;
    LocalFree(sid);
    return pipe;
}

class Gathering : public ScratchTest {};

} // namespace

TEST_F(Gathering, ProcessesStartedTogetherMeetInOneWhichGetsEveryPathOnceSortedByName)
{
    struct Request {
        std::wstring group, file;
    };
    struct Row {
        std::string name;
        std::vector<Request> started;
        std::map<std::wstring, std::vector<std::wstring>> gathered; // by group
    };
    const Row rows[] = {
        {"alone", {{L"/crypt", L"b.txt"}}, {{L"/crypt", {L"b.txt"}}}},
        {"seven",
         {{L"/crypt", L"c.txt"},
          {L"/crypt", L"A.txt"},
          {L"/crypt", L"\u00e4.txt"},
          {L"/crypt", L"b.txt"},
          {L"/crypt", L"e.txt"},
          {L"/crypt", L"D.txt"},
          {L"/crypt", L"f g.txt"}},
         {{L"/crypt",
           {L"A.txt", L"b.txt", L"c.txt", L"D.txt", L"e.txt", L"f g.txt", L"\u00e4.txt"}}}},
        {"the same file twice",
         {{L"/crypt", L"x.txt"}, {L"/crypt", L"y.txt"}, {L"/crypt", L"x.txt"}},
         {{L"/crypt", {L"x.txt", L"y.txt"}}}},
        {"two requests apart",
         {{L"/crypt", L"1.txt"},
          {L"/encrypt", L"2.ksw"},
          {L"/crypt", L"3.txt"},
          {L"/encrypt", L"4.ksw"}},
         {{L"/crypt", {L"1.txt", L"3.txt"}}, {L"/encrypt", {L"2.ksw", L"4.ksw"}}}},
    };
    // Every row at once, each in a gathering of its own. Generous waiting (3 s
    // after each newcomer): a loaded machine may take a while to start a
    // process under Wine.
    std::vector<Child> children;
    for (const Row& row : rows) {
        for (std::size_t i = 0; i < row.started.size(); ++i) {
            const fs::path report = dir / (row.name + " " + std::to_string(i));
            children.emplace_back(std::vector<std::wstring>{
                L"gather", GatheringName(row.name), row.started[i].group,
                (dir / row.started[i].file).native(), report.native(), L"3000", L"0"});
        }
    }
    for (const Child& child : children) EXPECT_TRUE(child.Succeeds(60000));

    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> leads;
        std::size_t handed = 0;
        for (std::size_t i = 0; i < row.started.size(); ++i) {
            const std::string report = ReadFile(dir / (row.name + " " + std::to_string(i)));
            if (report == "handed\n")
                ++handed;
            else
                leads.push_back(report);
        }
        std::vector<std::string> expected;
        for (const auto& [group, files] : row.gathered) expected.push_back(LeadReport(dir, files));
        std::sort(leads.begin(), leads.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(leads, expected);
        EXPECT_EQ(handed, row.started.size() - row.gathered.size());
    }
}

TEST_F(Gathering, ALateComerLeadsAGatheringOfItsOwnWhileTheFirstWindowIsStillOpen)
{
    const std::wstring name = GatheringName("late");
    const fs::path first = dir / "first", late = dir / "late";
    Child window(
        {L"gather", name, L"/crypt", (dir / "a.txt").native(), first.native(), L"300", L"20000"});
    for (int i = 0; i < 600 && !fs::exists(first); ++i) Sleep(50);
    ASSERT_EQ(ReadFile(first), LeadReport(dir, {L"a.txt"}));

    Child lateComer(
        {L"gather", name, L"/crypt", (dir / "b.txt").native(), late.native(), L"300", L"0"});
    ASSERT_TRUE(lateComer.Succeeds());
    EXPECT_EQ(ReadFile(late), LeadReport(dir, {L"b.txt"}));
    EXPECT_TRUE(window.Running());
}

// A lead played by the test: takes the path of the next newcomer after
// `delay` and answers, then waits until the newcomer lets go.
std::wstring TakeOne(HANDLE lead, DWORD delay)
{
    if (!ConnectNamedPipe(lead, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) return {};
    std::wstring path(1024, L'\0');
    DWORD got = 0;
    if (!ReadFile(lead, path.data(), 1024 * sizeof(wchar_t), &got, nullptr)) got = 0;
    path.resize(got / sizeof(wchar_t));
    Sleep(delay);
    WriteFile(lead, "K", 1, &got, nullptr);
    char more = 0;
    (void)ReadFile(lead, &more, 1, &got, nullptr);
    DisconnectNamedPipe(lead);
    return path;
}

// A lead that is slow to answer, or busy with another newcomer (a loaded
// machine), is waited for: a newcomer that went alone meanwhile would lead a
// gathering of its own, and a path the lead took would be counted twice.
TEST_F(Gathering, ANewcomerWaitsForALeadThatIsSlowOrBusy)
{
    const struct {
        std::string name;
        std::vector<std::wstring> files;
        DWORD delay;
    } rows[] = {{"slow", {L"a.txt"}, 2500}, {"busy", {L"a.txt", L"b.txt"}, 4000}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::wstring name = GatheringName(row.name);
        const HANDLE lead = CreateNamedPipeW(
            PipeName(name, L"/crypt").c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, 65536, 65536, 0, nullptr);
        ASSERT_NE(lead, INVALID_HANDLE_VALUE);
        std::vector<Child> newcomers;
        std::vector<std::wstring> expected, taken;
        for (const std::wstring& file : row.files) {
            expected.push_back((dir / file).native());
            newcomers.emplace_back(std::vector<std::wstring>{
                L"gather", name, L"/crypt", expected.back(),
                (dir / (row.name + " " + std::to_string(newcomers.size()))).native(), L"300",
                L"0"});
        }
        std::atomic<bool> played{false};
        std::thread playing([&] {
            for (std::size_t i = 0; i < row.files.size(); ++i)
                taken.push_back(TakeOne(lead, row.delay));
            played = true;
        });
        for (std::size_t i = 0; i < newcomers.size(); ++i) {
            EXPECT_TRUE(newcomers[i].Succeeds());
            EXPECT_EQ(ReadFile(dir / (row.name + " " + std::to_string(i))), "handed\n");
        }
        // A newcomer that went alone leaves the lead waiting for it: knock.
        for (int i = 0; i < 200 && !played; ++i) {
            const HANDLE knock =
                CreateFileW(PipeName(name, L"/crypt").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                            nullptr, OPEN_EXISTING, 0, nullptr);
            if (knock != INVALID_HANDLE_VALUE) CloseHandle(knock);
            Sleep(50);
        }
        playing.join();
        std::sort(taken.begin(), taken.end());
        EXPECT_EQ(taken, expected);
        CloseHandle(lead);
    }
}

// A newcomer slow to read the answer (a loaded machine) still gets it: the
// lead waits until the newcomer lets go before it listens for the next one
// (letting go of the pipe earlier would drop the answer).
TEST_F(Gathering, TheLeadWaitsUntilASlowNewcomerHasItsAnswer)
{
    const std::wstring name = GatheringName("slow newcomer");
    const fs::path report = dir / "lead";
    Child lead(
        {L"gather", name, L"/crypt", (dir / "a.txt").native(), report.native(), L"3000", L"0"});
    HANDLE pipe = INVALID_HANDLE_VALUE;
    for (int i = 0; i < 400 && pipe == INVALID_HANDLE_VALUE; ++i) {
        pipe = CreateFileW(PipeName(name, L"/crypt").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                           nullptr, OPEN_EXISTING, 0, nullptr);
        if (pipe == INVALID_HANDLE_VALUE) Sleep(50);
    }
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    DWORD mode = PIPE_READMODE_MESSAGE;
    EXPECT_TRUE(SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr));
    const std::wstring path = (dir / "b.txt").native();
    DWORD done = 0;
    EXPECT_TRUE(WriteFile(pipe, path.data(), static_cast<DWORD>(path.size() * sizeof(wchar_t)),
                          &done, nullptr));
    Sleep(2500);
    char answer = 0;
    DWORD waiting = 0;
    EXPECT_TRUE(PeekNamedPipe(pipe, &answer, 1, &done, &waiting, nullptr));
    EXPECT_EQ(answer, 'K');
    CloseHandle(pipe);
    EXPECT_TRUE(lead.Succeeds());
    EXPECT_EQ(ReadFile(report), LeadReport(dir, {L"a.txt", L"b.txt"}));
}
