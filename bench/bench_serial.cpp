// Receive latency of the serial driver against the simulated adapter at
// 115200 baud, and the allocations made on the read thread while receiving.
// Prints figures; asserts nothing about them.
#include "serial/uart.h"
#include "support/sim_client.h"
#include "support/sim_port.h"

#include <windows.h>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// Every malloc of the statically linked code (operator new included) passes
// here; the ones made on the read thread while receiving are counted.
namespace {
std::atomic<DWORD> readThreadId{0};
std::atomic<bool> counting{false};
std::atomic<long> readThreadAllocations{0};
std::atomic<long> blocks{0};

void countAllocation()
{
    if (counting.load(std::memory_order_relaxed) && GetCurrentThreadId() == readThreadId.load())
        ++readThreadAllocations;
}
} // namespace

extern "C" {
void* __real_malloc(size_t size);
void* __real_calloc(size_t count, size_t size);
void* __real_realloc(void* block, size_t size);
void* __wrap_malloc(size_t size)
{
    countAllocation();
    return __real_malloc(size);
}
void* __wrap_calloc(size_t count, size_t size)
{
    countAllocation();
    return __real_calloc(count, size);
}
void* __wrap_realloc(void* block, size_t size)
{
    countAllocation();
    return __real_realloc(block, size);
}
}

namespace {

constexpr int ROUNDS = 300;
constexpr int WARM_UP = 20;
const char ANSWER_END[] = "\r\nOK\r\n";

HANDLE answered;
LARGE_INTEGER answeredAt;
char gathered[4096];
size_t gatheredLength = 0;

void hook(const uint8_t* data, uint32_t count)
{
    readThreadId = GetCurrentThreadId();
    ++blocks;
    size_t room = sizeof gathered - gatheredLength;
    size_t n = count < room ? count : room;
    memcpy(gathered + gatheredLength, data, n);
    gatheredLength += n;
    const size_t end = sizeof ANSWER_END - 1;
    if (gatheredLength >= end && memcmp(gathered + gatheredLength - end, ANSWER_END, end) == 0) {
        QueryPerformanceCounter(&answeredAt);
        SetEvent(answered);
    }
}

double toMs(LONGLONG ticks)
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    return 1000.0 * static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}

struct Figures {
    std::vector<double> ms;
    int lost = 0;
};

// One round: `send` starts it, the hook ends it at the answer's last line.
template <typename Send>
Figures measure(Send send, int rounds)
{
    Figures figures;
    for (int i = 0; i < rounds; ++i) {
        gatheredLength = 0;
        ResetEvent(answered);
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        send();
        if (WaitForSingleObject(answered, 2000) != WAIT_OBJECT_0) {
            ++figures.lost;
            Sleep(50);
            continue;
        }
        figures.ms.push_back(toMs(answeredAt.QuadPart - start.QuadPart));
    }
    return figures;
}

void print(const char* name, Figures figures)
{
    std::vector<double>& v = figures.ms;
    if (v.empty()) {
        printf("%-24s no answers (%d lost)\n", name, figures.lost);
        return;
    }
    std::sort(v.begin(), v.end());
    auto at = [&](double q) { return v[std::min(v.size() - 1, static_cast<size_t>(q * (v.size() - 1) + 0.5))]; };
    printf("%-24s n=%zu  median %6.2f ms  p95 %6.2f ms  min %6.2f ms  max %6.2f ms  lost %d\n", name, v.size(), at(0.5),
           at(0.95), v.front(), v.back(), figures.lost);
}

} // namespace

int main()
{
    SimClient sim;
    if (!sim.connected() || simComPort() == 0) {
        fprintf(stderr, "bench_serial: no simulator (%s); run it through tools/run-bench\n", sim.lastError().c_str());
        return 2;
    }
    sim.ok("reset");
    sim.setLine(115200, "none", 1, true);

    answered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    seams.uartReceive = hook;
    int opened = openSimPort(115200);
    if (opened != 0) {
        fprintf(stderr, "bench_serial: UartInit gave %d\n", opened);
        return 2;
    }

    const std::string at = "AT\r";
    auto writeAt = [&] { UartWrite(reinterpret_cast<const uint8_t*>(at.data()), static_cast<uint32_t>(at.size())); };
    auto inject = [&] { sim.inject(ANSWER_END); };

    printf("bench_serial: COM%d at 115200 baud, %d rounds each, read interval time-out 10 ms\n", uart.port, ROUNDS);

    // The counter itself: one allocation on a watched thread must show.
    readThreadId = GetCurrentThreadId();
    counting = true;
    std::vector<char>* probe = new std::vector<char>(100);
    counting = false;
    delete probe;
    printf("allocation counter self-check: %ld allocations seen for 2 made\n", readThreadAllocations.load());
    readThreadAllocations = 0;
    readThreadId = 0;

    long blocksBefore = 0;
    for (bool pace : {false, true}) {
        sim.ok(pace ? "pace on" : "pace off");
        measure(writeAt, WARM_UP);
        blocksBefore = blocks.load();
        counting = true;
        Figures writeRound = measure(writeAt, ROUNDS);
        Figures injectRound = measure(inject, ROUNDS);
        counting = false;
        print(pace ? "write->hook  pace on" : "write->hook  pace off", writeRound);
        print(pace ? "inject->hook pace on" : "inject->hook pace off", injectRound);
        printf("%-24s %ld allocations on the read thread over %ld received blocks\n",
               pace ? "receive path pace on" : "receive path pace off", readThreadAllocations.load(),
               blocks.load() - blocksBefore);
        readThreadAllocations = 0;
    }

    UartDeinit();
    seams.uartReceive = nullptr;
    CloseHandle(answered);
    return 0;
}
