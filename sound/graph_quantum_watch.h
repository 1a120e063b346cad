#pragma once

#include <cstdint>

struct pa_context;
struct pa_operation;
struct pa_sink_input_info;
struct pa_source_output_info;

namespace vindelor {

// The quantum the other streams on a PipeWire graph hold it at, as PipeWire's pulse server
// shows them: every stream carries its node.latency ("frames/rate"), and the graph runs at the
// largest power of two within the smallest one that a running stream asks for. A stream of
// ours that asked for less would make the graph switch to a smaller quantum as it starts,
// and a graph that switches skips a quantum of time: a gap in the music one plays along with.
// Kept up to date from the server's events about streams. Loop lock held.
class GraphQuantumWatch {
  public:
    explicit GraphQuantumWatch(pa_context* context);
    ~GraphQuantumWatch();
    GraphQuantumWatch(const GraphQuantumWatch&) = delete;
    GraphQuantumWatch& operator=(const GraphQuantumWatch&) = delete;

    // Our own stream, which does not count: its index among the server's sink inputs.
    void ignore(std::uint32_t sinkInput) { ignored_ = sinkInput; }

    // The quantum, in frames at `rate`, the other running streams hold the graph at; 0 while
    // none runs.
    std::int64_t heldFrames(std::uint32_t rate) const;

  private:
    static void onEvent(pa_context* context, int type, std::uint32_t index, void* user);
    static void onSinkInput(pa_context* context, const pa_sink_input_info* info, int end,
                            void* user);
    static void onSourceOutput(pa_context* context, const pa_source_output_info* info, int end,
                               void* user);
    void look();
    void take(const char* latency, bool corked);
    void listed();

    pa_context* context_;
    pa_operation* inputs_ = nullptr;
    pa_operation* outputs_ = nullptr;
    std::uint32_t ignored_ = UINT32_MAX;
    int listsPending_ = 0;
    bool lookAgain_ = false;
    double looking_ = 0;  // the smallest latency seen in the lists being read, in seconds
    double smallest_ = 0;  // that of the latest whole look; 0: no stream runs
};

}  // namespace vindelor
