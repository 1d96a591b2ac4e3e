// Fuzz target: state bytes through the framework's VST3 wrapper, compiled in as the bundle
// compiles it, the way a host hands back a project: IComponent::setState, blocks of audio (one
// longer than prepared for, one with a negative count), getState, then the edit controller's
// setComponentState and setState. The first byte picks how the host's stream behaves (whether it
// tells its size, how many bytes a read returns); the rest is the state. The catalogue holds the
// test catalogue's LinearClean folder.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <pluginterfaces/base/ibstream.h>
#include <pluginterfaces/base/ipluginbase.h>
#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>

#include "fuzz_support.h"

using namespace Steinberg;

extern "C" IPluginFactory* PLUGIN_API GetPluginFactory();

namespace
{
// A host's stream over bytes: with or without its size, at most `chunk` bytes a read.
class Stream : public IBStream, public ISizeableStream
{
public:
    Stream(const uint8_t* data, size_t size, bool sizeable, int32 chunk)
        : bytes(data, data + size), sizeable(sizeable), chunk(chunk)
    {
    }
    virtual ~Stream() = default;

    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override
    {
        if (FUnknownPrivate::iidEqual(iid, IBStream::iid) || FUnknownPrivate::iidEqual(iid, FUnknown::iid))
        {
            *obj = static_cast<IBStream*>(this);
            addRef();
            return kResultOk;
        }
        if (sizeable && FUnknownPrivate::iidEqual(iid, ISizeableStream::iid))
        {
            *obj = static_cast<ISizeableStream*>(this);
            addRef();
            return kResultOk;
        }
        *obj = nullptr;
        return kNoInterface;
    }
    // Lives on the caller's stack: counting references is all that is asked of it.
    uint32 PLUGIN_API addRef() override { return ++references; }
    uint32 PLUGIN_API release() override { return --references; }

    tresult PLUGIN_API read(void* buffer, int32 numBytes, int32* numBytesRead) override
    {
        const auto n = std::clamp<int64>(std::min<int64>(numBytes, chunk), 0, static_cast<int64>(bytes.size()) - position);
        std::copy_n(bytes.begin() + position, n, static_cast<uint8_t*>(buffer));
        position += n;
        if (numBytesRead != nullptr)
            *numBytesRead = static_cast<int32>(n);
        return kResultOk;
    }
    tresult PLUGIN_API write(void* buffer, int32 numBytes, int32* numBytesWritten) override
    {
        const auto* first = static_cast<const uint8_t*>(buffer);
        bytes.erase(bytes.begin() + position, bytes.end());
        bytes.insert(bytes.end(), first, first + std::max(numBytes, 0));
        position = static_cast<int64>(bytes.size());
        if (numBytesWritten != nullptr)
            *numBytesWritten = std::max(numBytes, 0);
        return kResultOk;
    }
    tresult PLUGIN_API seek(int64 pos, int32 mode, int64* result) override
    {
        const int64 base = mode == kIBSeekSet ? 0 : mode == kIBSeekCur ? position : static_cast<int64>(bytes.size());
        if (pos + base < 0 || pos + base > static_cast<int64>(bytes.size()))
            return kResultFalse;
        position = pos + base;
        if (result != nullptr)
            *result = position;
        return kResultTrue;
    }
    tresult PLUGIN_API tell(int64* pos) override
    {
        if (pos == nullptr)
            return kInvalidArgument;
        *pos = position;
        return kResultOk;
    }
    tresult PLUGIN_API getStreamSize(int64& size) override
    {
        size = static_cast<int64>(bytes.size());
        return kResultOk;
    }
    tresult PLUGIN_API setStreamSize(int64) override { return kNotImplemented; }

private:
    std::vector<uint8_t> bytes;
    int64 position = 0;
    bool sizeable;
    int32 chunk;
    uint32 references = 1;
};

struct Plugin
{
    Vst::IComponent* component = nullptr;
    Vst::IAudioProcessor* processor = nullptr;
    Vst::IEditController* controller = nullptr;
};

Plugin& plugin()
{
    static Plugin* const instance = [] {
        auto* made = new Plugin();
        IPluginFactory* factory = GetPluginFactory();
        for (int32 i = 0; i < factory->countClasses(); ++i)
        {
            PClassInfo info;
            factory->getClassInfo(i, &info);
            if (std::strcmp(info.category, kVstAudioEffectClass) == 0)
                factory->createInstance(info.cid, Vst::IComponent::iid, reinterpret_cast<void**>(&made->component));
            else if (std::strcmp(info.category, kVstComponentControllerClass) == 0)
                factory->createInstance(info.cid, Vst::IEditController::iid, reinterpret_cast<void**>(&made->controller));
        }
        if (made->component == nullptr || made->controller == nullptr
            || made->component->initialize(nullptr) != kResultOk || made->controller->initialize(nullptr) != kResultOk
            || made->component->queryInterface(Vst::IAudioProcessor::iid, reinterpret_cast<void**>(&made->processor))
                   != kResultOk)
            std::abort();
        Vst::ProcessSetup setup { Vst::kRealtime, Vst::kSample32, 64, 96000.0 };
        made->processor->setupProcessing(setup);
        made->component->setActive(true);
        made->processor->setProcessing(true);
        return made;
    }();
    return *instance;
}

// A block of `samples` on an instance prepared for 64: hosts may hand over more, or a count below 0.
void playOneBlock(Vst::IAudioProcessor& processor, int32 samples = 64)
{
    std::vector<float> left(1000), right(1000);
    for (size_t i = 0; i < left.size(); i++)
        left[i] = right[i] = 0.3f * static_cast<float>(i % 16) / 16.0f;
    float* channels[] = { left.data(), right.data() };
    Vst::AudioBusBuffers in, out;
    in.numChannels = out.numChannels = 2;
    in.channelBuffers32 = out.channelBuffers32 = channels;
    Vst::ProcessData data;
    data.processMode = Vst::kRealtime;
    data.symbolicSampleSize = Vst::kSample32;
    data.numSamples = samples;
    data.numInputs = data.numOutputs = 1;
    data.inputs = &in;
    data.outputs = &out;
    processor.process(data);
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const std::string command = "python3 \"" FERROWICK_SOURCE_DIR "/tools/make_catalogue.py\" \""
                                + fuzz_support::resourceDir().string() + "\" --only LinearClean";
    if (std::system(command.c_str()) != 0)
        std::abort();
    // No display: the wrapper's message thread then opens none.
    ::setenv("DISPLAY", ":headless", 1);
    plugin();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 64 * 1024 * 1024)
        return 0;
    const bool sizeable = (data[0] & 1) != 0;
    const int32 chunks[] = { 1 << 30, 1, 7, 4096 };
    const int32 chunk = chunks[(data[0] >> 1) & 3];
    auto& loaded = plugin();

    Stream state(data + 1, size - 1, sizeable, chunk);
    loaded.component->setState(&state);
    playOneBlock(*loaded.processor);
    playOneBlock(*loaded.processor, 1000);
    playOneBlock(*loaded.processor, -1);
    Stream saved(nullptr, 0, true, 1 << 30);
    loaded.component->getState(&saved);

    Stream again(data + 1, size - 1, sizeable, chunk);
    loaded.controller->setComponentState(&again);
    again.seek(0, IBStream::kIBSeekSet, nullptr);
    loaded.controller->setState(&again);
    return 0;
}
