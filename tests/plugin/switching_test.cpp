// Model and snapshot switching seen from the audio path: hand-off of pending models, silence
// after a model change, missing and broken model files, file names and loudness gains, and
// models that throw while they play.

#include <memory>

#include "audio_reference.h"

namespace
{
using namespace proc_testing;
using Switching = CatalogueHome;

// A stream-wise Linear model for the reference path; `reset` starts a new model instance.
struct ReferenceModel
{
    std::shared_ptr<reference::LinearModel> linear = std::make_shared<reference::LinearModel>();

    void use(reference::Path& path, std::vector<float> taps, float loudness)
    {
        linear = std::make_shared<reference::LinearModel>();
        linear->w = std::move(taps);
        auto model = linear;
        path.model = [model](float x) { return model->step(x); };
        path.loudness = reference::loudnessGain(loudness);
    }
};

const std::vector<float> tapsA = { 0.5f, 0.25f };
const std::vector<float> tapsB = { -0.8f, 0.2f, 0.1f };

TEST_F(Switching, SnapshotChangeTakesOverAtTheNextBlockWholeAndOnce)
{
    writeFolder("Two", "Lowpass=true\n", 2,
                { { 0, linearModelFile(tapsA, -10.0) }, { 1, linearModelFile(tapsB, -4.0) } }, true);
    CorvaneAudioProcessor processor;
    reference::Path path;
    path.tones.lowpass = true;
    takeGains(path, processor);
    ReferenceModel ref;
    ref.use(path, tapsA, -10.0f);
    auto& entry = *processor.modelSource;

    auto* first = entry.PendingModel.load();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(entry.ActiveModel.load(), nullptr);
    auto x = signal(1000);
    EXPECT_TRUE(near(channel(run(processor, x), 0), path.process(x)));
    EXPECT_EQ(entry.ActiveModel.load(), first);
    EXPECT_EQ(entry.PendingModel.load(), nullptr);

    // The new snapshot waits in the pending slot; the old model plays until the next block.
    processor.setProgram(1);
    auto* second = entry.PendingModel.load();
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_EQ(entry.ActiveModel.load(), first);
    EXPECT_NEAR(entry.LoudnessGain, reference::loudnessGain(-4.0f), 1e-7f);
    EXPECT_EQ(processor.modelPicture->getWidth(), 3);

    // The next block plays the new model from its first chunk, with its own loudness gain, while
    // the filters carry on.
    ref.use(path, tapsB, -4.0f);
    x = signal(700, 0.3f, 1000);
    EXPECT_TRUE(near(channel(run(processor, x), 0), path.process(x)));
    EXPECT_EQ(entry.ActiveModel.load(), second);
    EXPECT_EQ(entry.PendingModel.load(), nullptr);
    EXPECT_EQ(second->loudnessGain, entry.LoudnessGain);

    // Taken once: later blocks keep it (and its history).
    x = signal(300, 0.3f, 1700);
    EXPECT_TRUE(near(channel(run(processor, x), 0), path.process(x)));
    EXPECT_EQ(entry.ActiveModel.load(), second);

    // Two loads between blocks: only the last one is played, from a fresh model.
    processor.setProgram(0);
    processor.setProgram(1);
    auto* last = entry.PendingModel.load();
    ref.use(path, tapsB, -4.0f);
    x = signal(500, 0.3f, 2000);
    EXPECT_TRUE(near(channel(run(processor, x), 0), path.process(x)));
    EXPECT_EQ(entry.ActiveModel.load(), last);
}

TEST_F(Switching, ModelChangeIsSilentUntilItsFirstModel)
{
    writeFolder("A", "", 1, { { 0, linearModelFile(tapsA, -10.0) } });
    writeFolder("B", "GainAdjust=3\n", 3, { { 1, linearModelFile(tapsB, -16.0) } });
    startWith("A", 0);
    CorvaneAudioProcessor processor;
    ASSERT_EQ(processor.modelSource->ModelId, "A");
    reference::Path path;
    takeGains(path, processor);
    ReferenceModel ref;
    ref.use(path, tapsA, -10.0f);
    auto x = signal(600);
    EXPECT_TRUE(near(channel(run(processor, x), 0), path.process(x)));

    // Snapshot 0 of B has no model file: the new entry has no model and the path is silent.
    processor.setModel("B", 0);
    EXPECT_EQ(processor.modelSource->ModelId, "B");
    EXPECT_EQ(processor.modelSource->ProgramIndex, -1);
    EXPECT_EQ(processor.modelSource->PendingModel.load(), nullptr);
    EXPECT_EQ(processor.modelSource->ActiveModel.load(), nullptr);
    auto out = run(processor, signal(600, 0.3f, 600));
    EXPECT_TRUE(allZero(channel(out, 0)));
    EXPECT_TRUE(allZero(channel(out, 1)));

    // Its first model plays from the next block; the silent block left the filters alone.
    processor.setProgram(1);
    ref.use(path, tapsB, -16.0f);
    path.gainAdjustDb = 3.0f;
    x = signal(900, 0.3f, 1200);
    EXPECT_TRUE(near(channel(run(processor, x), 0), path.process(x)));

    // An index outside the new table installs the entry and loads nothing.
    processor.setModel("A", 5);
    EXPECT_EQ(processor.modelSource->ModelId, "A");
    EXPECT_EQ(processor.modelSource->ProgramIndex, -1);
    EXPECT_TRUE(allZero(channel(run(processor, signal(300)), 0)));

    // A model change with a loadable snapshot plays it from the next block.
    processor.setModel("A", 0);
    ref.use(path, tapsA, -10.0f);
    path.gainAdjustDb = 0.0f;
    x = signal(400, 0.3f, 2100);
    EXPECT_TRUE(near(channel(run(processor, x), 0), path.process(x)));
}

TEST_F(Switching, MissingModelFileKeepsThePlayingModelItsRowAndPicture)
{
    writeFolder("Gap", "", 3, { { 0, linearModelFile(tapsA, -16.0) }, { 2, linearModelFile(tapsB, -4.0) } }, true);
    CorvaneAudioProcessor processor;
    reference::Path path;
    takeGains(path, processor);
    ReferenceModel ref;
    ref.use(path, tapsA, -16.0f);
    auto x = signal(500);
    EXPECT_TRUE(near(channel(run(processor, x), 0), path.process(x)));
    auto* playing = processor.modelSource->ActiveModel.load();
    EXPECT_EQ(processor.modelPicture->getWidth(), 2);

    processor.setProgram(1);
    EXPECT_EQ(processor.modelSource->ProgramIndex, 0);
    EXPECT_EQ(processor.modelSource->PendingModel.load(), nullptr);
    EXPECT_EQ(processor.modelSource->ActiveModel.load(), playing);
    EXPECT_NEAR(processor.modelSource->LoudnessGain, reference::loudnessGain(-16.0f), 1e-7f);
    EXPECT_EQ(processor.modelPicture->getWidth(), 2);
    EXPECT_FALSE(processor.modelLoadError.isEmpty());

    // The same model instance plays on, its history intact.
    x = signal(500, 0.3f, 500);
    EXPECT_TRUE(near(channel(run(processor, x), 0), path.process(x)));
    EXPECT_EQ(processor.modelSource->ActiveModel.load(), playing);
}

TEST_F(Switching, FolderWhoseModelIdDiffersFromItsNameShowsItsTableButPlaysNothing)
{
    // The snapshots' files are looked up under "ModelId", which names no folder here.
    writeFolder("Mine", "ModelId=Elsewhere\n", 2,
                { { 0, linearModelFile(tapsA, -10.0) }, { 1, linearModelFile(tapsB, -10.0) } }, true);
    startWith("Mine", 0);
    CorvaneAudioProcessor processor;
    EXPECT_EQ(processor.modelSource->ModelId, "Elsewhere");
    EXPECT_EQ(processor.modelSource->getNumRows(), 2);
    for (int row : { 0, 1 })
    {
        processor.setProgram(row);
        EXPECT_EQ(processor.modelSource->ProgramIndex, -1);
        EXPECT_TRUE(processor.currentPicture().isNull());
        EXPECT_TRUE(allZero(channel(run(processor, signal(300)), 0)));
    }
}

TEST_F(Switching, ReplacedModelsAreFreedOnTheMessageThreadWithoutAnotherSwitch)
{
    writeFolder("Two", "", 2, { { 0, linearModelFile(tapsA, -10.0) }, { 1, linearModelFile(tapsB, -4.0) } });
    writeFolder("Next", "", 1, { { 0, linearModelFile(tapsA, -10.0) } });
    CorvaneAudioProcessor processor;
    processor.setModel("Two", 0);
    run(processor, signal(300));
    const std::weak_ptr<kep::DSP> first = processor.modelSource->ActiveModel.load()->model;

    // The audio thread lets the first model go when it takes the second over; it frees nothing.
    processor.setProgram(1);
    run(processor, signal(300));
    run(processor, signal(300));
    ASSERT_FALSE(first.expired());
    EXPECT_TRUE(plugin_testing::pumpMessagesUntil([&] { return first.expired(); }, 1000));
    EXPECT_EQ(processor.modelSource->ownedCount(), 1u);

    // The same after a model change: the old entry goes with its models.
    const std::weak_ptr<kep::DSP> second = processor.modelSource->ActiveModel.load()->model;
    processor.setModel("Next", 0);
    run(processor, signal(300));
    EXPECT_TRUE(plugin_testing::pumpMessagesUntil([&] { return second.expired(); }, 1000));
}

TEST_F(Switching, SnapshotFilesArePaddedToThreeDigits)
{
    writeFolder("Pad", "", 43, { { 7, linearModelFile({ 1.0f }, -4.0) }, { 42, linearModelFile({ 1.0f }, 0.0) } });
    // Decoys under names without or with more padding.
    writeResource("Models/Pad/models/7.kep", linearModelFile({ 1.0f }, -16.0));
    writeResource("Models/Pad/models/0007.kep", linearModelFile({ 1.0f }, -30.0));
    writeResource("Models/Pad/models/42.kep", linearModelFile({ 1.0f }, -16.0));
    writePicture("Pad", "007", 9);
    writePicture("Pad", "7", 5);
    CorvaneAudioProcessor processor;

    processor.setProgram(7);
    ASSERT_NE(processor.modelSource->PendingModel.load(), nullptr);
    EXPECT_NEAR(processor.modelSource->LoudnessGain, reference::loudnessGain(-4.0f), 1e-7f);
    EXPECT_EQ(processor.modelPicture->getWidth(), 9);
    processor.setProgram(42);
    EXPECT_NEAR(processor.modelSource->LoudnessGain, reference::loudnessGain(0.0f), 1e-7f);
    EXPECT_EQ(processor.modelPicture->getWidth(), 1); // no 042 picture: blank
}

TEST_F(Switching, LoudnessGainComesFromTheModelFileAndTravelsWithTheModel)
{
    const std::vector<std::pair<const char*, float>> cases = {
        { "-10", 1.0f },
        { "-16", 1.99526231f },
        { "-4", 0.501187234f },
        { "-10.0", 1.0f },
        { "12.5", std::pow(10.0f, -1.125f) },
    };
    std::vector<std::pair<int, juce::String>> files;
    for (size_t i = 0; i < cases.size(); ++i)
    {
        auto text = linearModelFile({ 1.0f }, 0.0);
        text = text.replace("\"loudness\": 0.000000", juce::String("\"loudness\": ") + cases[i].first);
        files.push_back({ static_cast<int>(i) + 1, text });
    }
    writeFolder("Loud", "", static_cast<int>(cases.size()) + 1, files);
    CorvaneAudioProcessor processor;
    EXPECT_EQ(processor.modelSource->LoudnessGain, 1.0f); // row 0 has no file

    for (size_t i = 0; i < cases.size(); ++i)
    {
        SCOPED_TRACE(cases[i].first);
        processor.setProgram(static_cast<int>(i) + 1);
        EXPECT_TRUE(processor.modelLoadError.isEmpty()) << processor.modelLoadError;
        auto* pending = processor.modelSource->PendingModel.load();
        ASSERT_NE(pending, nullptr);
        EXPECT_NEAR(processor.modelSource->LoudnessGain, cases[i].second, 1e-6f * cases[i].second);
        EXPECT_EQ(pending->loudnessGain, processor.modelSource->LoudnessGain);
    }
    EXPECT_EQ(reference::loudnessGain(-10.0f), 1.0f);

    // The audio path applies the gain that came with the model it plays, even when the entry's
    // mirror says something else by now.
    processor.setProgram(2); // -16
    processor.modelSource->LoudnessGain = 123.0f;
    reference::Path path;
    takeGains(path, processor);
    path.model = [](float x) { return x; };
    path.loudness = reference::loudnessGain(-16.0f);
    const auto x = signal(300, 0.1f);
    EXPECT_TRUE(near(channel(run(processor, x), 0), path.process(x)));
}

TEST_F(Switching, FailedLoadsKeepEverythingAndNeverEscape)
{
    const char* head = R"({"version": "0.5.0", "architecture": "Linear", "config": {"receptive_field": 1, "bias": false}, )";
    const std::vector<juce::String> broken = {
        juce::String(head) + R"("metadata": {"loudness": -10}})",                          // no weights
        juce::String(R"({"version": "0.4.1", "architecture": "Linear", "config": {"receptive_field": 1, "bias": false}, "weights": [1.0], "metadata": {"loudness": -10}})"),
        juce::String(R"({"version": "1.5.0", "architecture": "Linear", "config": {"receptive_field": 1, "bias": false}, "weights": [1.0], "metadata": {"loudness": -10}})"),
        juce::String(head) + R"("weights": [1.0, 2.0], "metadata": {"loudness": -10}})",   // wrong weight count
        juce::String(R"({"version": "0.5.0", "architecture": "Tube", "config": {}, "weights": [1.0], "metadata": {"loudness": -10}})"),
        juce::String(head) + R"("weights": [1.0], "metadata": {"gain": -10}})",             // no loudness
        juce::String(head) + R"("weights": [1.0], "metadata": {"loudness": null}})",
        juce::String(head) + R"("weights": [1.0], "metadata": {"loudness": "-10"}})",
        juce::String(head) + R"("weights": [1.0], "metadata": {"loudness": [-10]}})",
        juce::String(head) + R"("weights": [1.0], "metadata": {"loudness": true}})",       // the factory takes numbers only
        juce::String(head) + R"("weights": [1.0], "metadata": {"loudness": {"value": -10}}})",
        juce::String(head) + R"("weights": [1.0]})",                                       // no metadata
        juce::String(head) + R"("weights": [1.0], "metadata": 3})",
        juce::String(head) + R"("weights": [1.0], "metadata": [-10]})",
        juce::String("{\"version\": "),                                                    // not JSON
        juce::String(),                                                                      // empty file
    };
    std::vector<std::pair<int, juce::String>> files { { 0, linearModelFile(tapsA, -16.0) } };
    for (size_t i = 0; i < broken.size(); ++i)
        files.push_back({ static_cast<int>(i) + 1, broken[i] });
    const int rows = static_cast<int>(broken.size()) + 1;
    writeFolder("Bad", "", rows, files, true);

    CorvaneAudioProcessor processor;
    reference::Path path;
    takeGains(path, processor);
    ReferenceModel ref;
    ref.use(path, tapsA, -16.0f);
    auto x = signal(400);
    EXPECT_TRUE(near(channel(run(processor, x), 0), path.process(x)));
    auto* playing = processor.modelSource->ActiveModel.load();
    auto* picture = processor.modelPicture.get();
    size_t offset = x.size();

    for (int row = 1; row < rows; ++row)
    {
        SCOPED_TRACE(broken[static_cast<size_t>(row - 1)]);
        EXPECT_NO_THROW(processor.setProgram(row));
        EXPECT_EQ(processor.modelSource->ProgramIndex, 0);
        EXPECT_FALSE(processor.modelLoadError.isEmpty());
        EXPECT_EQ(processor.modelSource->PendingModel.load(), nullptr);
        EXPECT_EQ(processor.modelSource->ActiveModel.load(), playing);
        EXPECT_NEAR(processor.modelSource->LoudnessGain, reference::loudnessGain(-16.0f), 1e-7f);
        EXPECT_EQ(processor.modelPicture.get(), picture);

        x = signal(200, 0.3f, offset);
        offset += x.size();
        EXPECT_TRUE(near(channel(run(processor, x), 0), path.process(x)));
    }

    // A good file loads again afterwards, and the error is cleared.
    processor.setModel("Bad", 0);
    EXPECT_NE(processor.modelSource->PendingModel.load(), nullptr);
    EXPECT_TRUE(processor.modelLoadError.isEmpty());

    // Through setModel: the new entry is in place, without models or a current row.
    for (int row = 1; row < rows; ++row)
    {
        EXPECT_NO_THROW(processor.setModel("Bad", row));
        EXPECT_EQ(processor.modelSource->ProgramIndex, -1);
        EXPECT_EQ(processor.modelSource->PendingModel.load(), nullptr);
        EXPECT_TRUE(allZero(channel(run(processor, signal(100)), 0)));
    }

    // Through the host state and the constructor.
    juce::MemoryBlock state;
    processor.getStateInformation(state);
    auto xml = juce::AudioProcessor::getXmlFromBinary(state.getData(), static_cast<int>(state.getSize()));
    ASSERT_NE(xml, nullptr);
    xml->getChildByName("ProgramIndex")->getFirstChildElement()->setText(juce::String(rows - 1));
    juce::AudioProcessor::copyXmlToBinary(*xml, state);
    CorvaneAudioProcessor other;
    EXPECT_NO_THROW(other.setStateInformation(state.getData(), static_cast<int>(state.getSize())));
    EXPECT_EQ(other.modelSource->ModelId, "Bad");
    EXPECT_EQ(other.modelSource->ProgramIndex, -1);
    EXPECT_EQ(other.modelSource->PendingModel.load(), nullptr);
    for (int row : { 1, 6, 15 })
    {
        startWith("Bad", row);
        std::unique_ptr<CorvaneAudioProcessor> constructed;
        EXPECT_NO_THROW(constructed = std::make_unique<CorvaneAudioProcessor>()) << row;
        ASSERT_NE(constructed, nullptr);
        EXPECT_EQ(constructed->modelSource->ModelId, "Bad");
        EXPECT_EQ(constructed->modelSource->PendingModel.load(), nullptr);
        EXPECT_FALSE(constructed->modelLoadError.isEmpty());
    }
}

TEST_F(Switching, ThrowingModelGivesSilenceAndIsNotRunAgainUntilAReset)
{
    writeFolder("Good", "", 2, { { 1, linearModelFile(tapsB, -10.0) } });
    for (const double rate : { 48000.0, 96000.0 })
    {
        SCOPED_TRACE(rate);
        CorvaneAudioProcessor processor;
        processor.prepareToPlay(rate, 1024);
        auto thrower = std::make_shared<RecordingModel>(1.0f);
        thrower->throwAtCall = 2; // the third chunk of the first block
        processor.modelSource->publish(thrower, 1.0f);

        juce::AudioBuffer<float> buffer;
        EXPECT_NO_THROW(buffer = run(processor, signal(1000)));
        EXPECT_TRUE(allZero(channel(buffer, 0)));
        EXPECT_TRUE(allZero(channel(buffer, 1)));
        EXPECT_EQ(thrower->calls.size(), 3u);

        // Later blocks stay silent without calling the model again.
        EXPECT_TRUE(allZero(channel(run(processor, signal(700)), 0)));
        EXPECT_EQ(thrower->calls.size(), 3u);

        // A reset lets it play again, as it would in a fresh instance.
        processor.reset();
        EXPECT_FALSE(allZero(channel(run(processor, signal(700)), 0)));
        EXPECT_EQ(thrower->calls.size(), 6u);

        // A newly loaded model plays.
        processor.setProgram(1);
        const auto out = channel(run(processor, signal(700)), 0);
        EXPECT_FALSE(allZero(out));
        EXPECT_EQ(channel(run(processor, signal(700)), 0).size(), 700u);

        // A model that throws on its very first call.
        auto early = std::make_shared<RecordingModel>(1.0f);
        early->throwAtCall = 0;
        processor.modelSource->publish(early, 1.0f);
        EXPECT_NO_THROW(buffer = run(processor, signal(300)));
        EXPECT_TRUE(allZero(channel(buffer, 0)));
        EXPECT_EQ(early->calls.size(), 1u);

        // And the model of a new entry plays again.
        processor.setModel("Good", 1);
        EXPECT_FALSE(allZero(channel(run(processor, signal(300)), 0)));
    }
}

} // namespace
