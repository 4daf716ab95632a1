// RZ310_Batch end to end: one run per workflow against the simulator.
#include "support/sim_client.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int code = -1;
    std::vector<std::string> out;
    std::string err;
};

std::wstring windowsPath(const fs::path& path) { return L"Z:" + fs::path(path).make_preferred().wstring(); }

// Runs the batch program; `onLine` sees each result line as it comes.
Outcome runBatch(const std::string& args, const std::function<void(const std::string&)>& onLine = {})
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE outRead, outWrite, errFile;
    CreatePipe(&outRead, &outWrite, &inherit, 0);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    wchar_t errName[MAX_PATH], dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    GetTempFileNameW(dir, L"rzb", 0, errName);
    errFile = CreateFileW(errName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          &inherit, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    STARTUPINFOW start = {};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdOutput = outWrite;
    start.hStdError = errFile;
    std::wstring line = windowsPath(RZ310_BATCH_EXE) + L" " + std::wstring(args.begin(), args.end());
    PROCESS_INFORMATION process = {};
    Outcome run;
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &process))
        return run;
    CloseHandle(outWrite);
    std::string pending;
    char block[512];
    DWORD got = 0;
    while (ReadFile(outRead, block, sizeof block, &got, nullptr) && got > 0) {
        pending.append(block, got);
        for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
            std::string text = pending.substr(0, end);
            if (!text.empty() && text.back() == '\r')
                text.pop_back();
            run.out.push_back(text);
            if (onLine)
                onLine(text);
        }
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    run.code = static_cast<int>(code);
    SetFilePointer(errFile, 0, nullptr, FILE_BEGIN);
    while (ReadFile(errFile, block, sizeof block, &got, nullptr) && got > 0)
        run.err.append(block, got);
    for (HANDLE h : {outRead, errFile, process.hProcess, process.hThread})
        CloseHandle(h);
    return run;
}

fs::path work(const std::string& name)
{
    fs::create_directories(RZ310_BATCH_WORK);
    return fs::path(RZ310_BATCH_WORK) / name;
}

std::string write(const std::string& name, const std::string& text)
{
    std::ofstream(work(name), std::ios::binary) << text;
    const std::wstring path = windowsPath(work(name));
    return std::string(path.begin(), path.end());
}

std::vector<std::vector<std::string>> reportRows(const std::string& name)
{
    std::ifstream in(work(name));
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(in, line);) {
        rows.emplace_back();
        std::stringstream fields(line);
        for (std::string field; std::getline(fields, field, ',');)
            rows.back().push_back(field);
        if (line.back() == ',')
            rows.back().emplace_back();
    }
    return rows;
}

const char kFile[] = "Name = Line-0042\nPin = 1234\nDiscoverable = Off\n";

class Batch : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.connected()) << sim.lastError();
        ASSERT_TRUE(sim.ok("reset"));
        port = " --port COM" + std::to_string(simComPort()) + " ";
    }
    SimClient sim;
    std::string port;
};

TEST_F(Batch, ProgramFindsTheAdapterBySearchAndTakesThreeChanges)
{
    ASSERT_TRUE(sim.setLine(38400, "none", 1, true));
    Outcome run = runBatch("program" + port + write("line.txt", kFile));
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out,
              (std::vector<std::string>{"Name: Serial Adapter -> Line-0042", "Pin: 8642 -> 1234",
                                        "Discoverable: On -> Off", "OK 0012-6F-123456, 3 settings programmed"}));
    auto state = sim.state();
    EXPECT_EQ(state["name"] + "," + state["pin"] + "," + state["discoverable"], "Line-0042,1234,0");
}

TEST_F(Batch, LineProgramsThreeAdaptersInTurnAndReportsTheOneRefusingThePin)
{
    fs::remove(work("line.csv"));
    // The second adapter's name needs quoting in the report.
    ASSERT_TRUE(sim.ok("attach 2") && sim.set("refusecommand", "AT+PIN") && sim.set("name", "Jig, \"A\"") &&
                sim.ok("attach 1"));
    int next = 0;
    Outcome run =
        runBatch("line" + port + write("line.txt", kFile) + " --count 3 --report " + write("line.csv", ""),
                 [&](const std::string& line) {
                     if (line != "Next adapter")
                         return;
                     if (++next == 1)
                         EXPECT_TRUE(sim.ok("attach 2"));
                     else // the port vanishes and comes back with a third adapter
                         EXPECT_TRUE(sim.ok("vanish") && sim.ok("attach 1") && sim.set("address", "0012-6F-34AB56") &&
                                     sim.set("name", "Serial Adapter") && sim.ok("reappear"));
                 });
    EXPECT_EQ(run.code, 1) << run.err;
    auto rows = reportRows("line.csv");
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[1][2] + rows[1][6], "0012-6F-123456OK");
    std::ifstream report(work("line.csv"), std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(report)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find(",0012-6F-654321,RZ310 F/W V1.0,\"Jig, \"\"A\"\"\",Line-0042,FAILED,2,Pin\r\n"),
              std::string::npos)
        << text;
    EXPECT_TRUE(std::regex_match(rows[1][0], std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)")));
    EXPECT_EQ(rows[3][2] + rows[3][6] + rows[3][7], "0012-6F-34AB56OK1");
    EXPECT_EQ(run.out.back(), "Programmed 2, failed 1, already 0");
}

TEST_F(Batch, TwoJigsShareOneReportAndNeverUseANumberTwice)
{
    // The second simulator's client, from its own control channel.
    std::string first = std::getenv("RZ310_SIM_CONTROL");
    _putenv_s("RZ310_SIM_CONTROL", std::getenv("RZ310_SIM_CONTROL_2"));
    SimClient other;
    _putenv_s("RZ310_SIM_CONTROL", first.c_str());
    ASSERT_TRUE(other.ok("reset") && other.set("address", "0012-6F-000001") && other.ok("attach 2") &&
                other.set("address", "0012-6F-000002") && other.ok("attach 1"));
    fs::remove(work("jigs.csv"));
    fs::remove(work("jigs.csv.counter"));
    std::string common = write("line.txt", kFile) + " --count 2 --name Sensor-## --report " + write("jigs.csv", "");
    auto jig = [&](SimClient& client, const std::string& where) {
        return runBatch("line" + where + common,
                        [&](const std::string& line) { EXPECT_TRUE(line != "Next adapter" || client.ok("attach 2")); });
    };
    Outcome a, b;
    std::thread second([&] { b = jig(other, " --port COM8 "); });
    a = jig(sim, port);
    second.join();
    EXPECT_EQ(a.code + b.code, 0) << a.err << b.err;
    auto rows = reportRows("jigs.csv");
    ASSERT_EQ(rows.size(), 5u);
    std::set<std::string> names;
    for (size_t i = 1; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].size(), 9u);
        names.insert(rows[i][5]);
    }
    EXPECT_EQ(names, (std::set<std::string>{"Sensor-01", "Sensor-02", "Sensor-03", "Sensor-04"}));
}

TEST_F(Batch, BadInputSendsNothingAndExitsThree)
{
    ASSERT_TRUE(sim.clear());
    std::string file = " " + write("line.txt", kFile);
    std::string report = " --report " + write("bad.csv", "");
    const std::string cases[] = {
        "program" + port + file + " --colour red",
        "program" + port + file + " --line 9600,none,3,off",
        "line" + port + file + report + " --count 0",
        "program" + port + " Z:\\no\\such.txt",
        "program" + port + " " + write("empty.txt", "# nothing\n"),
        "program --port COM20" + file,
        "line" + port + file + report + " --name Sensor-##########",
    };
    for (const std::string& args : cases) {
        Outcome run = runBatch(args);
        EXPECT_EQ(run.code, 3) << args;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << args << ": " << run.err;
    }
    EXPECT_TRUE(sim.received().empty());
}

} // namespace
