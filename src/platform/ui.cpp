#include "platform/ui.h"

#include <mutex>
#include <vector>

namespace ui {
namespace {

struct BackendSlot {
    std::mutex mutex;
    std::unique_ptr<Backend> current;
    // A replaced backend stays alive: another thread may still hold a reference from backend(), or be
    // inside its run().
    std::vector<std::unique_ptr<Backend>> retired;
};

// Never destroyed: threads and static destructors may still reach the backend while the process ends.
BackendSlot& lf_slot() {
    static BackendSlot* slot = new BackendSlot;
    return *slot;
}

}  // namespace

Backend& backend() {
    BackendSlot& s = lf_slot();
    std::lock_guard lock(s.mutex);
    if (!s.current) s.current = makeHeadlessBackend();
    return *s.current;
}

void setBackend(std::unique_ptr<Backend> b) {
    BackendSlot& s = lf_slot();
    std::lock_guard lock(s.mutex);
    if (s.current) s.retired.push_back(std::move(s.current));
    s.current = std::move(b);  // an empty one means: the headless default again, made on next use
}

}  // namespace ui
