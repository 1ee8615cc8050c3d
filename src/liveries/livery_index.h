// The livery database: the installed liveries grouped by airline and type, and the indexes the selection
// answers from in one or two hash look-ups (by airline and type, by type alone, by registration), the
// similar types that are installed, and the installed types of the small categories for random choice.
//
// Built once per process run on the start-up thread, before the work loop; read afterwards without locks.
// The titles are owned by g_airlineLiveries alone; everything else (the indexes, the AI aircraft records,
// g_liveryByHexid) holds views into them. So the database is emptied only on the work thread, right before
// the next build, when no aircraft record and no remembered livery is left to hold a view.
#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "frame/paths.h"
#include "liveries/database.h"

struct AiAc;

// Text keys hashed with 64-bit FNV-1a, looked up by string_view without building a string (database.h).
template <class Value>
using TextMap = DbTextMap<Value>;

// A view of a title owned by g_airlineLiveries; empty means no livery.
using TitleView = std::string_view;
using TitleList = std::vector<TitleView>;

struct OwnedTitle {
    std::string title;
    bool cargo = false;
};

inline constexpr std::size_t kPaxIndex = 0;
inline constexpr std::size_t kCargoIndex = 1;
// The airline code of a generic livery of its type, and that of private aircraft.
inline constexpr std::string_view kGenericAirline = "ZZZ";
inline constexpr std::string_view kPrivateAirline = "PVT";

// airline -> type -> the liveries of the scan, in scan order. Owns every title text.
extern TextMap<TextMap<std::vector<OwnedTitle>>> g_airlineLiveries;
// [passenger, cargo]: airline -> type -> titles; only non-empty lists are present.
extern std::array<TextMap<TextMap<TitleList>>, 2> g_liveryIndex;
// [passenger, cargo]: type -> the titles of every airline.
extern std::array<TextMap<TitleList>, 2> g_typeLiveryIndex;
// registration -> title (filled from the registration-code files and the liveries' own registrations).
extern TextMap<TitleView> g_regcodeLiveries;
// Liveries reserved for their own registrations: never picked at random.
extern TitleList g_specialLiveries;
// type -> the other members of its similar-type groups that have an installed livery, in group order.
extern TextMap<std::vector<std::string>> g_similarModels;
// airline -> type the airline has no livery of -> the similar types it does have liveries of.
extern TextMap<TextMap<std::vector<std::string>>> g_similarModelsByAirline;
// The installed types of the categories light, business jet and rotorcraft, each once, ascending.
extern std::array<std::vector<std::string>, 3> g_randomModels;
// The database was built in this process run (work thread).
extern bool g_liveriesProcessed;

// The build, in the order gf_processScannedLiveries runs it.
void lf_buildAirlineLiveries();  // from g_scannedLiveries (sorted by airline, then type)
void lf_buildLiveryIndex();
void lf_buildTypeIndex();
void gf_buildSimilarModels();
void lf_reportGenericLiveries();
void lf_countLiveriesPerCategory(ModelCategory category);

// Reads "LiveriesScanned.xml" and builds the database, once per process run; a request to rebuild
// (gf_requestLiveryRebuild) empties the old database here first. g_scannedLiveries is emptied afterwards.
// Throws the reader's user errors.
void gf_processScannedLiveries(const std::filesystem::path& path = g_liveriesScannedFile);
// The user asked for a new scan: the next gf_processScannedLiveries empties the database and builds it
// anew. The database itself is left as it is, since aircraft of the running work may still hold its titles.
void gf_requestLiveryRebuild();
// Empties every container of the database (and the titles remembered per hex id). Work thread, only while no
// aircraft record holds a title: the build calls it; tests call it between cases.
void gf_clearLiveryDatabase();
// Room in the containers, once per process.
void gf_reserveLiveryContainers();

// The view of the first title equal to `title` in g_airlineLiveries' own order; empty when there is none.
TitleView gf_findOwnedTitle(std::string_view title);
// The type has a passenger or a cargo livery.
bool gf_hasLiveryOfModel(std::string_view type);
// The airline has a livery (passenger or cargo) of the type.
bool lf_airlineHasModel(std::string_view airline, std::string_view type);
// The similar types of the aircraft's type that its airline has liveries of, freshly shuffled.
std::vector<std::string> gf_similarModelsOfAirline(const AiAc& ac);
// The similar types of the type, freshly shuffled; when the database defines none, for a light, business
// jet or rotorcraft type one installed type of its category drawn at random; otherwise nothing.
std::vector<std::string> gf_similarModelsOrRandom(std::string_view type);

// Lines of up to 20 types: two blanks, then the types separated by ",".
std::vector<std::string> gf_typeListLines(const std::vector<std::string>& sortedTypes);
