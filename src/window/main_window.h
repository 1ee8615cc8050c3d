// The main window: one fixed-size window of bands, from top to bottom the title band, the connection band
// (simulator, liveries, traffic service), the light-blue settings band with every control, the parking band
// and the status line.
//
// Everything it shows is kept in `g_mainWindow`. Any thread may change it: write the field (texts under
// the status lock, everything else is atomic), then invalidate the band that shows it. Only the UI thread's
// paint handler draws.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "frame/display.h"
#include "platform/ui.h"

inline constexpr int kMainClientWidth = 880;
inline constexpr int kMainClientHeight = 476;

// The brushes and pens of the window.
inline constexpr ui::Rgb kRed{255, 0, 0};
inline constexpr ui::Rgb kLightBlue{153, 204, 255};
inline constexpr ui::Rgb kBlack{0, 0, 0};
inline constexpr ui::Rgb kGreen{50, 205, 50};
inline constexpr ui::Rgb kYellow{255, 255, 0};
inline constexpr ui::Rgb kWhite{255, 255, 255};
inline constexpr ui::Rgb kGrey{160, 160, 160};

// The bands and boxes, in client coordinates.
inline constexpr ui::Rect kTitleBand{0, 0, 880, 28};
inline constexpr ui::Rect kUpperBand{0, 28, 880, 112};
inline constexpr ui::Rect kMiddleBand{0, 112, 880, 392};
inline constexpr ui::Rect kParkingBand{0, 392, 880, 448};
inline constexpr ui::Rect kStatusLine{0, 448, 880, 476};
inline constexpr ui::Rect kSimBox{397, 30, 425, 112};
inline constexpr ui::Rect kServiceBox{425, 30, 453, 112};

// State of the weather and of the traffic reader, as their indicators show it.
enum ReaderIndicator : std::int32_t {
    kReaderDataArriving = 1,
    kReaderNoData = 2,  // nothing came with the last poll
    kReaderStopped = 3,
};

struct Segment {
    int x1, y1, x2, y2;
};

class MainWindow {
public:
    MainWindow();
    virtual ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // The separators of the settings band, drawn black.
    static constexpr std::array<Segment, 7> kSeparators{{{0, 140, 880, 140},
                                                         {0, 168, 642, 168},
                                                         {0, 196, 642, 196},
                                                         {0, 224, 880, 224},
                                                         {0, 252, 642, 252},
                                                         {0, 280, 642, 280},
                                                         {0, 308, 880, 308}}};

    // Guards every text below. Taken before the log lock when both are held, never after it.
    std::mutex statusLock;

    // ---- texts, under statusLock ----
    std::string message;  // the status message, empty when none
    std::string error;    // the error text; while not empty no message can replace it
    // The standing faults' lines (frame/display.h), by StandingFault; empty when that fault is not shown.
    std::array<std::string, kStandingFaultCount> standingFaults;
    std::string userTitle;          // title of the user's aircraft
    std::string parkAirportName;    // parking band: name of the active park airport
    std::string standFileInfo;      // parking band: what the stand file is
    std::string qualityFactorText;  // parking band: the stand file's quality factor
    std::string g_simName;          // name and version of the connected simulator
    std::string serviceStatusText;  // written by the traffic-service login
    std::string g_userStandShown;   // the stand the user aircraft stands at
    std::string parkAirportCode;    // the active park airport's code; empty while none is active
    std::string parkAirportLabel;   // its label as the parking band shows it
    std::string reservedStand;      // the stand reserved for the user aircraft, if any

    // ---- numbers and flags, atomic ----
    // Average fit in hours of the parked static [0] and the parked live [1] aircraft; -1 means none.
    std::array<std::atomic<float>, 2> g_averageFitShown{-1.0f, -1.0f};

    std::atomic<std::uint64_t> liveAirborneCount{0};  // live aircraft in the simulator, not parked
    std::atomic<std::uint64_t> simaddonCount{0};      // files in "my_ORBX"
    std::atomic<std::uint64_t> thirdpCount{0};        // files in "my_thirdparty"
    std::atomic<std::uint64_t> liveryCount{0};
    std::atomic<std::uint64_t> parkedLiveCount{0};
    std::atomic<std::uint64_t> parkedStaticCount{0};
    std::atomic<std::uint64_t> standCount{0};          // stands of the park airport
    std::atomic<std::uint64_t> addonAirportCount{0};   // add-on airports the airport scan counted

    std::atomic<std::int32_t> parkingRowY{399};  // y of the first parking row
    std::atomic<std::int32_t> maxParkPercent{0};
    std::atomic<std::int32_t> qnhShown{0};  // hPa
    std::atomic<std::int32_t> g_wantedStatics{0};
    std::atomic<std::int32_t> minutesToRenewal{0};
    std::atomic<std::int32_t> displaySeconds{0};  // seconds counter of the status line
    std::atomic<std::int32_t> messageSecond{0};   // displaySeconds when the message was set; 0: none
    std::atomic<std::int32_t> updateCount{0};     // stand-file updates
    std::atomic<std::int32_t> standFileWeekCount{0};

    std::atomic<bool> standFileHandMade{false};
    std::atomic<bool> serviceBoxBlack{true};
    std::atomic<bool> g_rtConnected{false};
    std::atomic<bool> standFileOk{false};
    std::atomic<bool> g_simConnected{false};
    std::atomic<bool> g_simRunningShown{false};
    std::atomic<bool> userModelKnown{true};
    std::atomic<bool> simaddonOk{true};
    std::atomic<bool> staticParkingMark{false};
    std::atomic<bool> reservedStandOk{false};
    std::atomic<bool> timeLabelsActive{true};

    std::atomic<std::int32_t> g_trafficIndicator{kReaderStopped};
    std::atomic<std::int32_t> g_weatherIndicator{kReaderStopped};

    std::atomic<bool> windowCreated{false};
    std::atomic<bool> constructed{false};  // set last by the constructor
};

extern MainWindow g_mainWindow;

// Sets one text of the window under the status lock, then invalidates the band that shows it.
void gf_setDisplayText(std::string MainWindow::*field, std::string text, const ui::Rect& band);
// A copy of one text, taken under the status lock.
std::string gf_displayText(std::string MainWindow::*field);

// Every field back to its initial value (tests, and nothing else).
void gf_resetMainWindowState();

// Creates and shows the window with its controls through the window layer, and installs the status line.
// False when the window could not be created. UI thread.
bool gf_createMainWindow(const std::string& title);
bool gf_createMainWindow();  // with the program's title

// Stores the QNH to show; a weather indicator of "no data" becomes "data arriving". Any thread.
void gf_setQnh(std::int32_t qnh);

// A stored window position at its minimum or maximum (a minimised window) is replaced by the previous value.
void lf_checkWindowPosition(std::int32_t previousX, std::int32_t previousY);

// The window's handlers, for the window layer and for tests.
void lf_paintMainWindow(ui::Canvas& canvas);
void lf_mainWindowCommand(ui::ControlId id, ui::Notify what);
// WM_APP+1 starts the work thread; WM_APP+2 stores the window position, closes the log and quits the loop.
void lf_mainWindowAppMessage(unsigned message, std::intptr_t param);
void lf_mainWindowClose();

// Draws a UTF-8 text at its top-left point; a text that is no valid UTF-8 is logged, not drawn.
void lf_drawText(ui::Canvas& canvas, int x, int y, std::string_view text, ui::Rgb colour);
// Black when active, else grey.
void lf_drawGreyableText(ui::Canvas& canvas, int x, int y, std::string_view text, bool active);
