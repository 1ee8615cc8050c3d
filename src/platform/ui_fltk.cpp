#include "platform/ui_fltk.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Input.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

namespace ui {
namespace {

// One proportional font at one size for every text of the window: the labels of the settings band sit
// between fixed x positions, and this size keeps the longest of them clear of the next control.
constexpr Fl_Font kFont = FL_HELVETICA;
constexpr Fl_Fontsize kFontSize = 12;

Fl_Color lf_colour(Rgb c) { return fl_rgb_color(c.r, c.g, c.b); }

int lf_textWidth(std::string_view utf8) {
    fl_font(kFont, kFontSize);
    return static_cast<int>(std::ceil(fl_width(utf8.data(), static_cast<int>(utf8.size()))));
}

// Draws in the window's coordinates. Lines leave out their end point and text hangs from its top-left
// point, as the window's layout expects.
class FltkCanvas final : public Canvas {
public:
    void fillRect(const Rect& r, Rgb colour) override {
        if (r.right <= r.left || r.bottom <= r.top) return;
        fl_rectf(r.left, r.top, r.right - r.left, r.bottom - r.top, colour.r, colour.g, colour.b);
    }
    void line(int x1, int y1, int x2, int y2, Rgb colour) override {
        if (x1 == x2 && y1 == y2) return;
        // The last point of a segment belongs to the next one.
        if (y1 == y2) {
            x2 += x2 > x1 ? -1 : 1;
        } else if (x1 == x2) {
            y2 += y2 > y1 ? -1 : 1;
        }
        fl_color(lf_colour(colour));
        fl_line_style(FL_SOLID, 1);
        fl_line(x1, y1, x2, y2);
    }
    void text(int x, int y, std::string_view utf8, Rgb colour) override {
        if (utf8.empty()) return;
        fl_font(kFont, kFontSize);
        fl_color(lf_colour(colour));
        // FLTK places text on its baseline.
        fl_draw(utf8.data(), static_cast<int>(utf8.size()), x, y + fl_height() - fl_descent());
    }
    int textWidth(std::string_view utf8) const override { return lf_textWidth(utf8); }
};

struct ControlModel {
    ControlKind kind = ControlKind::PushButton;
    Rect rect;
    std::string caption;
    bool enabled = true;
    bool checked = false;
    std::string text;
    bool pending = false;  // changed by another thread, not yet carried to the widget
};

struct Message {
    unsigned message = 0;
    std::intptr_t param = 0;
};

}  // namespace

struct WidgetData;

struct FltkBackend::Impl {
    mutable std::mutex mutex;
    std::map<ControlId, ControlModel> controls;
    std::deque<Message> queue;
    std::shared_ptr<const WindowHandlers> handlers;
    bool windowExists = false;
    int winX = 0, winY = 0;
    bool dirty = false;
    bool topmost = false;
    bool topmostPending = false;
    bool quitRequested = false;
    int quitCode = 0;

    // The thread that made the window; FLTK is called from it alone.
    std::atomic<std::thread::id> uiThread{};
    // UI thread only.
    Fl_Double_Window* window = nullptr;
    std::map<ControlId, Fl_Widget*> widgets;
    std::vector<std::unique_ptr<struct WidgetData>> widgetData;  // the callbacks' user data
    int paints = 0;

    int wakePipe[2] = {-1, -1};
    std::atomic<bool> wakePending{false};

    bool onUiThread() const { return std::this_thread::get_id() == uiThread.load(); }

    void wake() {
        if (wakePending.exchange(true)) return;
        const char byte = 1;
        // A full pipe already holds a wake-up; nothing is lost when this write fails.
        [[maybe_unused]] ssize_t n = ::write(wakePipe[1], &byte, 1);
    }

    std::shared_ptr<const WindowHandlers> currentHandlers() const {
        std::lock_guard lock(mutex);
        return handlers;
    }

    void paint();
    void applyToWidget(ControlId id, const ControlModel& model);
    void applyTopmost(bool on);
    void applyPending();
    void dispatchCommand(ControlId id, Notify what);
    void checkClicked(ControlId id, Fl_Check_Button* box);
    void enterPressed(ControlId id, Fl_Input* field);
    void typed(ControlId id, const char* value);
    void moved(int x, int y);
    void closeClicked();

    static void onWake(int fd, void* data);
};

namespace {

class MainFlWindow final : public Fl_Double_Window {
public:
    MainFlWindow(FltkBackend::Impl& impl, int x, int y, int w, int h)
        : Fl_Double_Window(x, y, w, h), m_impl(impl) {}

    void draw() override {
        // A repaint of one child alone (a typed character, a pressed button) must not paint over the others.
        if (damage() & ~FL_DAMAGE_CHILD) m_impl.paint();
        draw_children();
    }

    void resize(int x, int y, int w, int h) override {
        Fl_Double_Window::resize(x, y, w, h);
        m_impl.moved(x, y);
    }

private:
    FltkBackend::Impl& m_impl;
};

// A 12 x 12 box with a tick, drawn in full by itself so that it never leaves the size it was given.
class CheckBox final : public Fl_Check_Button {
public:
    CheckBox(int x, int y, int w, int h) : Fl_Check_Button(x, y, w, h) {
        clear_visible_focus();
        box(FL_NO_BOX);
    }

    void draw() override {
        const bool on = active_r();
        fl_rectf(x(), y(), w(), h(), on ? FL_WHITE : fl_rgb_color(224, 224, 224));
        fl_color(on ? fl_rgb_color(64, 64, 64) : fl_rgb_color(160, 160, 160));
        fl_line_style(FL_SOLID, 1);
        fl_rect(x(), y(), w(), h());
        if (value()) {
            fl_color(on ? FL_BLACK : fl_rgb_color(128, 128, 128));
            fl_line_style(FL_SOLID, 2);
            const int l = x() + 3, t = y() + 3, r = x() + w() - 3, b = y() + h() - 3;
            fl_line(l, t + (b - t) / 2, l + (r - l) / 3, b, r, t);
            fl_line_style(0);
        }
    }
};

// Reports the typed text to the backend as it changes, so that other threads read what the user sees.
class EditField final : public Fl_Input {
public:
    EditField(FltkBackend::Impl& impl, ControlId id, int x, int y, int w, int h)
        : Fl_Input(x, y, w, h), m_impl(impl), m_id(id) {}

    int handle(int event) override {
        const int result = Fl_Input::handle(event);
        if (event == FL_KEYBOARD || event == FL_PASTE || event == FL_UNFOCUS) m_impl.typed(m_id, value());
        return result;
    }

private:
    FltkBackend::Impl& m_impl;
    ControlId m_id;
};

}  // namespace

struct WidgetData {
    FltkBackend::Impl* impl;
    ControlId id;
};

// ---- the UI thread's side ---------------------------------------------------------------------------------

void FltkBackend::Impl::paint() {
    ++paints;
    auto h = currentHandlers();
    if (!h || !h->paint || window == nullptr) return;
    FltkCanvas canvas;
    fl_push_clip(0, 0, window->w(), window->h());
    h->paint(canvas, Rect{0, 0, window->w(), window->h()});
    fl_pop_clip();
}

void FltkBackend::Impl::applyToWidget(ControlId id, const ControlModel& model) {
    auto it = widgets.find(id);
    if (it == widgets.end()) return;
    Fl_Widget* w = it->second;
    if (model.enabled) {
        w->activate();
    } else {
        w->deactivate();
    }
    switch (model.kind) {
        case ControlKind::CheckBox:
            static_cast<Fl_Check_Button*>(w)->value(model.checked ? 1 : 0);
            break;
        case ControlKind::EditField: {
            auto* field = static_cast<Fl_Input*>(w);
            if (model.text != field->value()) field->value(model.text.c_str(), static_cast<int>(model.text.size()));
            break;
        }
        case ControlKind::PushButton:
            if (w->label() == nullptr || model.text != w->label()) w->copy_label(model.text.c_str());
            break;
    }
    w->redraw();
}

void FltkBackend::Impl::applyTopmost(bool on) {
    if (window == nullptr || !window->shown()) return;
    const Window xid = fl_xid(window);
    if (xid == 0) return;
    // Ask the window manager (there may be none) to keep the window above the others.
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = xid;
    ev.xclient.message_type = XInternAtom(fl_display, "_NET_WM_STATE", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = on ? 1 : 0;
    ev.xclient.data.l[1] = static_cast<long>(XInternAtom(fl_display, "_NET_WM_STATE_ABOVE", False));
    ev.xclient.data.l[2] = 0;
    ev.xclient.data.l[3] = 1;
    XSendEvent(fl_display, RootWindow(fl_display, fl_screen), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &ev);
    XFlush(fl_display);
}

void FltkBackend::Impl::applyPending() {
    std::vector<std::pair<ControlId, ControlModel>> changes;
    bool repaint = false;
    std::optional<bool> above;
    {
        std::lock_guard lock(mutex);
        // Cleared before looking, so that a change made after this point sends a new wake-up.
        wakePending = false;
        for (auto& [id, model] : controls) {
            if (!model.pending) continue;
            model.pending = false;
            changes.emplace_back(id, model);
        }
        repaint = std::exchange(dirty, false);
        if (std::exchange(topmostPending, false)) above = topmost;
    }
    for (const auto& [id, model] : changes) applyToWidget(id, model);
    if (repaint && window != nullptr) window->redraw();
    if (above) applyTopmost(*above);

    // Posted messages, oldest first; handlers run without the lock, so they may post and change controls.
    for (;;) {
        Message msg;
        std::shared_ptr<const WindowHandlers> h;
        {
            std::lock_guard lock(mutex);
            if (queue.empty()) break;
            msg = queue.front();
            queue.pop_front();
            h = handlers;
        }
        // Messages for a window that is gone are dropped.
        if (h && h->appMessage) h->appMessage(msg.message, msg.param);
    }
}

void FltkBackend::Impl::onWake(int fd, void* data) {
    char buffer[64];
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
    static_cast<FltkBackend::Impl*>(data)->applyPending();
}

void FltkBackend::Impl::dispatchCommand(ControlId id, Notify what) {
    auto h = currentHandlers();
    if (h && h->command) h->command(id, what);
}

void FltkBackend::Impl::checkClicked(ControlId id, Fl_Check_Button* box) {
    bool checked = false;
    {
        std::lock_guard lock(mutex);
        auto it = controls.find(id);
        if (it == controls.end()) return;
        checked = it->second.checked;
    }
    // FLTK has flipped the box already; the state is the program's to change.
    box->value(checked ? 1 : 0);
    box->redraw();
    dispatchCommand(id, Notify::Clicked);
}

void FltkBackend::Impl::enterPressed(ControlId id, Fl_Input* field) {
    typed(id, field->value());
    dispatchCommand(id, Notify::EnterPressed);
}

void FltkBackend::Impl::typed(ControlId id, const char* value) {
    std::lock_guard lock(mutex);
    auto it = controls.find(id);
    if (it == controls.end()) return;
    // A change from another thread still on its way to the widget wins over what the widget holds.
    if (!it->second.pending) it->second.text = value != nullptr ? value : "";
}

void FltkBackend::Impl::moved(int x, int y) {
    std::lock_guard lock(mutex);
    winX = x;
    winY = y;
}

void FltkBackend::Impl::closeClicked() {
    // FLTK closes a window on Escape; only the close box counts here.
    if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
    auto h = currentHandlers();
    if (h && h->closeRequested) h->closeRequested();
}

// ---- the backend --------------------------------------------------------------------------------------------

FltkBackend::FltkBackend() : m(std::make_unique<Impl>()) {
    if (::pipe2(m->wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) m->wakePipe[0] = m->wakePipe[1] = -1;
    if (m->wakePipe[0] >= 0) Fl::add_fd(m->wakePipe[0], FL_READ, &Impl::onWake, m.get());
}

FltkBackend::~FltkBackend() {
    if (m->window != nullptr && m->onUiThread()) destroyWindow();
    if (m->wakePipe[0] >= 0) {
        Fl::remove_fd(m->wakePipe[0]);
        ::close(m->wakePipe[0]);
        ::close(m->wakePipe[1]);
    }
}

std::unique_ptr<FltkBackend> FltkBackend::open() {
    if (fl_display == nullptr) {
        // FLTK ends the process when it cannot open the display itself, so the display is opened here.
        Display* display = XOpenDisplay(nullptr);
        if (display == nullptr) return nullptr;
        fl_open_display(display);
    }
    std::unique_ptr<FltkBackend> backend(new FltkBackend());
    if (backend->m->wakePipe[0] < 0) return nullptr;
    return backend;
}

std::unique_ptr<Backend> makeFltkBackend() { return FltkBackend::open(); }

bool FltkBackend::createWindow(const std::string& title, int x, int y, int width, int height,
                               WindowHandlers handlers) {
    if (m->window != nullptr) return false;
    m->uiThread = std::this_thread::get_id();
    {
        std::lock_guard lock(m->mutex);
        m->handlers = std::make_shared<const WindowHandlers>(std::move(handlers));
        m->controls.clear();
        m->windowExists = true;
        m->winX = x;
        m->winY = y;
    }
    Fl_Group::current(nullptr);
    auto* window = new MainFlWindow(*m, x, y, width, height);
    window->end();
    window->copy_label(title.c_str());
    window->size_range(width, height, width, height);  // fixed size: no resizing, no maximising
    window->color(FL_BLACK);
    window->callback([](Fl_Widget*, void* data) { static_cast<Impl*>(data)->closeClicked(); }, m.get());
    m->window = window;
    window->show();
    return true;
}

bool FltkBackend::hasWindow() const {
    std::lock_guard lock(m->mutex);
    return m->windowExists;
}

void FltkBackend::destroyWindow() {
    {
        std::lock_guard lock(m->mutex);
        m->windowExists = false;
        m->handlers.reset();
        m->controls.clear();
    }
    if (m->window != nullptr && m->onUiThread()) {
        m->window->hide();
        delete m->window;  // deletes the widgets with it
        m->window = nullptr;
        m->widgets.clear();
        m->widgetData.clear();
    }
}

bool FltkBackend::windowPosition(int& x, int& y) const {
    std::lock_guard lock(m->mutex);
    if (!m->windowExists) return false;
    x = m->winX;
    y = m->winY;
    return true;
}

void FltkBackend::setTopmost(bool on) {
    {
        std::lock_guard lock(m->mutex);
        m->topmost = on;
        m->topmostPending = !m->onUiThread();
    }
    if (m->onUiThread()) {
        m->applyTopmost(on);
    } else {
        m->wake();
    }
}

bool FltkBackend::createControl(ControlKind kind, ControlId id, int x, int y, int width, int height,
                                const std::string& caption) {
    if (!m->onUiThread() || m->window == nullptr) return false;
    {
        std::lock_guard lock(m->mutex);
        if (m->controls.count(id) != 0) return false;
        ControlModel model;
        model.kind = kind;
        model.rect = Rect{x, y, x + width, y + height};
        model.caption = caption;
        model.text = caption;
        m->controls.emplace(id, std::move(model));
    }
    Fl_Group::current(nullptr);
    Fl_Widget* widget = nullptr;
    m->widgetData.push_back(std::make_unique<WidgetData>(WidgetData{m.get(), id}));
    WidgetData* data = m->widgetData.back().get();
    switch (kind) {
        case ControlKind::CheckBox: {
            auto* box = new CheckBox(x, y, width, height);
            box->callback(
                [](Fl_Widget* w, void* d) {
                    auto* wd = static_cast<WidgetData*>(d);
                    wd->impl->checkClicked(wd->id, static_cast<Fl_Check_Button*>(w));
                },
                data);
            widget = box;
            break;
        }
        case ControlKind::PushButton: {
            auto* button = new Fl_Button(x, y, width, height);
            button->copy_label(caption.c_str());
            button->labelfont(kFont);
            button->labelsize(kFontSize);
            button->clear_visible_focus();
            button->callback(
                [](Fl_Widget*, void* d) {
                    auto* wd = static_cast<WidgetData*>(d);
                    wd->impl->dispatchCommand(wd->id, Notify::Clicked);
                },
                data);
            widget = button;
            break;
        }
        case ControlKind::EditField: {
            auto* field = new EditField(*m, id, x, y, width, height);
            field->box(FL_BORDER_BOX);
            field->color(FL_WHITE);
            field->textfont(kFont);
            field->textsize(kFontSize);
            field->value(caption.c_str());
            // Enter applies the field, whether or not its text changed; leaving the field does nothing.
            field->when(FL_WHEN_ENTER_KEY_ALWAYS);
            field->callback(
                [](Fl_Widget* w, void* d) {
                    auto* wd = static_cast<WidgetData*>(d);
                    wd->impl->enterPressed(wd->id, static_cast<Fl_Input*>(w));
                },
                data);
            widget = field;
            break;
        }
    }
    m->window->add(widget);
    m->widgets[id] = widget;
    widget->redraw();
    return true;
}

bool FltkBackend::hasControl(ControlId id) const {
    std::lock_guard lock(m->mutex);
    return m->controls.count(id) != 0;
}

namespace {

// Stores a change in the model; the UI thread carries it to the widget at once, other threads leave it
// marked for the loop.
template <class Change>
void lf_change(FltkBackend::Impl& impl, ControlId id, Change change) {
    const bool here = impl.onUiThread();
    ControlModel copy;
    {
        std::lock_guard lock(impl.mutex);
        auto it = impl.controls.find(id);
        if (it == impl.controls.end()) return;
        change(it->second);
        if (!here) {
            it->second.pending = true;
        } else {
            copy = it->second;
        }
    }
    if (here) {
        impl.applyToWidget(id, copy);
    } else {
        impl.wake();
    }
}

}  // namespace

void FltkBackend::setEnabled(ControlId id, bool enabled) {
    lf_change(*m, id, [enabled](ControlModel& c) { c.enabled = enabled; });
}

bool FltkBackend::isEnabled(ControlId id) const {
    std::lock_guard lock(m->mutex);
    auto it = m->controls.find(id);
    return it != m->controls.end() && it->second.enabled;
}

void FltkBackend::setChecked(ControlId id, bool checked) {
    lf_change(*m, id, [checked](ControlModel& c) { c.checked = checked; });
}

bool FltkBackend::isChecked(ControlId id) const {
    std::lock_guard lock(m->mutex);
    auto it = m->controls.find(id);
    return it != m->controls.end() && it->second.checked;
}

void FltkBackend::setText(ControlId id, const std::string& utf8) {
    lf_change(*m, id, [&utf8](ControlModel& c) { c.text = utf8; });
}

std::string FltkBackend::text(ControlId id) const {
    std::lock_guard lock(m->mutex);
    auto it = m->controls.find(id);
    return it == m->controls.end() ? std::string() : it->second.text;
}

void FltkBackend::invalidate(const Rect&) {
    // The window is small: every repaint draws all of it into the back buffer.
    if (m->onUiThread()) {
        if (m->window != nullptr) m->window->redraw();
        return;
    }
    {
        std::lock_guard lock(m->mutex);
        if (!m->windowExists) return;
        m->dirty = true;
    }
    m->wake();
}

void FltkBackend::post(unsigned message, std::intptr_t param) {
    {
        std::lock_guard lock(m->mutex);
        m->queue.push_back({message, param});
    }
    m->wake();
}

int FltkBackend::run() {
    for (;;) {
        m->applyPending();
        {
            std::lock_guard lock(m->mutex);
            // Messages posted before the quit are handled first.
            if (m->quitRequested && m->queue.empty()) {
                m->quitRequested = false;
                return m->quitCode;
            }
        }
        Fl::wait(1.0);
    }
}

void FltkBackend::quit(int code) {
    {
        std::lock_guard lock(m->mutex);
        m->quitRequested = true;
        m->quitCode = code;
    }
    m->wake();
}

void FltkBackend::pump(int rounds) {
    for (int i = 0; i < rounds; ++i) {
        m->applyPending();
        Fl::wait(0.0);
    }
    Fl::flush();
    if (fl_display != nullptr) XSync(fl_display, False);
}

std::optional<Rect> FltkBackend::widgetRect(ControlId id) const {
    auto it = m->widgets.find(id);
    if (it == m->widgets.end()) return std::nullopt;
    const Fl_Widget* w = it->second;
    return Rect{w->x(), w->y(), w->x() + w->w(), w->y() + w->h()};
}

int FltkBackend::textWidth(std::string_view utf8) const { return lf_textWidth(utf8); }

int FltkBackend::paintCount() const { return m->paints; }

unsigned long FltkBackend::nativeWindow() const {
    return m->window != nullptr && m->window->shown() ? fl_xid(m->window) : 0;
}

}  // namespace ui
