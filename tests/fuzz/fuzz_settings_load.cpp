// libFuzzer over the settings load: whatever text the settings file holds, every value the
// session gets is one it can use, and what the load wrote back makes the next load give the
// same values. Each input is a new file in a private folder (the store caches files by name
// and the file times are too coarse to tell two inputs apart).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "session/SettingsStore.h"
#include "tests/fuzz/Fuzz.h"

namespace {

using qv::fuzz::Check;

// In memory where the system has such a folder: the store syncs every file it writes to the
// disk, which would hold this target to a few inputs a second. Kept to the very end (never
// destroyed): the exit handler removes the folder.
const std::string& Folder() {
    static const std::string* folder = [] {
        std::filesystem::path base = std::filesystem::temp_directory_path();
        if (::access("/dev/shm", W_OK | X_OK) == 0) {
            base = "/dev/shm";
        }
        auto* name = new std::string(base / "fuzz_settings.XXXXXX");
        if (::mkdtemp(name->data()) == nullptr) {
            std::abort();
        }
        std::atexit([] { std::filesystem::remove_all(Folder()); });
        return name;
    }();
    return *folder;
}

bool Usable(const std::string& text) {
    return text.size() <= qv::kMaxSettingText && text.find('\0') == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static unsigned long inputs = 0;
    const std::string path = Folder() + "/" + std::to_string(inputs++) + ".ini";
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }

    const qv::Settings first = qv::SettingsStore(path).Load();
    Check(first.scale >= 0 && first.scale <= 2);
    Check(first.quality >= 0 && first.quality <= 2);
    Check(first.hideKeyBtn == 0 || first.hideKeyBtn == 1);
    Check(first.LinkMethod() >= 1 && first.LinkMethod() <= 3);
    Check(Usable(first.ip) && Usable(first.ipv6));

    const qv::Settings second = qv::SettingsStore(path).Load();
    Check(second.keyExisted == first.keyExisted && second.method == first.method &&
          second.scale == first.scale && second.quality == first.quality &&
          second.hideKeyBtn == first.hideKeyBtn && second.ip == first.ip &&
          second.ipv6 == first.ipv6);

    std::filesystem::remove(path);
    return 0;
}
