// The work loop's own cost per 10 ms tick, with an AI update that does nothing: what the frame spends of
// every tick before any aircraft is moved. Three cases: a plain tick, a tick on which the simulator's second
// arrives (the per-second work, and the 15/16/30/61-second work when its second comes), and a tick while no
// flight runs.
#include <benchmark/benchmark.h>

#include <memory>

#include "run/subsystems.h"
#include "run/work_loop.h"
#include "injection/services.h"
#include "platform/ui.h"
#include "simlink/link.h"

namespace {

// A window layer that takes every call and keeps nothing, so that repaints cost what a posted repaint costs.
class NullBackend final : public ui::Backend {
public:
    bool createWindow(const std::string&, int, int, int, int, ui::WindowHandlers) override { return true; }
    bool hasWindow() const override { return true; }
    void destroyWindow() override {}
    bool windowPosition(int&, int&) const override { return false; }
    void setTopmost(bool) override {}
    bool createControl(ui::ControlKind, ui::ControlId, int, int, int, int, const std::string&) override { return true; }
    bool hasControl(ui::ControlId) const override { return false; }
    void setEnabled(ui::ControlId, bool) override {}
    bool isEnabled(ui::ControlId) const override { return false; }
    void setChecked(ui::ControlId, bool) override {}
    bool isChecked(ui::ControlId) const override { return false; }
    void setText(ui::ControlId, const std::string&) override {}
    std::string text(ui::ControlId) const override { return {}; }
    void invalidate(const ui::Rect&) override {}
    void post(unsigned, std::intptr_t) override {}
    int run() override { return 0; }
    void quit(int) override {}
};

void lf_emptySubsystems() {
    Subsystems s;
    const auto nothing = [] {};
    s.updateAI = nothing;
    s.simCommands = nothing;
    s.setTrafficBox = nothing;
    s.refreshConnectionIndicators = nothing;
    s.removeAcAtReservedStand = nothing;
    s.autoTrafficRange = nothing;
    s.logUnmatchedAircraft = nothing;
    s.liveryMatchingSummary = nothing;
    s.checkForParkAirportUpdates = [](bool) {};
    s.checkReservedStand = [](bool, std::string&) { return false; };
    gf_setSubsystems(s);
    ui::setBackend(std::make_unique<NullBackend>());
}

void BM_TickWithEmptyAiUpdate(benchmark::State& state) {
    lf_emptySubsystems();
    gf_resetWorkLoopState();
    g_flightRunning = true;
    for (auto _ : state) benchmark::DoNotOptimize(lf_workZNTV());
}
BENCHMARK(BM_TickWithEmptyAiUpdate)->Unit(benchmark::kMicrosecond);

void BM_TickOnTheSimulatorsSecond(benchmark::State& state) {
    lf_emptySubsystems();
    gf_resetWorkLoopState();
    g_flightRunning = true;
    for (auto _ : state) {
        g_secondTick = true;
        benchmark::DoNotOptimize(lf_workZNTV());
    }
}
BENCHMARK(BM_TickOnTheSimulatorsSecond)->Unit(benchmark::kMicrosecond);

void BM_TickWithoutAFlight(benchmark::State& state) {
    lf_emptySubsystems();
    gf_resetWorkLoopState();
    g_flightRunning = false;
    for (auto _ : state) benchmark::DoNotOptimize(lf_workZNTV());
}
BENCHMARK(BM_TickWithoutAFlight)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
