#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "core/dsp.h"

namespace ferrowick
{

// A model as the audio thread receives it: the model and the loudness gain that belongs to it,
// taken over together so that no block plays a model with another model's gain.
struct LoadedModel
{
    std::shared_ptr<kep::DSP> model;
    float loudnessGain = 1.0f;
    // Set by the audio thread when the model threw; it is not called again.
    std::atomic<bool> faulted{false};
};

// The pending and active model slots of one catalogue entry, shared between the loading threads
// (message thread, host threads, the constructing thread) and the audio thread.
//
// How it stays safe without the audio thread ever waiting, allocating or freeing:
// - Every LoadedModel is owned by `owned`, which only loading threads touch (under ownersLock).
//   The slots hold plain pointers into it.
// - publish() appends the new model to `owned` and swaps it into PendingModel.
// - The audio thread's takeOver() announces the pending pointer in `hazard`, checks that it is
//   still pending, stores it in ActiveModel and then clears PendingModel (unless a newer model
//   was published meanwhile: that one is taken at the next block). A model is thus taken over
//   whole and once, and is always in PendingModel, in ActiveModel or announced in `hazard`
//   while the audio thread may still reach it.
// - collect(), on a loading thread, frees the models that are in none of the three, reading
//   them in the order PendingModel, hazard, ActiveModel. A model that the audio thread replaced
//   in ActiveModel is no longer used: the audio thread swaps models only between blocks.
// Models left behind by the audio thread are freed at the next publish() or collect(), or with
// the slots themselves.
class ModelSlots
{
public:
    ModelSlots() = default;
    ModelSlots(const ModelSlots&) = delete;
    ModelSlots& operator=(const ModelSlots&) = delete;

    // Loading side. Makes model the pending model; a model still pending is dropped.
    void publish(std::shared_ptr<kep::DSP> model, float loudnessGain)
    {
        std::lock_guard<std::mutex> lock(ownersLock);
        auto loaded = std::make_unique<LoadedModel>();
        loaded->model = std::move(model);
        loaded->loudnessGain = loudnessGain;
        owned.push_back(std::move(loaded));
        PendingModel.store(owned.back().get());
        collectLocked();
    }

    // Loading side. Frees the models that the audio thread can no longer reach.
    void collect()
    {
        std::lock_guard<std::mutex> lock(ownersLock);
        collectLocked();
    }

    // Loading side: how many models the slots keep alive (for tests).
    size_t ownedCount()
    {
        std::lock_guard<std::mutex> lock(ownersLock);
        return owned.size();
    }

    // Audio side, once per block before the first chunk: moves a pending model into the active
    // slot. Returns the active model, or nullptr when there is none. Never blocks or allocates.
    LoadedModel* takeOver()
    {
        for (int attempt = 0; attempt < 4; attempt++)
        {
            LoadedModel* pending = PendingModel.load();
            if (pending == nullptr)
                break;
            hazard.store(pending);
            if (PendingModel.load() != pending)
                continue; // replaced meanwhile: try the newer one
            ActiveModel.store(pending);
            PendingModel.compare_exchange_strong(pending, nullptr);
            break;
        }
        hazard.store(nullptr);
        return ActiveModel.load();
    }

    // Audio side: the active model without taking anything over.
    LoadedModel* active() const { return ActiveModel.load(); }

    std::atomic<LoadedModel*> PendingModel{nullptr};
    std::atomic<LoadedModel*> ActiveModel{nullptr};

private:
    void collectLocked()
    {
        const LoadedModel* pending = PendingModel.load();
        const LoadedModel* announced = hazard.load();
        const LoadedModel* active = ActiveModel.load();
        std::erase_if(owned, [&](const std::unique_ptr<LoadedModel>& m) {
            return m.get() != pending && m.get() != announced && m.get() != active;
        });
    }

    std::atomic<LoadedModel*> hazard{nullptr};
    std::mutex ownersLock;
    std::vector<std::unique_ptr<LoadedModel>> owned;
};

} // namespace ferrowick
