// The registry files: REGEDIT4 exports (or regedit 5's UTF-16 ones) that a user makes and puts beside the program.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/registry.h"
#include "support/fuzz_file.h"

namespace {

const std::string kSimKey = "SOFTWARE\\Lockheed Martin\\Prepar3D v5";

// What the program asks of a hive: the simulator's key and its values, and the keys above it.
void lf_lookUp(winreg::Hive hive) {
    for (const std::string& key : {kSimKey, std::string("SOFTWARE\\Lockheed Martin"), std::string()}) {
        try {
            const auto opened = winreg::RegKey::Open(hive, key);
            for (const char* name : {"SetupPath", "SimConnect_Port_IPv4", ""}) {
                try {
                    (void)opened.GetStringValue(name);
                } catch (const winreg::RegException&) {
                }
                (void)opened.GetDwordValue(name);
            }
        } catch (const winreg::RegException&) {
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        std::filesystem::create_directories(fuzz::scratchFolder() / "registry");
        ::setenv("ZNTV_REGISTRY_DIR", (fuzz::scratchFolder() / "registry").c_str(), 1);
        return true;
    }();
    (void)ready;
    // The reader parses a file again only when it changed by inode, size or time stamp; two inputs of one
    // size within the file system's clock tick would look the same. A new file has a new inode.
    for (const char* name : {"registry/machine.reg", "registry/user.reg"}) {
        std::filesystem::remove(fuzz::scratchFolder() / name);
        fuzz::writeInput(data, size, name);
    }
    lf_lookUp(winreg::Hive::LocalMachine);
    lf_lookUp(winreg::Hive::CurrentUser);
    return 0;
}
