// Audio outputs through PulseAudio (also served by PipeWire's pulse server). Each call opens
// its own short-lived connection and main loop, so calls are independent and thread-safe,
// and every wait is bounded by one deadline.
#include "platform/audio_output.h"

#include <pulse/pulseaudio.h>

#include <chrono>

namespace platform {
namespace {

// A local sound server answers in milliseconds; this only bounds a stuck one.
constexpr auto kCallLimit = std::chrono::milliseconds(2000);

void setError(std::string* error, const std::string& text) {
  if (error)
    *error = text;
}

class PulseSession {
public:
  PulseSession() : deadline_(std::chrono::steady_clock::now() + kCallLimit) {}
  ~PulseSession() {
    if (context_) {
      pa_context_disconnect(context_);
      pa_context_unref(context_);
    }
    if (loop_)
      pa_mainloop_free(loop_);
  }
  PulseSession(const PulseSession&) = delete;
  PulseSession& operator=(const PulseSession&) = delete;

  bool connect(std::string* error) {
    loop_ = pa_mainloop_new();
    if (!loop_) {
      setError(error, "PulseAudio: no main loop");
      return false;
    }
    context_ = pa_context_new(pa_mainloop_get_api(loop_), "TavPcClient");
    if (!context_) {
      setError(error, "PulseAudio: no context");
      return false;
    }
    // Never start a sound server just to list devices.
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
      setError(error, std::string("PulseAudio: cannot connect: ") +
                          pa_strerror(pa_context_errno(context_)));
      return false;
    }
    pa_context_state_t state = PA_CONTEXT_UNCONNECTED;
    const bool settled = runUntil([&] {
      state = pa_context_get_state(context_);
      return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
    });
    if (settled && state == PA_CONTEXT_READY)
      return true;
    setError(error, settled ? std::string("PulseAudio: cannot connect: ") +
                                  pa_strerror(pa_context_errno(context_))
                            : std::string("PulseAudio: no answer from the sound server"));
    return false;
  }

  // Runs the loop until `op` is finished. False when the deadline passed first.
  bool finish(pa_operation* op, std::string* error) {
    if (!op) {
      setError(error, std::string("PulseAudio: request refused: ") +
                          pa_strerror(pa_context_errno(context_)));
      return false;
    }
    const bool done = runUntil([&] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; });
    if (!done) {
      pa_operation_cancel(op);
      setError(error, "PulseAudio: no answer from the sound server");
    }
    pa_operation_unref(op);
    return done;
  }

  pa_context* context() const { return context_; }

private:
  // Iterates the main loop until `done()` holds; every poll is capped by the time left.
  template <class Done>
  bool runUntil(Done done) {
    for (;;) {
      if (done())
        return true;
      const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
          deadline_ - std::chrono::steady_clock::now());
      if (left.count() <= 0)
        return false;
      if (pa_mainloop_prepare(loop_, static_cast<int>(left.count())) < 0 ||
          pa_mainloop_poll(loop_) < 0 || pa_mainloop_dispatch(loop_) < 0)
        return done();
    }
  }

  const std::chrono::steady_clock::time_point deadline_;
  pa_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
};

struct SinkList {
  std::vector<AudioOutput> outputs;
  bool failed = false;
};

void onSink(pa_context*, const pa_sink_info* info, int eol, void* user) {
  auto* list = static_cast<SinkList*>(user);
  if (eol < 0) {
    list->failed = true;
    return;
  }
  if (eol > 0 || !info || !info->name)
    return;
  AudioOutput output;
  output.id = info->name;
  output.name = (info->description && *info->description) ? info->description : info->name;
  list->outputs.push_back(output);
}

void onSuccess(pa_context*, int success, void* user) {
  *static_cast<int*>(user) = success;
}

bool listSinks(PulseSession& session, SinkList* list, std::string* error) {
  if (!session.finish(pa_context_get_sink_info_list(session.context(), &onSink, list), error))
    return false;
  if (list->failed) {
    setError(error, "PulseAudio: the device list failed");
    return false;
  }
  return true;
}

}  // namespace

std::vector<AudioOutput> audioOutputs(std::string* error) {
  PulseSession session;
  SinkList list;
  if (!session.connect(error) || !listSinks(session, &list, error))
    return {};
  return list.outputs;
}

bool setDefaultAudioOutput(const std::string& id, std::string* error) {
  if (id.empty()) {
    setError(error, "no audio output given");
    return false;
  }
  PulseSession session;
  if (!session.connect(error))
    return false;
  // Newer servers accept any name as the configured default, so an unknown id would "succeed"
  // without changing anything: check it against the current outputs first.
  SinkList list;
  if (!listSinks(session, &list, error))
    return false;
  bool known = false;
  for (const AudioOutput& output : list.outputs)
    known = known || output.id == id;
  if (!known) {
    setError(error, "no audio output named " + id);
    return false;
  }
  int success = 0;
  if (!session.finish(
          pa_context_set_default_sink(session.context(), id.c_str(), &onSuccess, &success), error))
    return false;
  if (!success) {
    setError(error, "PulseAudio refused the default output " + id);
    return false;
  }
  return true;
}

}  // namespace platform
