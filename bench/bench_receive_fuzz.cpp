// The long run of the randomized receive-path check (the unit tests make a
// short one): at least a million random blocks through dispatchUartData.
#include "common/msgbox.h"
#include "common/notify.h"
#include "unit/receive_fuzz.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    uint64_t blocks = argc > 1 ? strtoull(argv[1], nullptr, 10) : 1000000;
    uint32_t seed = argc > 2 ? static_cast<uint32_t>(strtoul(argv[2], nullptr, 10)) : 20261206;
    mainHwnd = nullptr; // notifications are dropped
    atCommandEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    resetEngineState();
    device.isDeviceInitialised = 1;

    auto start = std::chrono::steady_clock::now();
    ReceiveFuzzResult result = runReceiveFuzz(blocks, seed, [] {});
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    printf(
        "randomized receive path (seed %u): %llu blocks, %llu rounds (each run twice, cut differently), "
        "%llu commands answered, %llu boxes, %llu commands recorded at a box, %.1f s\n",
        seed, static_cast<unsigned long long>(result.blocks), static_cast<unsigned long long>(result.rounds),
        static_cast<unsigned long long>(result.answers), static_cast<unsigned long long>(result.boxes),
        static_cast<unsigned long long>(result.recorded), seconds);
    if (!result.failure.empty()) {
        printf("FAILED: %s\n", result.failure.c_str());
        return 1;
    }
    printf(
        "every block: fields terminated, event only for a waiting sender; every round: handled answers "
        "unchanged, the same records however cut, a command recorded at a box answered\n");
    return 0;
}
