// Start-up benchmark: time from process creation to the main window being
// shown, for the tool and for a bare dialog program of the same shape
// (bench/bare_dialog), started alternately in the same run so that the
// load of a shared machine falls on both alike; and the tool's working set
// once Get Device Info has read the adapter. Measures only; run by
// tools/bench-startup under the simulator.
//   e2e_bench [ROUNDS]
#include "e2e/gui_driver.h"
#include "support/sim_client.h"

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace e2e;

namespace {

const int kGetInfo = 1050;
const int kProgram = 1048;
const int kName = 1013;
const UINT kMenuExit = 32776;

bool writeSettings(const std::wstring& folder, int com)
{
    std::string text =
        "Port = COM" + std::to_string(com) + "\nBaud = 9600\nStopBits = 1\nFlowControl = On\nParity = None\n";
    return writeFile(folder + L"\\settings.txt", text);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

} // namespace

int main(int argc, char** argv)
{
#ifndef RZ310_CONFIG_EXE
    (void)argc;
    (void)argv;
    std::fprintf(stderr, "e2e_bench: RZ310_Config.exe is not part of this build\n");
    return 2;
#else
    int runs = argc > 1 ? std::atoi(argv[1]) : 9;
    if (runs < 1)
        runs = 1;
    const std::wstring exe = windowsPath(RZ310_CONFIG_EXE);
    const std::wstring bare = windowsPath(RZ310_BARE_DIALOG_EXE);
    const std::wstring folder = windowsPath(RZ310_E2E_WORK) + L"\\bench";
    const int com = simComPort();
    SimClient sim;
    if (!fileExists(exe) || !fileExists(bare) || com == 0 || !sim.connected()) {
        std::fprintf(stderr, "e2e_bench: needs %s and the simulator (tools/with-sim): %s\n", RZ310_CONFIG_EXE,
                     sim.lastError().c_str());
        return 2;
    }

    // Start-up: each round starts both programs and ends them at once, the
    // bare one first in odd rounds and second in even ones, so that neither
    // always meets a cache the other has just warmed.
    std::vector<double> startups;
    std::vector<double> bareStartups;
    auto timeStart = [&](const std::wstring& program, std::vector<double>& into) {
        ToolProcess started;
        if (!started.start(program, folder)) {
            std::fprintf(stderr, "e2e_bench: main window of %s not shown (%s)\n", utf8(program).c_str(),
                         started.openDialogs().c_str());
            return false;
        }
        into.push_back(started.startupMs());
        started.command(kMenuExit);
        return started.waitForExit(15000);
    };
    if (!freshFolder(folder) || !writeSettings(folder, com)) {
        std::fprintf(stderr, "e2e_bench: cannot prepare %s\n", utf8(folder).c_str());
        return 1;
    }
    for (int run = 0; run < runs; ++run) {
        bool bareFirst = run % 2 == 0;
        if (!timeStart(bareFirst ? bare : exe, bareFirst ? bareStartups : startups) ||
            !timeStart(bareFirst ? exe : bare, bareFirst ? startups : bareStartups))
            return 1;
        std::printf("round %d: bare dialog %.1f ms, tool %.1f ms\n", run + 1, bareStartups.back(), startups.back());
        std::fflush(stdout);
    }

    // Memory: the tool's working set once Get Device Info has read the adapter.
    std::vector<double> workingSets;
    std::vector<double> peaks;
    for (int run = 0; run < 3; ++run) {
        if (!sim.ok("reset") || !sim.setLine(9600, "none", 1, true) || !freshFolder(folder) ||
            !writeSettings(folder, com)) {
            std::fprintf(stderr, "e2e_bench: cannot prepare memory run %d\n", run + 1);
            return 1;
        }
        ToolProcess tool;
        if (!tool.start(exe, folder)) {
            std::fprintf(stderr, "e2e_bench: main window not shown (%s)\n", tool.openDialogs().c_str());
            return 1;
        }
        HWND panel = tool.panel(LocalDevicePanel);
        std::wstring name = widen(sim.state()["name"]);
        ui::click(GetDlgItem(panel, kGetInfo));
        bool up = waitUntil(
            [&] {
                return IsWindowEnabled(GetDlgItem(panel, kProgram)) && ui::textOf(GetDlgItem(panel, kName)) == name;
            },
            60000, 100);
        PROCESS_MEMORY_COUNTERS memory{};
        memory.cb = sizeof memory;
        if (!up || !GetProcessMemoryInfo(tool.process(), &memory, sizeof memory)) {
            std::fprintf(stderr, "e2e_bench: Get Device Info did not complete (%s)\n", tool.openDialogs().c_str());
            return 1;
        }
        workingSets.push_back(double(memory.WorkingSetSize) / 1024.0);
        peaks.push_back(double(memory.PeakWorkingSetSize) / 1024.0);
        tool.command(kMenuExit);
        tool.waitForExit(15000);
    }
    auto fastest = [](const std::vector<double>& values) { return *std::min_element(values.begin(), values.end()); };
    std::printf(
        "start-up to main window shown, %d rounds: tool median %.1f ms (fastest %.1f, first %.1f); "
        "bare dialog median %.1f ms (fastest %.1f, first %.1f)\n",
        runs, median(startups), fastest(startups), startups.front(), median(bareStartups), fastest(bareStartups),
        bareStartups.front());
    // The load of the machine moves both programs of a round alike: the
    // median of the rounds' own ratios is the steadier figure.
    std::vector<double> ratios;
    for (size_t round = 0; round < startups.size(); ++round)
        ratios.push_back(startups[round] / bareStartups[round]);
    std::printf("ratio of the medians, tool / bare dialog: %.2f; median of the rounds' ratios: %.2f\n",
                median(startups) / median(bareStartups), median(ratios));
    std::printf("working set after Get Device Info: median %.0f KiB, peak working set median %.0f KiB (3 runs)\n",
                median(workingSets), median(peaks));
    return 0;
#endif
}
