// SPDX-License-Identifier: Apache-2.0
// The gathering on Windows: a named pipe whose first instance is the lead.
// Creating that first instance is atomic, and the system removes it when the
// leader ends, however it ends; a newcomer that cannot create it connects to
// it as a client instead and hands its path over. The pipe's name carries the
// user's SID and the logon session, and only the user may open it.
#include "Gathering.h"

#include <windows.h>

#include <sddl.h>

#include <algorithm>
#include <thread>
#include <utility>

namespace kestrawin::shell {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A path as it travels: its UTF-16 code units, nothing else, one message.
constexpr DWORD kLongestPath = 32767;
constexpr DWORD kMessageBytes = (kLongestPath + 1) * sizeof(wchar_t);
constexpr char kTaken = 'K';
// How long one step of a hand-over may take before it counts as failed.
constexpr DWORD kStepMs = 1000;
// How long a newcomer waits for the lead's answer once its path is sent, and
// the lead for the newcomer to read it and let go. Either may be slow on a
// loaded machine, and giving up early counts a path twice: the lead has taken
// it, while the newcomer, without the answer, leads a gathering of its own
// with it. (Letting go of the pipe drops an answer not read yet.) A side that
// ends breaks the pipe at once. An answer lost all the same (seen under Wine)
// costs this long, then the newcomer tries again and the lead, which counts
// every path once, takes it again.
constexpr DWORD kAnswerMs = 5000;

struct Handle {
    HANDLE h = nullptr;
    explicit Handle(HANDLE handle = nullptr) : h(handle == INVALID_HANDLE_VALUE ? nullptr : handle)
    {}
    ~Handle()
    {
        if (h) CloseHandle(h);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
};

DWORD MillisecondsUntil(Clock::time_point when)
{
    const auto left = std::chrono::duration_cast<milliseconds>(when - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<DWORD>(std::min<long long>(left, INFINITE - 1));
}

// The SID of the user a process runs as ("S-1-5-21-..."), empty if unknown.
std::wstring UserOf(HANDLE process)
{
    HANDLE raw = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &raw)) return {};
    const Handle token(raw);
    DWORD size = 0;
    GetTokenInformation(token.h, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    wchar_t* text = nullptr;
    if (size == 0 || !GetTokenInformation(token.h, TokenUser, buffer.data(), size, &size)
        || !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text))
        return {};
    std::wstring sid(text);
    LocalFree(text);
    return sid;
}

std::wstring NamePart(std::wstring part)
{
    std::replace(part.begin(), part.end(), L'\\', L'_');
    return part;
}

std::wstring PipeName(const std::wstring& user, const GatheringOptions& options,
                      const std::wstring& group)
{
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return L"\\\\.\\pipe\\" + NamePart(options.name) + L".gathering.1." + user + L"."
           + std::to_wstring(session) + L"." + NamePart(group);
}

// The lead: the pipe's first instance, open to this user alone.
HANDLE CreateLead(const std::wstring& pipeName, const std::wstring& user)
{
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
    const std::wstring onlyUser = L"D:P(A;;GA;;;" + user + L")";
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            onlyUser.c_str(), SDDL_REVISION_1, &attributes.lpSecurityDescriptor, nullptr))
        return INVALID_HANDLE_VALUE;
    const HANDLE pipe = CreateNamedPipeW(
        pipeName.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED,
        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_REJECT_REMOTE_CLIENTS, 1, kMessageBytes,
        kMessageBytes, 0, &attributes);
    LocalFree(attributes.lpSecurityDescriptor);
    return pipe;
}

// Waits for an overlapped operation begun on `file` (its start returned
// `started`) for at most `timeoutMs`, or until `stop` is set; an operation
// still pending then is cancelled. True when it completed successfully.
bool Complete(HANDLE file, OVERLAPPED* overlapped, BOOL started, DWORD timeoutMs, HANDLE stop,
              DWORD* bytes)
{
    DWORD done = 0;
    if (!started && GetLastError() != ERROR_IO_PENDING) return false;
    if (!started) {
        const HANDLE events[] = {overlapped->hEvent, stop};
        const DWORD woke = WaitForMultipleObjects(stop ? 2 : 1, events, FALSE, timeoutMs);
        if (woke != WAIT_OBJECT_0) {
            CancelIoEx(file, overlapped);
            GetOverlappedResult(file, overlapped, &done, TRUE);
            return false;
        }
    }
    const bool ok = GetOverlappedResult(file, overlapped, &done, FALSE) != FALSE;
    if (bytes) *bytes = done;
    return ok;
}

struct Overlapped : OVERLAPPED {
    Overlapped() : OVERLAPPED{} { hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~Overlapped() { CloseHandle(hEvent); }
    Overlapped(const Overlapped&) = delete;
    Overlapped& operator=(const Overlapped&) = delete;
    OVERLAPPED* get()
    {
        ResetEvent(hEvent);
        return this;
    }
};

enum class HandOver { Taken, Busy, NoLead, Stranger };

// Hands `path` to the lead: connects, checks that the lead runs as this user,
// sends the path and waits until the lead says it has taken it.
HandOver HandTo(const std::wstring& pipeName, const std::wstring& user, const std::wstring& path)
{
    // Identification only: the lead cannot act in this user's name.
    const Handle pipe(CreateFileW(
        pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
        FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
    if (!pipe.h) return GetLastError() == ERROR_PIPE_BUSY ? HandOver::Busy : HandOver::NoLead;

    ULONG leadId = 0;
    if (!GetNamedPipeServerProcessId(pipe.h, &leadId)) return HandOver::NoLead;
    const Handle lead(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, leadId));
    if (!lead.h || UserOf(lead.h) != user) return HandOver::Stranger;

    DWORD mode = PIPE_READMODE_MESSAGE;
    if (!SetNamedPipeHandleState(pipe.h, &mode, nullptr, nullptr)) return HandOver::NoLead;
    Overlapped io;
    const auto bytes = static_cast<DWORD>(path.size() * sizeof(wchar_t));
    DWORD sent = 0;
    if (!Complete(pipe.h, io.get(), WriteFile(pipe.h, path.data(), bytes, nullptr, io.get()),
                  kStepMs, nullptr, &sent)
        || sent != bytes)
        return HandOver::NoLead;
    char answer = 0;
    DWORD got = 0;
    if (!Complete(pipe.h, io.get(), ReadFile(pipe.h, &answer, 1, nullptr, io.get()), kAnswerMs,
                  nullptr, &got)
        || got != 1 || answer != kTaken)
        return HandOver::NoLead;
    return HandOver::Taken;
}

bool Before(const std::filesystem::path& a, const std::filesystem::path& b)
{
    const std::wstring& x = a.native();
    const std::wstring& y = b.native();
    const int order = CompareStringOrdinal(x.c_str(), static_cast<int>(x.size()), y.c_str(),
                                           static_cast<int>(y.size()), TRUE);
    return order == CSTR_EQUAL ? x < y : order == CSTR_LESS_THAN;
}

} // namespace

// The lead's pipe and the thread that serves it until the gathering closes.
struct Gathering::Listener {
    Handle pipe;
    Handle stop{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    GatheringOptions options;
    Clock::time_point opened = Clock::now();
    std::vector<std::filesystem::path> paths;
    std::thread thread;
    bool finished = false;

    Listener(HANDLE lead, std::filesystem::path own, const GatheringOptions& opts)
        : pipe(lead), options(opts), paths{std::move(own)}
    {
        if (pipe.h) thread = std::thread([this] { Serve(); });
    }
    ~Listener()
    {
        SetEvent(stop.h);
        if (thread.joinable()) thread.join();
    }

    void Serve()
    {
        Overlapped io;
        Clock::time_point last = opened;
        for (;;) {
            const DWORD wait =
                MillisecondsUntil(std::min(last + options.quiet, opened + options.longest));
            if (wait == 0) break;
            const BOOL started = ConnectNamedPipe(pipe.h, io.get());
            // A client may connect before ConnectNamedPipe is called.
            const bool connected = (!started && GetLastError() == ERROR_PIPE_CONNECTED)
                                   || Complete(pipe.h, &io, started, wait, stop.h, nullptr);
            if (WaitForSingleObject(stop.h, 0) == WAIT_OBJECT_0) break;
            if (connected && TakeOne()) last = Clock::now();
            DisconnectNamedPipe(pipe.h);
            if (!connected) Sleep(1); // (a pipe that fails at once must not spin)
        }
        // No newcomer can reach this gathering from here on.
        CloseHandle(std::exchange(pipe.h, nullptr));
    }

    // Reads one path and answers that it was taken; true when it was.
    bool TakeOne()
    {
        Overlapped io;
        std::wstring path(kLongestPath + 1, L'\0');
        DWORD got = 0;
        if (!Complete(pipe.h, io.get(),
                      ReadFile(pipe.h, path.data(), kMessageBytes, nullptr, io.get()), kStepMs,
                      stop.h, &got)
            || got == 0 || got % sizeof(wchar_t) != 0)
            return false;
        path.resize(got / sizeof(wchar_t));
        if (path.size() > kLongestPath || path.find(L'\0') != std::wstring::npos) return false;
        DWORD sent = 0;
        if (!Complete(pipe.h, io.get(), WriteFile(pipe.h, &kTaken, 1, nullptr, io.get()), kStepMs,
                      stop.h, &sent)
            || sent != 1)
            return false;
        paths.emplace_back(std::move(path));
        // The answer must be read before the pipe is disconnected, which
        // would drop it: wait until the newcomer lets go.
        char more = 0;
        Complete(pipe.h, io.get(), ReadFile(pipe.h, &more, 1, nullptr, io.get()), kAnswerMs, stop.h,
                 nullptr);
        return true;
    }
};

Gathering Gathering::Join(const std::filesystem::path& path, const std::wstring& group,
                          const GatheringOptions& options)
{
    std::error_code error;
    std::filesystem::path own = std::filesystem::absolute(path, error);
    if (error) own = path;

    Gathering gathering;
    const std::wstring user = UserOf(GetCurrentProcess());
    const auto giveUp = Clock::now() + options.patience;
    HANDLE lead = INVALID_HANDLE_VALUE;
    if (!user.empty() && own.native().size() <= kLongestPath) {
        const std::wstring pipeName = PipeName(user, options, group);
        for (;;) {
            lead = CreateLead(pipeName, user);
            if (lead != INVALID_HANDLE_VALUE) break;
            const HandOver handOver = HandTo(pipeName, user, own.native());
            if (handOver == HandOver::Taken) {
                gathering.handedOver_ = true;
                return gathering;
            }
            // A lead of another user, or one that stays busy: go on alone.
            const DWORD left = MillisecondsUntil(giveUp);
            if (handOver == HandOver::Stranger || left == 0) break;
            if (handOver == HandOver::Busy)
                WaitNamedPipeW(pipeName.c_str(), std::min<DWORD>(left, 100));
            else
                Sleep(10); // the lead is closing: lead a gathering of our own next
        }
    }
    gathering.listener_ = std::make_unique<Listener>(lead, std::move(own), options);
    return gathering;
}

Gathering::Gathering(Gathering&&) noexcept = default;
Gathering& Gathering::operator=(Gathering&&) noexcept = default;
Gathering::~Gathering() = default;

std::vector<std::filesystem::path> Gathering::Finish()
{
    if (!listener_) return {};
    Listener& listener = *listener_;
    if (!listener.finished) {
        if (listener.thread.joinable()) listener.thread.join();
        std::sort(listener.paths.begin(), listener.paths.end(), Before);
        listener.paths.erase(std::unique(listener.paths.begin(), listener.paths.end()),
                             listener.paths.end());
        listener.finished = true;
    }
    return listener.paths;
}

} // namespace kestrawin::shell
