// What the simulator sends, through the program's own dispatch: the stream is cut into messages as the
// transport cuts it and each message is handed to the link's dispatch as the connection's dispatch call
// does. The link's state, the exit flags and the messages posted to the work thread are reset for every
// input; the log is closed and the status line and exit sequence go nowhere, so nothing is printed.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "frame/display.h"
#include "frame/errors.h"
#include "frame/exit.h"
#include "frame/log.h"
#include "injection/services.h"
#include "simlink/dispatch.h"
#include "simlink/link.h"
#include "simlink/protocol/framing.h"
#include "trafficservice/clients.h"

namespace {

void lf_noMessage(std::string_view, bool) {}
void lf_noError(std::string_view) {}
void lf_noExit(std::uint32_t) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool once = [] {
        gf_closeLog();
        gf_setStatusLineHooks({&lf_noMessage, &lf_noError});
        gf_setExitSequence(&lf_noExit);
        g_rtProfessional = true;  // the zulu time is taken only then
        return true;
    }();
    (void)once;
    gf_resetLinkState();
    gf_resetExitFlags();
    g_simMajorVersion = 5;

    LinkSession session;
    MessageFramer framer(kSimDefaultMaxReceiveSize);
    std::size_t off = 0;
    bool broken = false;
    while (off < size && !broken && !session.quit) {
        auto room = framer.writable();
        if (room.empty()) break;
        const std::size_t n = std::min(room.size(), size - off);
        std::memcpy(room.data(), data + off, n);
        framer.commit(n);
        off += n;
        for (;;) {
            std::vector<std::uint8_t> m;
            const auto r = framer.extract(m);
            if (r == MessageFramer::Result::Skipped) continue;
            if (r != MessageFramer::Result::Message) {
                broken = r != MessageFramer::Result::NeedMore;
                break;
            }
            if (m.size() < kSimMessageHeaderSize) continue;  // as the connection's dispatch call drops them
            try {
                lf_dispatch(m.data(), static_cast<std::uint32_t>(m.size()), &session);
            } catch (const qtm::UserErrorException&) {
                // Ends the link in the program; here the stream goes on, to reach what follows.
            }
        }
    }
    gf_takeSimMessages();
    return 0;
}
