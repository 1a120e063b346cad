#include "pulse_connection.h"

#include <pulse/pulseaudio.h>

#include <cstring>
#include <utility>

namespace vindelor {

namespace {
// A failed connection costs next to nothing. A server that restarts is back within seconds, and
// looking ten times a second then brings the clicks back at once; a server that stays away is
// looked for twice a second.
constexpr pa_usec_t kQuickRetryUsec = 100'000;
constexpr int kQuickRetries = 100;
constexpr pa_usec_t kRetryUsec = 500'000;

void release(pa_operation* operation) {
    if (operation != nullptr) {
        pa_operation_unref(operation);
    }
}
}  // namespace

PulseConnection::PulseConnection(pa_mainloop_api* api, Listener& listener)
    : api_(api), listener_(listener) {}

PulseConnection::~PulseConnection() {
    disconnect();
    if (retry_ != nullptr) {
        api_->time_free(retry_);
    }
}

void PulseConnection::connect() {
    announced_ = false;
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Vindelor");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "org.vindelor.Vindelor");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ICON_NAME, "org.vindelor.Vindelor");
    context_ = pa_context_new_with_proplist(api_, "Vindelor", properties);
    pa_proplist_free(properties);
    if (context_ == nullptr) {
        lost();
        return;
    }
    pa_context_set_state_callback(context_, &PulseConnection::onState, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        lost();
    }
}

void PulseConnection::disconnect() {
    if (retry_ != nullptr) {
        api_->time_restart(retry_, nullptr);
    }
    // Taken off first: disconnecting ends the context's streams, whose owners may come back
    // here from their callbacks.
    if (pa_context* context = std::exchange(context_, nullptr)) {
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
}

void PulseConnection::lost() {
    if (announced_) {
        announced_ = false;
        retries_ = 0;
        listener_.serverLost();
    }
    scheduleRetry();
}

void PulseConnection::retryLater() {
    disconnect();
    announced_ = false;
    scheduleRetry();
}

void PulseConnection::scheduleRetry() {
    timeval when{};
    const bool quick = retries_ < kQuickRetries;
    retries_ += quick ? 1 : 0;
    pa_timeval_add(pa_gettimeofday(&when), quick ? kQuickRetryUsec : kRetryUsec);
    if (retry_ == nullptr) {
        retry_ = api_->time_new(api_, &when, &PulseConnection::onRetry, this);
    } else {
        api_->time_restart(retry_, &when);
    }
}

void PulseConnection::onRetry(pa_mainloop_api*, pa_time_event*, const timeval*, void* user) {
    auto* self = static_cast<PulseConnection*>(user);  // loop lock held
    self->disconnect();
    self->connect();
}

void PulseConnection::onState(pa_context* context, void* user) {
    auto* self = static_cast<PulseConnection*>(user);  // loop lock held
    switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY:
            release(pa_context_get_server_info(context, &PulseConnection::onServerInfo, self));
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            self->lost();
            break;
        default:
            break;
    }
}

void PulseConnection::onServerInfo(pa_context* context, const pa_server_info* info, void* user) {
    auto* self = static_cast<PulseConnection*>(user);  // loop lock held
    if (info == nullptr) {
        self->lost();
        return;
    }
    self->server_.rate = info->sample_spec.rate;
    self->server_.pipeWire =
        info->server_name != nullptr && std::strstr(info->server_name, "PipeWire") != nullptr;
    pa_operation* lookup = info->default_sink_name != nullptr
                               ? pa_context_get_sink_info_by_name(context, info->default_sink_name,
                                                                  &PulseConnection::onSinkInfo, self)
                               : nullptr;
    if (lookup == nullptr) {
        self->announced_ = true;
        self->listener_.serverReady(context, self->server_);
    }
    release(lookup);
}

void PulseConnection::onSinkInfo(pa_context* context, const pa_sink_info* info, int end,
                                 void* user) {
    auto* self = static_cast<PulseConnection*>(user);  // loop lock held
    if (end == 0 && info != nullptr) {
        self->server_.rate = info->sample_spec.rate;
        return;
    }
    if (!self->announced_) {
        self->announced_ = true;
        self->listener_.serverReady(context, self->server_);
    }
}

}  // namespace vindelor
