// A program world with a hand-made aircraft database and a livery database built from a hand-made scan as
// the start-up builds it: written as "LiveriesScanned.xml", read back and indexed.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "injection/services.h"
#include "liveries/database.h"
#include "liveries/livery_index.h"
#include "liveries/livery_records.h"
#include "liveries/selection.h"
#include "simlink/refused_liveries.h"
#include "support/program_env.h"

namespace testing_support {

class LiveryWorld : public ProgramEnv {
protected:
    void SetUp() override {
        ProgramEnv::SetUp();
        lf_reset();
        openLog();
    }
    void TearDown() override {
        lf_reset();
        ProgramEnv::TearDown();
    }
    static void lf_reset() {
        gf_clearLiveryDatabase();
        g_scannedLiveries.clear();
        gf_resetMatchStepCounts();
        gf_clearRefusedLiveries();
        g_unmatchedAircraft.clear();
        for (auto* set : {&g_largeModels, &g_heavyModels, &g_buzjetModels, &g_rotorcraftModels, &g_highPerfModels}) {
            set->clear();
        }
        g_similarModelGroups.clear();
        g_regcodeDb.clear();
    }

    // The scan, sorted as the scanner sorts it, goes through the file into a fresh livery database.
    void build(std::vector<LiveryData> liveries) {
        std::sort(liveries.begin(), liveries.end(), gf_liveryOrder);
        g_scannedLiveries.assign(liveries.begin(), liveries.end());
        lf_writeLiveriesScanned(liveriesFile());
        g_liveriesProcessed = false;
        gf_processScannedLiveries(liveriesFile());
    }
    // As the registration-code files do it: a registration names a livery by its title.
    void addRegistration(const std::string& registration, const std::string& title, bool special = false) {
        const TitleView view = gf_findOwnedTitle(title);
        ASSERT_FALSE(view.empty()) << title;
        g_regcodeLiveries[registration] = view;
        if (special) g_specialLiveries.push_back(view);
    }
    static AiAc aircraft(std::string airline, std::string type, std::string registration = {}, bool cargo = false) {
        AiAc ac;
        ac.airline = std::move(airline);
        ac.type = std::move(type);
        ac.registration = std::move(registration);
        ac.category = gf_categoryOfModel(ac.type);
        ac.cargo = cargo;
        return ac;
    }
    std::filesystem::path liveriesFile() const { return m_program / "LiveriesScanned.xml"; }
};

inline LiveryData livery(std::string airl, std::string type, std::string title, bool cargo = false,
                         std::string atcid = {}) {
    return {.airl = std::move(airl), .type = std::move(type), .title = std::move(title), .atcid = std::move(atcid),
            .priority = 1, .cargo = cargo};
}

}  // namespace testing_support
