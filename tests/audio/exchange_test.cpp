#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "alloc_counter.h"
#include "audio/EntryExchange.h"
#include "audio/ModelSlots.h"

using namespace ferrowick;

namespace
{

// A model that knows whether it is still alive and counts its instances, so that a use after
// free or a leak shows up even without a sanitizer.
class TracedModel : public kep::DSP
{
public:
    explicit TracedModel(float value_) : DSP(48000.0), value(value_) { live++; }
    ~TracedModel() override
    {
        magic = 0;
        live--;
    }
    void process(float*, float* output, int n) override
    {
        EXPECT_EQ(magic, alive_magic) << "a freed model was used";
        for (int i = 0; i < n; i++)
            output[i] = value;
    }
    static constexpr unsigned alive_magic = 0xC0FFEEu;
    static std::atomic<int> live;
    unsigned magic = alive_magic;
    float value;
};
std::atomic<int> TracedModel::live{0};

struct Entry
{
    explicit Entry(int id_) : id(id_) { live++; }
    ~Entry()
    {
        id = -1;
        live--;
    }
    int id;
    ModelSlots slots;
    static std::atomic<int> live;
};
std::atomic<int> Entry::live{0};

} // namespace

TEST(ModelSlots, HandsOverOnceAndKeepsTheActiveModelUntilReplaced)
{
    ModelSlots slots;
    EXPECT_EQ(slots.takeOver(), nullptr);

    slots.publish(std::make_shared<TracedModel>(1.0f), 0.5f);
    EXPECT_EQ(slots.active(), nullptr); // pending until the audio side takes it
    const LoadedModel* first = slots.takeOver();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->loudnessGain, 0.5f);
    EXPECT_EQ(slots.PendingModel.load(), nullptr);
    EXPECT_EQ(slots.takeOver(), first); // nothing new: the same model stays active

    // Two publishes before a block: the first is dropped untaken, the second is taken.
    slots.publish(std::make_shared<TracedModel>(2.0f), 1.0f);
    slots.publish(std::make_shared<TracedModel>(3.0f), 2.0f);
    EXPECT_EQ(slots.ownedCount(), 2u); // the active one and the newest pending one
    const LoadedModel* third = slots.takeOver();
    EXPECT_EQ(static_cast<TracedModel&>(*third->model).value, 3.0f);
    EXPECT_EQ(third->loudnessGain, 2.0f);

    // The replaced active model is freed on the loading side, not by takeOver().
    EXPECT_EQ(TracedModel::live.load(), 2);
    slots.collect();
    EXPECT_EQ(slots.ownedCount(), 1u);
    EXPECT_EQ(TracedModel::live.load(), 1);
}

TEST(ModelSlots, AudioSideNeverAllocatesOrFrees)
{
    if (!alloc_counter::enabled())
        GTEST_SKIP() << "allocation counting is off under sanitizers";
    EntryExchange<Entry> exchange;
    exchange.publish(std::make_shared<Entry>(1));
    float out[8];
    for (int round = 0; round < 50; round++)
    {
        if (round % 10 == 0)
            exchange.publish(std::make_shared<Entry>(round));
        exchange.get()->slots.publish(std::make_shared<TracedModel>(static_cast<float>(round)), 1.0f);
        alloc_counter::Scope scope;
        Entry* e = exchange.beginBlock();
        ASSERT_NE(e, nullptr);
        const LoadedModel* m = e->slots.takeOver();
        ASSERT_NE(m, nullptr);
        float in[8] = {};
        m->model->process(in, out, 8);
        exchange.endBlock();
        EXPECT_EQ(scope.counts().allocations, 0u);
        EXPECT_EQ(scope.counts().deallocations, 0u);
    }
}

TEST(EntryExchange, ReplacedEntryLivesWhileTheAudioSideUsesIt)
{
    const int before = Entry::live.load();
    {
        EntryExchange<Entry> exchange;
        exchange.publish(std::make_shared<Entry>(1));
        Entry* inBlock = exchange.beginBlock();
        ASSERT_EQ(inBlock->id, 1);

        exchange.publish(std::make_shared<Entry>(2)); // replaced during the block
        EXPECT_EQ(exchange.retiredCount(), 1u);
        EXPECT_EQ(inBlock->id, 1); // still alive
        exchange.endBlock();

        exchange.collect();
        EXPECT_EQ(exchange.retiredCount(), 0u);
        EXPECT_EQ(Entry::live.load(), before + 1);
        EXPECT_EQ(exchange.beginBlock()->id, 2);
        exchange.endBlock();
    }
    EXPECT_EQ(Entry::live.load(), before);
}

// One thread plays blocks while another replaces entries and publishes models as fast as it
// can. Run under ThreadSanitizer and AddressSanitizer in CI; the checks here catch the rest.
TEST(Exchange, ConcurrentSwitchingWhileAudioRuns)
{
    const int entriesBefore = Entry::live.load();
    const int modelsBefore = TracedModel::live.load();
    {
        EntryExchange<Entry> exchange;
        exchange.publish(std::make_shared<Entry>(0));
        std::atomic<bool> stop{false};
        std::atomic<long> blocksWithModel{0};

        std::thread audio([&] {
            float in[64] = {}, out[64];
            while (!stop.load(std::memory_order_relaxed))
            {
                Entry* e = exchange.beginBlock();
                if (e != nullptr)
                {
                    EXPECT_GE(e->id, 0) << "a freed entry was used";
                    if (const LoadedModel* m = e->slots.takeOver())
                    {
                        m->model->process(in, out, 64);
                        EXPECT_EQ(out[0], static_cast<const TracedModel&>(*m->model).value);
                        blocksWithModel++;
                    }
                }
                exchange.endBlock();
            }
        });

        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
        int round = 0;
        while (std::chrono::steady_clock::now() < deadline || blocksWithModel.load() < 100)
        {
            round++;
            if (round % 7 == 0)
                exchange.publish(std::make_shared<Entry>(round));
            exchange.get()->slots.publish(std::make_shared<TracedModel>(static_cast<float>(round)), 1.0f);
            if (round % 3 == 0)
                std::this_thread::yield();
            if (round > 2000000)
                break;
        }
        stop = true;
        audio.join();
        EXPECT_GT(blocksWithModel.load(), 0);
        exchange.collect();
        EXPECT_EQ(exchange.retiredCount(), 0u);
    }
    EXPECT_EQ(Entry::live.load(), entriesBefore);
    EXPECT_EQ(TracedModel::live.load(), modelsBefore);
}
