#include "link/Port.h"

#include <utility>

namespace {

std::function<void()>& PortStatusHook() {
    static std::function<void()> hook;
    return hook;
}

// Constructs the link state during static initialisation, before main, as the windows
// created by main expect it to exist.
[[maybe_unused]] const LinkState& linkAtStart = Link();

}  // namespace

LinkState& Link() {
    static LinkState state;
    return state;
}

void SetPortStatusHook(std::function<void()> hook) {
    PortStatusHook() = std::move(hook);
}

void UpdatePortStatus() {
    if (PortStatusHook()) {
        PortStatusHook()();
    }
}
