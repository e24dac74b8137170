// Child runs of the host tool and copies of the sample agent folder.
#include "tests/end_to_end/host_tool_run.h"

#include "support/unique_resource.h"
#include "tests/plugin_loader.h"
#include "tests/stand_ins/agent_test_support.h"

namespace end_to_end {

ToolRun RunHostTool(const std::vector<std::wstring>& arguments, DWORD timeout_ms) {
    ToolRun run;
    const std::wstring exe = ExecutableFolder() + L"qvhost.exe";
    std::wstring command = L"\"" + exe + L"\"";
    for (const std::wstring& argument : arguments) {
        command += L" \"" + argument + L"\"";
    }
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring output_path = temp + agent_test::Unique(L"qvhost-output-") + L".txt";
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    qv::UniqueHandle output(CreateFileW(output_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr));
    if (!output) {
        return run;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output.get();
    startup.hStdError = output.get();
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
        run.output = "cannot start qvhost.exe: error " + std::to_string(GetLastError());
        return run;
    }
    qv::UniqueHandle process(info.hProcess);
    qv::UniqueHandle thread(info.hThread);
    if (WaitForSingleObject(process.get(), timeout_ms) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), 5000);
    } else {
        DWORD code = 0;
        GetExitCodeProcess(process.get(), &code);
        run.exit_code = static_cast<int>(code);
    }
    output.reset();
    run.output += ReadFileText(output_path);
    DeleteFileW(output_path.c_str());
    return run;
}

std::wstring SampleAgentFolder() {
    const std::string source = VORN_SOURCE_DIR;
    std::wstring folder = source[0] == '/' ? L"Z:" : L"";
    for (char c : source) {
        folder += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    }
    return folder + L"\\samples\\agent";
}

bool CopyAgentFolder(const std::wstring& from, const std::wstring& to) {
    for (const wchar_t* subfolder : {L"policies", L"removals"}) {
        CreateDirectoryW((to + L"\\" + subfolder).c_str(), nullptr);
        WIN32_FIND_DATAW found{};
        HANDLE search = FindFirstFileW((from + L"\\" + subfolder + L"\\*.json").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) {
            continue;
        }
        bool copied = true;
        do {
            const std::wstring name = std::wstring(L"\\") + subfolder + L"\\" + found.cFileName;
            copied = CopyFileW((from + name).c_str(), (to + name).c_str(), FALSE) && copied;
        } while (FindNextFileW(search, &found));
        FindClose(search);
        if (!copied) {
            return false;
        }
    }
    return CopyFileW((from + L"\\settings.json").c_str(), (to + L"\\settings.json").c_str(), FALSE) != FALSE;
}

}  // namespace end_to_end
