// "parameters.xml", the settings file: read at every start and at every save, whatever an editor, a crash or
// an older program left in it. Also the meta block that the program's other XML files carry.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include <pugixml.hpp>

#include "frame/paths.h"
#include "frame/settings.h"
#include "frame/settings_file.h"
#include "support/fuzz_file.h"

namespace {

// The program's folders in the scratch folder, as the tests point them at theirs: the roaming folder holds
// "ZNTV_P3D/parameters.xml"; the registry folder has no files. The log stays closed, so nothing is printed.
void lf_pointFoldersAtScratch() {
    const std::filesystem::path scratch = fuzz::scratchFolder();
    std::filesystem::create_directories(scratch / "config" / "ZNTV_P3D");
    std::filesystem::create_directories(scratch / "registry");
    ::setenv("XDG_CONFIG_HOME", (scratch / "config").c_str(), 1);
    ::setenv("ZNTV_REGISTRY_DIR", (scratch / "registry").c_str(), 1);
    gf_initGlobalPaths();
}

// The settings file as the input has it; the copies kept of an unreadable one are removed, so that every
// run starts from the same folder.
void lf_writeSettings(const uint8_t* data, size_t size) {
    for (const char* kept : {"parameters0.xml", "parameters00.xml"}) std::filesystem::remove(g_appFolder / kept);
    fuzz::writeInput(data, size, "config/ZNTV_P3D/parameters.xml");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = (lf_pointFoldersAtScratch(), true);
    (void)ready;

    // A start: every stored setting read from the file (and the file completed and written back).
    lf_writeSettings(data, size);
    gf_resetParametersToDefaults();
    gf_loadParameters(gf_storedParameters());

    // A save of one setting into the file as the input has it.
    lf_writeSettings(data, size);
    gf_saveStringParameter(g_SIM_INSTALL_PATH);

    pugi::xml_document doc;
    if (doc.load_buffer(data, size)) (void)gf_checkMetaInfo(doc);
    return 0;
}
