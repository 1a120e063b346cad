#include "graph_quantum_watch.h"

#include <pulse/pulseaudio.h>

#include <cstdio>

namespace vindelor {

namespace {

void release(pa_operation* operation) {
    if (operation != nullptr) {
        pa_operation_unref(operation);
    }
}

// A list still being read calls back no more.
void drop(pa_operation*& operation) {
    if (operation != nullptr) {
        pa_operation_cancel(operation);
        pa_operation_unref(operation);
        operation = nullptr;
    }
}

}  // namespace

GraphQuantumWatch::GraphQuantumWatch(pa_context* context) : context_(context) {
    pa_context_set_subscribe_callback(
        context_,
        [](pa_context* c, pa_subscription_event_type_t type, std::uint32_t index, void* user) {
            onEvent(c, static_cast<int>(type), index, user);
        },
        this);
    release(pa_context_subscribe(
        context_,
        static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK_INPUT |
                                            PA_SUBSCRIPTION_MASK_SOURCE_OUTPUT),
        nullptr, nullptr));
    look();
}

GraphQuantumWatch::~GraphQuantumWatch() {
    pa_context_set_subscribe_callback(context_, nullptr, nullptr);
    drop(inputs_);
    drop(outputs_);
}

void GraphQuantumWatch::onEvent(pa_context*, int, std::uint32_t, void* user) {
    auto* self = static_cast<GraphQuantumWatch*>(user);  // loop lock held
    if (self->listsPending_ > 0) {
        self->lookAgain_ = true;  // the lists being read may predate the event
    } else {
        self->look();
    }
}

void GraphQuantumWatch::look() {
    looking_ = 0;
    lookAgain_ = false;
    drop(inputs_);
    drop(outputs_);
    inputs_ = pa_context_get_sink_input_info_list(context_, &GraphQuantumWatch::onSinkInput, this);
    outputs_ = pa_context_get_source_output_info_list(context_, &GraphQuantumWatch::onSourceOutput,
                                                      this);
    listsPending_ = (inputs_ != nullptr ? 1 : 0) + (outputs_ != nullptr ? 1 : 0);
}

void GraphQuantumWatch::onSinkInput(pa_context*, const pa_sink_input_info* info, int end,
                                    void* user) {
    auto* self = static_cast<GraphQuantumWatch*>(user);  // loop lock held
    if (end != 0 || info == nullptr) {
        self->listed();
    } else if (info->index != self->ignored_) {
        self->take(pa_proplist_gets(info->proplist, "node.latency"), info->corked != 0);
    }
}

void GraphQuantumWatch::onSourceOutput(pa_context*, const pa_source_output_info* info, int end,
                                       void* user) {
    auto* self = static_cast<GraphQuantumWatch*>(user);  // loop lock held
    if (end != 0 || info == nullptr) {
        self->listed();
    } else {
        self->take(pa_proplist_gets(info->proplist, "node.latency"), info->corked != 0);
    }
}

void GraphQuantumWatch::take(const char* latency, bool corked) {
    long frames = 0;
    long rate = 0;
    if (corked || latency == nullptr || std::sscanf(latency, "%ld/%ld", &frames, &rate) != 2 ||
        frames <= 0 || rate <= 0) {
        return;
    }
    const double seconds = static_cast<double>(frames) / static_cast<double>(rate);
    if (looking_ == 0 || seconds < looking_) {
        looking_ = seconds;
    }
}

void GraphQuantumWatch::listed() {
    if (listsPending_ > 0 && --listsPending_ > 0) {
        return;
    }
    smallest_ = looking_;
    if (lookAgain_) {
        look();
    }
}

std::int64_t GraphQuantumWatch::heldFrames(std::uint32_t rate) const {
    if (smallest_ <= 0) {
        return 0;
    }
    const auto frames = static_cast<std::int64_t>(smallest_ * rate + 0.5);
    std::int64_t quantum = 1;
    while (quantum * 2 <= frames) {
        quantum *= 2;
    }
    return quantum;
}

}  // namespace vindelor
