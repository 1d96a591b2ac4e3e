// Fuzz target: "Settings.json" through the settings load, then the record written back as text.
#include "fuzz_support.h"
#include "plugin/PluginSettings.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz_support::workDir();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz_support::writeFile(fuzz_support::resourceDir() / "Settings.json", data, size);
    PluginSettings::Set(PluginSettings {});
    PluginSettings::Load();
    (void)PluginSettings::ToJson();
    return 0;
}
