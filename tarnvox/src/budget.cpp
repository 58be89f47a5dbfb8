#include "budget.h"

#include <algorithm>
#include <atomic>

namespace tarnvox {

namespace {
std::atomic<int> g_showing{0};
} // namespace

PictureBudget historyBudget(int ports)
{
    const size_t share = kHistoryTotalBytes / static_cast<size_t>(std::max(ports, 1));
    return PictureBudget{kHistoryMost.pictures, std::min(share, kHistoryMost.bytes)};
}

void ShowingPorts::add()
{
    ++g_showing;
}

void ShowingPorts::remove()
{
    --g_showing;
}

int ShowingPorts::count()
{
    return g_showing.load();
}

} // namespace tarnvox
