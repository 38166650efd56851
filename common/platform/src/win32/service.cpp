// Windows implementation of platform/service.h on the service control
// manager, the event log and the folder's access list.
#include "platform/service.h"

#include <windows.h>
// After windows.h:
#include <aclapi.h>
#include <ntsecapi.h>
#include <shlobj.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/clock.h"
#include "platform/files.h"
#include "win32_support.h"

namespace platform {

using win32::narrow;
using win32::widen;

namespace {

// Event ids of the program's message table (quaylink_messages.mc): the text
// is the single insertion string. The top bits are the severity.
constexpr DWORD kEventInformation = 0x40000001;
constexpr DWORD kEventError = 0xC0000002;

// After a failure the service manager starts the service again this much
// later, every time (the last action repeats).
constexpr DWORD kRestartDelayMs = 5000;
constexpr DWORD kFailureCountResetS = 24 * 60 * 60;
// How long service_remove waits for a running service to stop.
constexpr int kStopWaitMs = 10000;

const wchar_t* const kEventLogKey = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
const wchar_t* const kLocalService = L"NT AUTHORITY\\LocalService";

// A sentence and the errno value of the last Windows error.
int failed(std::string& error, const std::string& what) {
    DWORD code = GetLastError();
    int err = win32::errno_from_win32(code);
    error = what + " (Windows error " + std::to_string(code) + ")";
    return err;
}

struct ScHandle {
    SC_HANDLE h = nullptr;
    ~ScHandle() {
        if (h) CloseServiceHandle(h);
    }
};

// Creates path and every missing folder above it.
int make_directories(const std::string& path) {
    for (size_t i = 3; i <= path.size(); ++i) {
        if (i < path.size() && !win32::is_separator(path[i])) continue;
        std::string part = path.substr(0, i);
        if (is_directory(part)) continue;
        int err = make_directory(part);
        if (err != 0 && !is_directory(part)) return err;
    }
    return 0;
}

// The account's name as the service manager wants it: "DOMAIN\user" or
// ".\user" for a local one.
std::wstring service_account(const std::string& account) {
    if (account.empty()) return kLocalService;
    if (account.find('\\') == std::string::npos && account.find('@') == std::string::npos) {
        return L".\\" + widen(account);
    }
    return widen(account);
}

// The account's SID into sid (empty: the local service account, by its
// well-known SID, whose name differs between languages).
int account_sid(const std::string& account, BYTE (&sid)[SECURITY_MAX_SID_SIZE],
                std::string& error) {
    DWORD sid_size = sizeof sid;
    if (account.empty()) {
        if (CreateWellKnownSid(WinLocalServiceSid, nullptr, sid, &sid_size)) return 0;
        return failed(error, "Cannot name the local service account");
    }
    // The lookup knows "user" and "DOMAIN\user", not ".\user".
    std::wstring name = widen(account.rfind(".\\", 0) == 0 ? account.substr(2) : account);
    wchar_t domain[256];
    DWORD domain_size = 256;
    SID_NAME_USE use;
    if (LookupAccountNameW(nullptr, name.c_str(), sid, &sid_size, domain, &domain_size, &use)) {
        return 0;
    }
    return failed(error, "No account \"" + account + "\"");
}

// A named account may run services only with the logon right, which the
// services console grants when an account is chosen there; CreateService
// does not.
int grant_service_logon(BYTE (&sid)[SECURITY_MAX_SID_SIZE], const std::string& account,
                        std::string& error) {
    LSA_OBJECT_ATTRIBUTES attributes{};
    LSA_HANDLE policy = nullptr;
    NTSTATUS status =
        LsaOpenPolicy(nullptr, &attributes, POLICY_LOOKUP_NAMES | POLICY_CREATE_ACCOUNT, &policy);
    if (status == 0) {
        wchar_t right[] = L"SeServiceLogonRight";
        LSA_UNICODE_STRING name{static_cast<USHORT>(wcslen(right) * sizeof(wchar_t)),
                                static_cast<USHORT>(sizeof right), right};
        status = LsaAddAccountRights(policy, sid, &name, 1);
        LsaClose(policy);
    }
    if (status != 0) {
        SetLastError(LsaNtStatusToWinError(status));
        return failed(error, "Cannot give " + account + " the right to log on as a service");
    }
    return 0;
}

// Gives the account the right to change everything in dir, inherited by
// what is made there later; others keep their rights.
int grant_modify(const std::string& dir, BYTE (&sid)[SECURITY_MAX_SID_SIZE],
                 const std::string& account, std::string& error) {
    std::wstring wdir = widen(dir);
    PACL old_dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    DWORD rc = GetNamedSecurityInfoW(wdir.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                     nullptr, nullptr, &old_dacl, nullptr, &sd);
    if (rc != ERROR_SUCCESS) {
        SetLastError(rc);
        return failed(error, "Cannot read the access list of " + dir);
    }
    EXPLICIT_ACCESSW access{};
    access.grfAccessPermissions =
        FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE;
    access.grfAccessMode = GRANT_ACCESS;
    access.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    access.Trustee.TrusteeType = TRUSTEE_IS_UNKNOWN;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.ptstrName = reinterpret_cast<wchar_t*>(sid);
    PACL new_dacl = nullptr;
    rc = SetEntriesInAclW(1, &access, old_dacl, &new_dacl);
    if (rc == ERROR_SUCCESS) {
        rc = SetNamedSecurityInfoW(wdir.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                   nullptr, new_dacl, nullptr);
    }
    if (new_dacl) LocalFree(new_dacl);
    if (sd) LocalFree(sd);
    if (rc != ERROR_SUCCESS) {
        SetLastError(rc);
        return failed(error, "Cannot give " + (account.empty() ? "LocalService" : account) +
                                 " write access to " + dir);
    }
    return 0;
}

// The event log source: the program's own message table shows the texts.
int register_event_source(const std::string& name, const std::string& program, std::string& error) {
    HKEY key = nullptr;
    std::wstring path = kEventLogKey + widen(name);
    LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, &key, nullptr);
    if (rc == ERROR_SUCCESS) {
        std::wstring file = widen(program);
        DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
        rc = RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ,
                            reinterpret_cast<const BYTE*>(file.c_str()),
                            static_cast<DWORD>((file.size() + 1) * sizeof(wchar_t)));
        if (rc == ERROR_SUCCESS) {
            rc = RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&types), sizeof types);
        }
        RegCloseKey(key);
    }
    if (rc != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(rc));
        return failed(error, "Cannot register the event log source \"" + name + "\"");
    }
    return 0;
}

// Automatic start is set by CreateService; these are the description and
// the restart after a failure, including an end with a non-zero exit code.
int configure(SC_HANDLE service, const ServiceSetup& setup, std::string& error) {
    std::wstring description = widen(setup.description);
    SERVICE_DESCRIPTIONW desc{description.data()};
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &desc)) {
        return failed(error, "Cannot set the description of \"" + setup.name + "\"");
    }
    SC_ACTION restart{SC_ACTION_RESTART, kRestartDelayMs};
    SERVICE_FAILURE_ACTIONSW actions{};
    actions.dwResetPeriod = kFailureCountResetS;
    actions.cActions = 1;
    actions.lpsaActions = &restart;
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &actions)) {
        return failed(error, "Cannot set the restart after a failure of \"" + setup.name + "\"");
    }
    SERVICE_FAILURE_ACTIONS_FLAG flag{TRUE};
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag) &&
        !win32::running_under_wine()) {
        // Wine does not know this setting; Windows needs it so that an end
        // with a non-zero exit code (a line that cannot be served) counts.
        return failed(error, "Cannot set the restart after a failed end of \"" + setup.name + "\"");
    }
    return 0;
}

// --- the running service ----------------------------------------------------

struct RunningService {
    std::wstring name;
    std::string data_directory;
    const std::function<int()>* body = nullptr;
    int result = 0;
    std::string error;
    SERVICE_STATUS_HANDLE status_handle = nullptr;
    HANDLE event_source = nullptr;
    std::mutex mutex;
    std::condition_variable stop_cv;
    bool stop = false;
};

RunningService* g_service = nullptr;

void set_status(DWORD state, DWORD exit_code = NO_ERROR, DWORD specific = 0) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted =
        state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWin32ExitCode = exit_code;
    status.dwServiceSpecificExitCode = specific;
    // The server honours a stop within a second; the hint leaves room.
    status.dwWaitHint = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ? 5000 : 0;
    SetServiceStatus(g_service->status_handle, &status);
}

DWORD WINAPI on_control(DWORD control, DWORD, void*, void*) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN: {
            set_status(SERVICE_STOP_PENDING);
            {
                std::lock_guard<std::mutex> lock(g_service->mutex);
                g_service->stop = true;
            }
            g_service->stop_cv.notify_all();
            win32::raise_termination_request();
            return NO_ERROR;
        }
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void report(const std::string& text, bool error) {
    if (!g_service || !g_service->event_source) return;
    std::wstring wide = widen(text);
    const wchar_t* strings[] = {wide.c_str()};
    ReportEventW(g_service->event_source, error ? EVENTLOG_ERROR_TYPE : EVENTLOG_INFORMATION_TYPE,
                 0, error ? kEventError : kEventInformation, nullptr, 1, 0, strings, nullptr);
}

// Enters the data folder and runs the body; the result becomes the
// service's exit code.
int serve(RunningService& s) {
    int err = make_directories(s.data_directory);
    if (err == 0 && !SetCurrentDirectoryW(widen(s.data_directory).c_str())) {
        err = win32::last_win32_errno();
    }
    if (err != 0) {
        report("Cannot use the folder " + s.data_directory + " (error " + std::to_string(err) +
                   "): not started",
               true);
        return 1;
    }
    set_status(SERVICE_RUNNING);
    report("Started in " + s.data_directory, false);
    int result = (*s.body)();
    if (result == 0) {
        report("Stopped", false);
    } else {
        report("Ended with status " + std::to_string(result) +
                   " (a failure: the service manager starts it again in 5 s)",
               true);
    }
    return result;
}

void WINAPI service_main(DWORD, LPWSTR*) {
    RunningService& s = *g_service;
    s.status_handle = RegisterServiceCtrlHandlerExW(s.name.c_str(), on_control, nullptr);
    if (!s.status_handle) {
        s.result = 1;
        return;
    }
    set_status(SERVICE_START_PENDING);
    win32::set_service_mode();
    s.event_source = RegisterEventSourceW(nullptr, s.name.c_str());
    s.result = serve(s);
    if (s.event_source) DeregisterEventSource(s.event_source);
    s.event_source = nullptr;
    if (s.result == 0) {
        set_status(SERVICE_STOPPED);
    } else {
        set_status(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR, static_cast<DWORD>(s.result));
    }
}

}  // namespace

int service_install(const ServiceSetup& setup, std::string& error) {
    ScHandle manager;
    manager.h = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    if (!manager.h) {
        return failed(error, "Cannot open the service manager (run as an administrator)");
    }
    BYTE sid[SECURITY_MAX_SID_SIZE];
    int err = account_sid(setup.account, sid, error);
    if (err == 0 && !setup.account.empty()) err = grant_service_logon(sid, setup.account, error);
    if (err != 0) return err;
    if (!setup.data_directory.empty()) {
        err = make_directories(setup.data_directory);
        if (err != 0) {
            error = "Cannot make the folder " + setup.data_directory;
            return err;
        }
        err = grant_modify(setup.data_directory, sid, setup.account, error);
        if (err != 0) return err;
    }
    std::vector<std::string> words{setup.program};
    words.insert(words.end(), setup.arguments.begin(), setup.arguments.end());
    std::wstring line = widen(win32::windows_command_line(words));
    std::wstring name = widen(setup.name);
    std::wstring display = widen(setup.display_name.empty() ? setup.name : setup.display_name);
    std::wstring account = service_account(setup.account);
    std::wstring password = widen(setup.password);
    ScHandle service;
    service.h = CreateServiceW(manager.h, name.c_str(), display.c_str(), SERVICE_ALL_ACCESS,
                               SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                               line.c_str(), nullptr, nullptr, nullptr, account.c_str(),
                               setup.account.empty() ? nullptr : password.c_str());
    if (!service.h) {
        if (GetLastError() == ERROR_SERVICE_EXISTS) {
            error = "A service \"" + setup.name + "\" is installed already";
            return EEXIST;
        }
        return failed(error, "Cannot register the service \"" + setup.name + "\"");
    }
    err = configure(service.h, setup, error);
    if (err == 0) err = register_event_source(setup.name, setup.program, error);
    if (err != 0) DeleteService(service.h);  // nothing half made stays behind
    return err;
}

int service_remove(const std::string& name, std::string& error) {
    ScHandle manager;
    manager.h = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager.h) {
        return failed(error, "Cannot open the service manager (run as an administrator)");
    }
    ScHandle service;
    service.h =
        OpenServiceW(manager.h, widen(name).c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
    if (!service.h) {
        if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
            error = "No service \"" + name + "\" is installed";
            return ENOENT;
        }
        return failed(error, "Cannot open the service \"" + name + "\"");
    }
    SERVICE_STATUS status{};
    if (ControlService(service.h, SERVICE_CONTROL_STOP, &status)) {
        uint64_t until = monotonic_ms64() + kStopWaitMs;
        while (status.dwCurrentState != SERVICE_STOPPED && monotonic_ms64() < until) {
            sleep_ms(100);
            if (!QueryServiceStatus(service.h, &status)) break;
        }
    }
    if (!DeleteService(service.h)) {
        return failed(error, "Cannot remove the service \"" + name + "\"");
    }
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, (kEventLogKey + widen(name)).c_str());
    return 0;
}

std::string shared_data_directory() {
    // Asked of the shell, not of %ProgramData%: a service's environment may
    // lack the variable.
    wchar_t buf[MAX_PATH];
    if (SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buf) != S_OK) {
        return {};
    }
    std::string out = narrow(buf);
    while (out.size() > 3 && win32::is_separator(out.back())) out.pop_back();
    return out;
}

int service_run(const std::string& name, const std::string& data_directory,
                const std::function<int()>& body, std::string& error) {
    static RunningService running;
    running.name = widen(name);
    running.data_directory = data_directory;
    running.body = &body;
    g_service = &running;
    SERVICE_TABLE_ENTRYW table[] = {{running.name.data(), service_main}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        if (GetLastError() == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
            error =
                "--service is for the service manager; install the line with "
                "--install-service NAME and start it with: sc start \"" +
                name + "\"";
            return EINVAL;
        }
        return failed(error, "Cannot connect to the service manager");
    }
    return running.result;
}

bool service_stop_requested() {
    if (!g_service) return false;
    std::lock_guard<std::mutex> lock(g_service->mutex);
    return g_service->stop;
}

bool service_wait_for_stop(int ms) {
    if (!g_service) return false;
    std::unique_lock<std::mutex> lock(g_service->mutex);
    return g_service->stop_cv.wait_for(lock, std::chrono::milliseconds(ms),
                                       [] { return g_service->stop; });
}

void service_report(const std::string& text, bool error) {
    report(text, error);
}

}  // namespace platform
