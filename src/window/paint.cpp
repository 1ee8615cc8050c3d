#include <array>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "frame/entry.h"
#include "frame/log.h"
#include "frame/settings.h"
#include "frame/text.h"
#include "frame/version.h"
#include "window/controls.h"
#include "window/main_window.h"
#include "window/status_line.h"

namespace {

// Drawn at the right of the title band.
constexpr const char* kOwnerNotice = "(c) Zentavo, all rights reserved";

struct Texts {
    std::string userTitle, simName, userStand, serviceStatus;
    std::string parkCode, parkLabel, parkName, standFileInfo, qualityFactor, reservedStand;
};

Texts lf_copyTexts() {
    std::lock_guard lock(g_mainWindow.statusLock);
    const MainWindow& w = g_mainWindow;
    return {w.userTitle,     w.g_simName,       w.g_userStandShown,    w.serviceStatusText, w.parkAirportCode,
            w.parkAirportLabel, w.parkAirportName, w.standFileInfo, w.qualityFactorText, w.reservedStand};
}

void lf_paintConnectionState(ui::Canvas& canvas, const Texts& t) {
    const MainWindow& w = g_mainWindow;
    const bool simConnected = w.g_simConnected;
    ui::Rgb simColour = kRed;
    if (simConnected) simColour = (w.g_simRunningShown && !t.userTitle.empty()) ? kGreen : kYellow;

    canvas.fillRect(kSimBox, simColour);
    lf_drawText(canvas, 398, 63, "Sim", kBlack);
    if (simConnected) {
        std::string simLine = t.simName;
        if (!t.userStand.empty()) simLine += ", user stand " + t.userStand;
        lf_drawText(canvas, 5, 35, simLine, simColour);
        lf_drawText(canvas, 5, 63, t.userTitle, w.userModelKnown ? simColour : kYellow);
    }

    if (const std::uint64_t liveries = w.liveryCount; liveries > 0) {
        lf_drawText(canvas, 5, 91, fmt::format("# liveries: {}", liveries), kGreen);
    } else {
        lf_drawText(canvas, 5, 91, "# liveries: ...", kRed);
    }
    if (const std::uint64_t simaddon = w.simaddonCount; simaddon > 0) {
        lf_drawText(canvas, 141, 91, fmt::format("# {}: {}", "simaddon", simaddon), w.simaddonOk ? kGreen : kYellow);
    } else {
        lf_drawText(canvas, 141, 91, std::string("# ") + "simaddon" + ": ...", kYellow);
    }
    if (const std::uint64_t thirdp = w.thirdpCount; thirdp > 0) {
        lf_drawText(canvas, 278, 91, fmt::format("# thirdp: {}", thirdp), kGreen);
    } else {
        lf_drawText(canvas, 278, 91, "# thirdp: ...", kYellow);
    }

    const bool rtConnected = w.g_rtConnected;
    canvas.fillRect(kServiceBox, w.serviceBoxBlack ? kBlack : (rtConnected ? kGreen : kRed));
    lf_drawText(canvas, 430, 63, "RT", kBlack);
    if (rtConnected) {
        lf_drawText(canvas, 458, 35, t.serviceStatus, kGreen);
        if (const std::int32_t weather = w.g_weatherIndicator; weather != kReaderStopped) {
            lf_drawText(canvas, 458, 63, "Weather", weather == kReaderDataArriving ? kGreen : kYellow);
        }
        if (const std::int32_t traffic = w.g_trafficIndicator; traffic != kReaderStopped) {
            lf_drawText(canvas, 458, 91, "Traffic", traffic == kReaderDataArriving ? kGreen : kYellow);
        }
    }
    canvas.line(425, 29, 425, 112, kBlack);
}

bool lf_readerDelivering(std::int32_t indicator) {
    return indicator == kReaderDataArriving || indicator == kReaderNoData;
}

void lf_paintQnh(ui::Canvas& canvas) {
    const MainWindow& w = g_mainWindow;
    if (!w.g_rtConnected || !lf_readerDelivering(w.g_weatherIndicator)) return;
    if (const std::int32_t qnh = w.qnhShown; qnh >= 1) lf_drawText(canvas, 642, 63, fmt::format("qnh: {:4}", qnh), kGreen);
}

void lf_paintParkingStatistics(ui::Canvas& canvas, const Texts& t) {
    const MainWindow& w = g_mainWindow;
    if (t.parkCode.empty()) return;
    const int y1 = w.parkingRowY;
    const int y2 = y1 + 28;
    const bool standFileOk = w.standFileOk;

    lf_drawText(canvas, 5, y1, t.parkLabel, standFileOk ? kGreen : kYellow);
    if (standFileOk) {
        lf_drawText(canvas, 85, y1,
                    fmt::format(" {}, {}{}, wk={}", t.parkName, t.standFileInfo, w.standFileHandMade ? " (h)" : "",
                                w.standFileWeekCount.load()),
                    kGreen);
    }
    lf_drawText(canvas, 370, y1, w.staticParkingMark ? "*S*" : "", kGreen);
    if (!g_RT_PARKTRAFFIC_ONLY.value()) lf_drawText(canvas, 430, y1, fmt::format("qf: {}", t.qualityFactor), kGreen);
    if (!t.reservedStand.empty()) {
        lf_drawText(canvas, 571, y1, fmt::format("reserved stand: {}", t.reservedStand),
                    w.reservedStandOk ? kGreen : kRed);
    }
    lf_drawText(canvas, 748, y1, fmt::format("# updates: {:4}", w.updateCount.load()), kGreen);

    lf_drawText(canvas, 5, y2, fmt::format("# stands: {:3}", w.standCount.load()), kGreen);
    lf_drawText(canvas, 111, y2, fmt::format("parked live: {:3}", w.parkedLiveCount.load()), kGreen);
    if (const float live = w.g_averageFitShown[1]; live > 0.0f) {
        lf_drawText(canvas, 249, y2, fmt::format("average fit: {}", gf_formatNumber(live)), kGreen);
    }
    const std::int32_t wanted = w.g_wantedStatics;
    if (wanted > 0) {
        lf_drawText(canvas, 430, y2, fmt::format("parked static: {:3}", w.parkedStaticCount.load()), kGreen);
        if (const float fit = w.g_averageFitShown[0]; !g_WEEK.value() && fit > 0.0f) {
            lf_drawText(canvas, 571, y2, fmt::format("average fit: {}", gf_formatNumber(fit)), kGreen);
        }
    }
    if (g_RT_PARKTRAFFIC_ONLY.value()) return;
    if (wanted != 0) {
        lf_drawText(canvas, 708, y2, fmt::format("max park: {:3} (={} %)", wanted, w.maxParkPercent.load()), kGreen);
    } else {
        lf_drawText(canvas, 708, y2, "no max park live", kGreen);
    }
}

}  // namespace

void lf_drawText(ui::Canvas& canvas, int x, int y, std::string_view text, ui::Rgb colour) {
    // The text must be whole UTF-8; one that is not would draw as garbage, so it is logged instead.
    try {
        (void)utf8ToUtf16(text);
    } catch (const win32::Utf8ConversionException& e) {
        gf_logLine(fmt::format("{} conversion exception {}, error code: {}", text, e.what(), e.errorCode()));
        return;
    } catch (const std::overflow_error& e) {
        gf_logLine(fmt::format("{} {}", text, e.what()));
        return;
    }
    canvas.text(x, y, text, colour);
}

void lf_drawGreyableText(ui::Canvas& canvas, int x, int y, std::string_view text, bool active) {
    lf_drawText(canvas, x, y, text, active ? kBlack : kGrey);
}

void lf_paintMainWindow(ui::Canvas& canvas) {
    const MainWindow& w = g_mainWindow;
    canvas.fillRect(kTitleBand, kBlack);
    canvas.fillRect(kUpperBand, kBlack);
    canvas.fillRect(kMiddleBand, kLightBlue);
    canvas.fillRect(kParkingBand, kBlack);
    canvas.fillRect(kStatusLine, kGreen);

    canvas.line(0, 28, 880, 28, kWhite);
    canvas.line(0, 113, 880, 113, kWhite);
    canvas.line(0, 449, 880, 449, kWhite);
    canvas.line(0, 392, 880, 392, kWhite);

    lf_drawText(canvas, 3, 7, fmt::format("Version {}", gf_versionText(g_programVersion)), kGreen);
    lf_drawText(canvas, 390, 7, kAppTitle, kGreen);
    lf_drawText(canvas, 632, 7, kOwnerNotice, kGreen);

    for (const Segment& s : MainWindow::kSeparators) canvas.line(s.x1, s.y1, s.x2, s.y2, kBlack);
    canvas.line(642, 140, 642, 308, kBlack);

    const Texts texts = lf_copyTexts();
    lf_paintConnectionState(canvas, texts);
    lf_paintQnh(canvas);
    if (w.g_rtConnected && lf_readerDelivering(w.g_trafficIndicator)) {
        lf_drawText(canvas, 642, 91, fmt::format("live: {:3}", w.liveAirborneCount.load()), kGreen);
    }
    lf_paintControlLabels(canvas);
    lf_paintParkingStatistics(canvas, texts);

    // A line wider than the window would lose its end, where a fault says what to do: it is fitted instead.
    constexpr int kStatusTextX = 3;
    constexpr int kStatusTextY = 455;
    constexpr int kStatusTextWidth = kStatusLine.right - kStatusLine.left - 2 * kStatusTextX;
    // Two red lines share the line's 28 pixels in two rows: the window's font inks 13 pixel rows, from 2 below
    // the point a text is drawn at, so the rows touch but never overlap and the second ends on the window's edge.
    constexpr std::array<int, kRedLineRows> kStatusRowsY{kStatusLine.top, kStatusLine.top + 13};
    std::lock_guard lock(g_mainWindow.statusLock);
    if (const std::vector<std::string> red = lf_redLinesLocked(); !red.empty()) {
        canvas.fillRect(kStatusLine, kRed);
        for (std::size_t row = 0; row < red.size(); ++row) {
            const int y = red.size() == 1 ? kStatusTextY : kStatusRowsY.at(row);
            lf_drawText(canvas, kStatusTextX, y, gf_fitStatusText(red[row], kStatusTextWidth, canvas), kYellow);
        }
    } else {
        canvas.fillRect(kStatusLine, kGreen);
        if (!w.message.empty())
            lf_drawText(canvas, kStatusTextX, kStatusTextY, gf_fitStatusText(w.message, kStatusTextWidth, canvas),
                        kYellow);
    }
}
