#pragma once

#include <cstdint>

struct pa_context;
struct pa_mainloop_api;
struct pa_time_event;
struct timeval;
struct pa_server_info;
struct pa_sink_info;

namespace vindelor {

// The connection to the desktop's sound server (PulseAudio, or PipeWire's pulse server). It
// connects in the background, learns the default sink's rate and which server it is, and once
// the server is lost, or never answered, tries again: ten times a second for the first ten
// seconds, then twice a second.
// Loop lock held: its owner calls it, and it calls its listener, from the loop's callbacks.
class PulseConnection {
  public:
    struct Server {
        std::uint32_t rate = 48000;  // the default sink's, so that the server need not convert
        bool pipeWire = false;       // PipeWire's pulse server: reads in quanta, never rewinds
    };
    class Listener {
      public:
        virtual ~Listener() = default;
        virtual void serverReady(pa_context* context, const Server& server) = 0;
        virtual void serverLost() = 0;
    };

    PulseConnection(pa_mainloop_api* api, Listener& listener);
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    void connect();
    // Gives the server up, for good or until connect(); no listener call follows.
    void disconnect();
    // Gives the server up and connects again after a while, as after a loss; no listener
    // call follows but serverReady. For a server that answers but cannot make our stream:
    // each time in a row it waits as long as a lost server's retries do by then.
    void retryLater();

  private:
    static void onState(pa_context* context, void* user);
    static void onServerInfo(pa_context* context, const pa_server_info* info, void* user);
    static void onSinkInfo(pa_context* context, const pa_sink_info* info, int end, void* user);
    static void onRetry(pa_mainloop_api* api, pa_time_event* event, const timeval* when,
                        void* user);
    void lost();
    void scheduleRetry();

    pa_mainloop_api* api_;
    Listener& listener_;
    pa_context* context_ = nullptr;
    pa_time_event* retry_ = nullptr;
    Server server_;
    bool announced_ = false;
    int retries_ = 0;  // since the server was lost, or since the start
};

}  // namespace vindelor
