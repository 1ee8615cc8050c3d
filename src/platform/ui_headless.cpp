#include "platform/ui_headless.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>

#include <fmt/format.h>

namespace ui {
namespace {

class RecordingCanvas final : public Canvas {
public:
    void fillRect(const Rect& r, Rgb colour) override {
        DrawCall c;
        c.kind = DrawCall::Kind::FillRect;
        c.rect = r;
        c.colour = colour;
        calls.push_back(std::move(c));
    }
    void line(int x1, int y1, int x2, int y2, Rgb colour) override {
        DrawCall c;
        c.kind = DrawCall::Kind::Line;
        c.from = {x1, y1};
        c.to = {x2, y2};
        c.colour = colour;
        calls.push_back(std::move(c));
    }
    void text(int x, int y, std::string_view utf8, Rgb colour) override {
        DrawCall c;
        c.kind = DrawCall::Kind::Text;
        c.from = {x, y};
        c.text = std::string(utf8);
        c.colour = colour;
        calls.push_back(std::move(c));
    }
    std::vector<DrawCall> calls;
};

Rect lf_union(const Rect& a, const Rect& b) {
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
            std::max(a.bottom, b.bottom)};
}

}  // namespace

std::unique_ptr<Backend> makeHeadlessBackend() { return std::make_unique<HeadlessBackend>(); }

std::unique_ptr<Backend> makeHeadlessBackend(const std::filesystem::path& screenFile) {
    return std::make_unique<HeadlessBackend>(screenFile);
}

// ---- window ---------------------------------------------------------------------------------------------

bool HeadlessBackend::createWindow(const std::string& title, int x, int y, int width, int height,
                                   WindowHandlers handlers) {
    std::lock_guard lock(m_mutex);
    if (m_window) return false;
    m_window = WindowState{title, x, y, width, height, false};
    m_handlers = std::make_shared<const WindowHandlers>(std::move(handlers));
    m_controls.clear();
    m_invalidated.clear();
    // A new window is invalid as a whole, so the loop paints it once before anything else asks.
    m_dirty = Rect{0, 0, width, height};
    m_wake.notify_all();
    return true;
}

bool HeadlessBackend::hasWindow() const {
    std::lock_guard lock(m_mutex);
    return m_window.has_value();
}

void HeadlessBackend::destroyWindow() {
    std::lock_guard lock(m_mutex);
    m_window.reset();
    m_handlers.reset();
    m_controls.clear();
    m_dirty.reset();
}

bool HeadlessBackend::windowPosition(int& x, int& y) const {
    std::lock_guard lock(m_mutex);
    if (!m_window) return false;
    x = m_window->x;
    y = m_window->y;
    return true;
}

void HeadlessBackend::setTopmost(bool on) {
    std::lock_guard lock(m_mutex);
    if (m_window) m_window->topmost = on;
}

// ---- controls -------------------------------------------------------------------------------------------

bool HeadlessBackend::createControl(ControlKind kind, ControlId id, int x, int y, int width, int height,
                                    const std::string& caption) {
    std::lock_guard lock(m_mutex);
    // Controls are children of the window, and an id addresses exactly one of them.
    if (!m_window || m_controls.count(id) != 0) return false;
    ControlState c;
    c.kind = kind;
    c.id = id;
    c.rect = Rect{x, y, x + width, y + height};
    c.caption = caption;
    c.text = caption;
    m_controls.emplace(id, std::move(c));
    return true;
}

bool HeadlessBackend::hasControl(ControlId id) const {
    std::lock_guard lock(m_mutex);
    return m_controls.count(id) != 0;
}

void HeadlessBackend::setEnabled(ControlId id, bool enabled) {
    std::lock_guard lock(m_mutex);
    if (auto it = m_controls.find(id); it != m_controls.end()) it->second.enabled = enabled;
}

bool HeadlessBackend::isEnabled(ControlId id) const {
    std::lock_guard lock(m_mutex);
    auto it = m_controls.find(id);
    return it != m_controls.end() && it->second.enabled;
}

void HeadlessBackend::setChecked(ControlId id, bool checked) {
    std::lock_guard lock(m_mutex);
    if (auto it = m_controls.find(id); it != m_controls.end()) it->second.checked = checked;
}

bool HeadlessBackend::isChecked(ControlId id) const {
    std::lock_guard lock(m_mutex);
    auto it = m_controls.find(id);
    return it != m_controls.end() && it->second.checked;
}

void HeadlessBackend::setText(ControlId id, const std::string& utf8) {
    std::lock_guard lock(m_mutex);
    if (auto it = m_controls.find(id); it != m_controls.end()) it->second.text = utf8;
}

std::string HeadlessBackend::text(ControlId id) const {
    std::lock_guard lock(m_mutex);
    auto it = m_controls.find(id);
    return it == m_controls.end() ? std::string() : it->second.text;
}

// ---- invalidation, messages and the loop ----------------------------------------------------------------

void HeadlessBackend::invalidate(const Rect& r) {
    std::lock_guard lock(m_mutex);
    if (!m_window) return;
    m_invalidated.push_back(r);
    m_dirty = m_dirty ? lf_union(*m_dirty, r) : r;
    m_wake.notify_all();
}

void HeadlessBackend::post(unsigned message, std::intptr_t param) {
    std::lock_guard lock(m_mutex);
    m_queue.push_back({message, param});
    m_wake.notify_all();
}

void HeadlessBackend::quit(int code) {
    std::lock_guard lock(m_mutex);
    m_quitRequested = true;
    m_quitCode = code;
    m_wake.notify_all();
}

void HeadlessBackend::dispatch(const std::shared_ptr<const WindowHandlers>& handlers, const PostedMessage& msg) {
    // Messages for a window that is gone are dropped, as the original platform drops them.
    if (handlers && handlers->appMessage) handlers->appMessage(msg.message, msg.param);
}

std::vector<DrawCall> HeadlessBackend::paintWith(const std::shared_ptr<const WindowHandlers>& handlers,
                                                 const Rect& dirty) {
    RecordingCanvas canvas;
    if (handlers && handlers->paint) handlers->paint(canvas, dirty);
    return std::move(canvas.calls);
}

int HeadlessBackend::run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return !m_queue.empty() || m_dirty.has_value() || m_quitRequested; });
        if (!m_queue.empty()) {
            const PostedMessage msg = m_queue.front();
            m_queue.pop_front();
            auto handlers = m_handlers;
            lock.unlock();
            dispatch(handlers, msg);
            lock.lock();
            continue;
        }
        if (m_dirty) {
            const Rect dirty = *m_dirty;
            m_dirty.reset();
            auto handlers = m_handlers;
            lock.unlock();
            auto calls = paintWith(handlers, dirty);
            if (!m_screenFile.empty()) lf_updateScreen(dirty, calls);
            lock.lock();
            m_lastPaint = std::move(calls);
            continue;
        }
        m_quitRequested = false;
        return m_quitCode;
    }
}

void HeadlessBackend::lf_updateScreen(const Rect& dirty, const std::vector<DrawCall>& calls) {
    // What the paint covered is drawn anew: the texts that stood there go, the painted ones come.
    for (auto it = m_screen.begin(); it != m_screen.end();) {
        const auto [y, x] = it->first;
        const bool covered = x >= dirty.left && x < dirty.right && y >= dirty.top && y < dirty.bottom;
        it = covered ? m_screen.erase(it) : std::next(it);
    }
    const auto hex = [](Rgb c) { return fmt::format("#{:02x}{:02x}{:02x}", c.r, c.g, c.b); };
    // What a text stands on is the last rectangle filled under its point before it was drawn; black, the
    // window's own background, when none was.
    const auto groundOf = [&calls](std::size_t textIndex) {
        const Point at = calls[textIndex].from;
        for (std::size_t j = textIndex; j-- > 0;) {
            const DrawCall& f = calls[j];
            if (f.kind == DrawCall::Kind::FillRect && at.x >= f.rect.left && at.x < f.rect.right &&
                at.y >= f.rect.top && at.y < f.rect.bottom)
                return f.colour;
        }
        return Rgb{};
    };
    for (std::size_t i = 0; i < calls.size(); ++i) {
        const DrawCall& c = calls[i];
        if (c.kind != DrawCall::Kind::Text || c.text.empty()) continue;
        const Rgb ground = groundOf(i);
        m_screen[{c.from.y, c.from.x}] = c.text + "\t" + hex(c.colour) + " on " + hex(ground);
    }
    std::filesystem::path temporary = m_screenFile;
    temporary += ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        for (const auto& [at, text] : m_screen) out << text << '\n';
        if (!out) return;
    }
    std::error_code ec;
    std::filesystem::rename(temporary, m_screenFile, ec);
}

// ---- inspection -----------------------------------------------------------------------------------------

std::optional<ControlState> HeadlessBackend::controlState(ControlId id) const {
    std::lock_guard lock(m_mutex);
    auto it = m_controls.find(id);
    if (it == m_controls.end()) return std::nullopt;
    return it->second;
}

std::vector<ControlState> HeadlessBackend::controls() const {
    std::lock_guard lock(m_mutex);
    std::vector<ControlState> out;
    out.reserve(m_controls.size());
    for (const auto& [id, c] : m_controls) out.push_back(c);
    return out;
}

std::optional<WindowState> HeadlessBackend::windowState() const {
    std::lock_guard lock(m_mutex);
    return m_window;
}

std::vector<Rect> HeadlessBackend::invalidatedRects() const {
    std::lock_guard lock(m_mutex);
    return m_invalidated;
}

void HeadlessBackend::clearInvalidated() {
    std::lock_guard lock(m_mutex);
    m_invalidated.clear();
}

std::vector<PostedMessage> HeadlessBackend::pendingMessages() const {
    std::lock_guard lock(m_mutex);
    return {m_queue.begin(), m_queue.end()};
}

std::vector<DrawCall> HeadlessBackend::lastPaint() const {
    std::lock_guard lock(m_mutex);
    return m_lastPaint;
}

// ---- simulation -----------------------------------------------------------------------------------------

bool HeadlessBackend::simulateClick(ControlId id) {
    std::shared_ptr<const WindowHandlers> handlers;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_controls.find(id);
        if (it == m_controls.end() || !it->second.enabled || it->second.kind == ControlKind::EditField)
            return false;
        handlers = m_handlers;
    }
    if (!handlers || !handlers->command) return false;
    handlers->command(id, Notify::Clicked);
    return true;
}

bool HeadlessBackend::simulateEnter(ControlId id, const std::string& text) {
    std::shared_ptr<const WindowHandlers> handlers;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_controls.find(id);
        if (it == m_controls.end() || !it->second.enabled || it->second.kind != ControlKind::EditField)
            return false;
        it->second.text = text;
        handlers = m_handlers;
    }
    if (!handlers || !handlers->command) return false;
    handlers->command(id, Notify::EnterPressed);
    return true;
}

std::vector<DrawCall> HeadlessBackend::paintNow(const Rect& dirty) {
    std::shared_ptr<const WindowHandlers> handlers;
    {
        std::lock_guard lock(m_mutex);
        handlers = m_handlers;
    }
    return paintWith(handlers, dirty);
}

std::size_t HeadlessBackend::pumpPending() {
    std::size_t count;
    {
        std::lock_guard lock(m_mutex);
        count = m_queue.size();
    }
    std::size_t taken = 0;
    for (; taken < count; ++taken) {
        PostedMessage msg;
        std::shared_ptr<const WindowHandlers> handlers;
        {
            std::lock_guard lock(m_mutex);
            // run() on another thread may have taken some of them meanwhile.
            if (m_queue.empty()) break;
            msg = m_queue.front();
            m_queue.pop_front();
            handlers = m_handlers;
        }
        dispatch(handlers, msg);
    }
    return taken;
}

bool HeadlessBackend::closeWindow() {
    std::shared_ptr<const WindowHandlers> handlers;
    {
        std::lock_guard lock(m_mutex);
        if (!m_window) return false;
        handlers = m_handlers;
    }
    if (handlers && handlers->closeRequested) handlers->closeRequested();
    return true;
}

void HeadlessBackend::simulateMove(int x, int y) {
    std::lock_guard lock(m_mutex);
    if (!m_window) return;
    m_window->x = x;
    m_window->y = y;
}

}  // namespace ui
