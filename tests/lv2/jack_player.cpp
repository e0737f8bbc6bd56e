// A JACK client for the live test: writes the test signal, or plays it into
// a plug-in's input port, records the plug-in's output port and compares the
// recording with the module's render of the same signal.
//
//   tonevolt_jack_player signal OUT.f32 RATE
//       writes the test signal: silence, a sweep with noise and special
//       samples, and enough silence after it to cover the graph's latency
//   tonevolt_jack_player play SIGNAL.f32 EXPECTED.f32 TO_PORT FROM_PORT
//       plays SIGNAL into TO_PORT from one cycle on, records FROM_PORT from
//       that same cycle for as many samples, and compares; exits 0 when
//       they agree, 1 when not, 3 when not but the graph missed cycles
//       (xruns) while playing, which breaks the alignment by itself
//   tonevolt_jack_player notes TO_PORT FROM_PORT
//       plays a line of sawtooth notes (A2 E3 A3) into a plug-in reading
//       1 V/oct (module values) and checks each note's settled reading is
//       within 50 cents of the note; exits as play does
//
// The recording runs late by the graph's latency, some whole number of
// samples d found by the comparison: recorded[d + i] must equal EXPECTED[i]
// for every i the recording covers, and the d samples before them must be
// what the plug-in gives for silence, EXPECTED[0] (the signal starts
// silent). A plug-in fed only silence since activation is in its fresh
// state, so the silence it processed before the signal arrived cannot show.
#include <jack/jack.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Float32Files.h"
#include "FloatBits.h"

namespace {

// Exit status of a play whose graph missed cycles while it ran.
constexpr int kInconclusive = 3;

int WriteSignal(const std::string& path, double rate) {
  const size_t lead = static_cast<size_t>(0.1 * rate), body = static_cast<size_t>(1.0 * rate);
  const size_t tail = static_cast<size_t>(0.4 * rate);
  std::vector<float> s(lead, 0.0f);
  std::mt19937 noise(2026);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  double phase = 0.0;
  for (size_t i = 0; i < body; ++i) {
    const double hz = 55.0 * std::pow(64.0, static_cast<double>(i) / body);
    phase += hz / rate;
    s.push_back(static_cast<float>(0.7 * std::sin(2.0 * M_PI * phase) + 0.03 * uniform(noise)));
  }
  const float specials[] = {std::numeric_limits<float>::quiet_NaN(), -0.0f, 1e-40f, -1e-40f,
                            std::numeric_limits<float>::infinity(),  -1.0f, 0.0f};
  for (size_t k = 0; k < sizeof specials / sizeof specials[0]; ++k) {
    s[lead + (k + 1) * body / 9] = specials[k];
  }
  s.insert(s.end(), tail, 0.0f);
  if (!WriteFloats(path, s)) {
    std::fprintf(stderr, "player: cannot write %s\n", path.c_str());
    return 1;
  }
  return 0;
}

// ----------------------------------------------------------------- notes

// Sawtooth notes at -12 dBFS RMS between silences.
constexpr double kNotesLead = 0.2, kNoteSeconds = 0.4, kNotesTail = 0.3;
const double kNotesHz[] = {110.0, 164.81, 220.0};  // A2 E3 A3

std::vector<float> NoteLine(double rate) {
  const double peak = std::sqrt(3.0) * std::pow(10.0, -12.0 / 20.0);
  std::vector<float> s(static_cast<size_t>(kNotesLead * rate), 0.0f);
  double phase = 0.0;
  for (double hz : kNotesHz) {
    for (size_t i = 0; i < static_cast<size_t>(kNoteSeconds * rate); ++i) {
      phase += hz / rate;
      phase -= std::floor(phase);
      s.push_back(static_cast<float>(peak * (2.0 * phase - 1.0)));
    }
  }
  s.insert(s.end(), static_cast<size_t>(kNotesTail * rate), 0.0f);
  return s;
}

// Each note's reading over its last 0.15 s (the graph's latency of a few
// periods stays inside it), its median against the note. The tracker reads
// 440 Hz as 0.5 and an octave as 0.1 at any rate: it puts the module's
// reading, whose gain is set for 44100 Hz, back on the note played.
int CheckNotes(const std::vector<float>& recorded, double rate) {
  int failures = 0;
  for (size_t k = 0; k < sizeof kNotesHz / sizeof kNotesHz[0]; ++k) {
    const double start = kNotesLead + k * kNoteSeconds;
    std::vector<float> settled(
        recorded.begin() + static_cast<size_t>((start + 0.25) * rate),
        recorded.begin() + static_cast<size_t>((start + kNoteSeconds) * rate));
    std::sort(settled.begin(), settled.end());
    const double reading = settled[settled.size() / 2];
    const double want = 0.5 + std::log2(kNotesHz[k] / 440.0) / 10.0;
    const double cents = (reading - want) * 10.0 * 1200.0;
    const bool good = std::fabs(cents) <= 50.0;
    failures += good ? 0 : 1;
    std::printf("live: note %.2f Hz reads %.5f (want %.5f): %+.1f cents%s\n", kNotesHz[k], reading,
                want, cents, good ? "" : " FAIL");
  }
  return failures == 0 ? 0 : 1;
}

// ------------------------------------------------------------------ play

struct Session {
  jack_port_t* out = nullptr;
  jack_port_t* in = nullptr;
  const std::vector<float>* signal = nullptr;
  std::vector<float>* recorded = nullptr;
  std::atomic<bool> go{false};
  std::atomic<size_t> position{0};  // samples played and recorded so far
  std::atomic<int> xruns{0};
};

// Only those while playing: a cycle the graph missed then breaks the
// recording's alignment, whatever the plug-in does.
int CountXrun(void* argument) {
  Session& s = *static_cast<Session*>(argument);
  if (s.go && s.position.load() < s.signal->size()) ++s.xruns;
  return 0;
}

int Process(jack_nframes_t frames, void* argument) {
  Session& s = *static_cast<Session*>(argument);
  float* out = static_cast<float*>(jack_port_get_buffer(s.out, frames));
  const float* in = static_cast<const float*>(jack_port_get_buffer(s.in, frames));
  size_t position = s.position.load(std::memory_order_relaxed);
  for (jack_nframes_t i = 0; i < frames; ++i) {
    const bool playing = s.go.load(std::memory_order_relaxed) && position < s.signal->size();
    out[i] = playing ? (*s.signal)[position] : 0.0f;
    if (playing) (*s.recorded)[position++] = in[i];
  }
  s.position.store(position, std::memory_order_release);
  return 0;
}

// The ports connected to port_name, by name.
std::vector<std::string> Connections(jack_client_t* client, const char* port_name) {
  std::vector<std::string> names;
  jack_port_t* port = jack_port_by_name(client, port_name);
  if (port == nullptr) return names;
  const char** found = jack_port_get_all_connections(client, port);
  for (const char** name = found; name != nullptr && *name != nullptr; ++name) {
    names.push_back(*name);
  }
  if (found != nullptr) jack_free(found);
  return names;
}

// Leaves port_name connected to own alone.
bool ConnectOnly(jack_client_t* client, const char* source, const char* destination,
                 const char* port_name) {
  for (const std::string& other : Connections(client, port_name)) {
    const bool port_is_source = std::strcmp(port_name, source) == 0;
    if (port_is_source) {
      jack_disconnect(client, port_name, other.c_str());
    } else {
      jack_disconnect(client, other.c_str(), port_name);
    }
  }
  // jalv registers its ports before it activates, and ports of an inactive
  // client refuse connections: try for a while.
  bool connected = false;
  for (int tries = 0; tries < 250 && !connected; ++tries) {
    connected = jack_connect(client, source, destination) == 0;
    if (!connected) std::this_thread::sleep_for(std::chrono::milliseconds(40));
  }
  if (!connected) return false;
  const char* own = std::strcmp(port_name, source) == 0 ? destination : source;
  for (int tries = 0; tries < 100; ++tries) {
    const std::vector<std::string> now = Connections(client, port_name);
    if (now.size() == 1 && now[0] == own) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

int Compare(const std::vector<float>& recorded, const std::vector<float>& expected,
            jack_nframes_t period, jack_nframes_t rate) {
  const uint32_t idle = Bits(expected[0]);
  // Offsets tried: every one whose idle stretch holds only the idle value.
  std::vector<size_t> matches;
  for (size_t d = 0; d < recorded.size(); ++d) {
    bool equal = true;
    for (size_t i = 0; d + i < recorded.size() && equal; ++i) {
      equal = Bits(recorded[d + i]) == Bits(expected[i]);
    }
    if (equal) matches.push_back(d);
    if (Bits(recorded[d]) != idle) break;
  }
  size_t first_loud = 0;
  while (first_loud < expected.size() && Bits(expected[first_loud]) == idle) ++first_loud;
  std::printf("live: rate %u Hz, period %u, %zu samples played and recorded\n", rate, period,
              recorded.size());
  if (matches.size() != 1) {
    std::printf("live: FAIL: the recording matches the module's output at %zu offsets\n",
                matches.size());
    return 1;
  }
  const size_t d = matches[0];
  if (recorded.size() - d <= first_loud || d >= recorded.size() / 2) {
    std::printf("live: FAIL: offset %zu leaves the signal unrecorded\n", d);
    return 1;
  }
  std::printf(
      "live: output equals the module's bit for bit: latency %zu samples (%.2f periods); the "
      "first %zu recorded samples are the output for silence (%08x), the other %zu equal the "
      "module's render of the played signal from its first sample (%zu of them after the "
      "first non-silent output)\n",
      d, static_cast<double>(d) / period, d, idle, recorded.size() - d,
      recorded.size() - d - first_loud);
  return 0;
}

// Plays signal into to_port and records from_port from the same cycle.
int PlayAndRecord(const std::vector<float>& signal, const char* to_port, const char* from_port,
                  std::vector<float>* recorded_out, jack_nframes_t* period_out,
                  jack_nframes_t* rate_out, int* xruns_out) {
  std::vector<float>& recorded = *recorded_out;
  recorded.assign(signal.size(), 0.0f);
  Session session;
  session.signal = &signal;
  session.recorded = &recorded;

  jack_status_t status;
  jack_client_t* client = jack_client_open("tonevolt_player", JackNoStartServer, &status);
  if (client == nullptr) {
    std::fprintf(stderr, "player: no JACK server (status 0x%x)\n", static_cast<unsigned>(status));
    return 1;
  }
  session.out = jack_port_register(client, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
  session.in = jack_port_register(client, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
  jack_set_process_callback(client, Process, &session);
  jack_set_xrun_callback(client, CountXrun, &session);
  if (session.out == nullptr || session.in == nullptr || jack_activate(client) != 0) {
    std::fprintf(stderr, "player: cannot register and activate\n");
    jack_client_close(client);
    return 1;
  }
  const std::string own_out = jack_port_name(session.out), own_in = jack_port_name(session.in);

  // The plug-in's ports appear once jalv has loaded it.
  bool ready = false;
  for (int tries = 0; tries < 200 && !ready; ++tries) {
    ready = jack_port_by_name(client, to_port) != nullptr &&
            jack_port_by_name(client, from_port) != nullptr;
    if (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  int result = 1;
  if (!ready) {
    std::fprintf(stderr, "player: no ports %s and %s\n", to_port, from_port);
  } else if (!ConnectOnly(client, own_out.c_str(), to_port, to_port) ||
             !ConnectOnly(client, from_port, own_in.c_str(), from_port)) {
    std::fprintf(stderr, "player: cannot connect to %s and %s alone\n", to_port, from_port);
  } else {
    // A few cycles for the connections to reach the graph, then play.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    session.go = true;
    while (session.position.load(std::memory_order_acquire) < signal.size()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    result = 0;
  }
  *period_out = jack_get_buffer_size(client);
  *rate_out = jack_get_sample_rate(client);
  jack_deactivate(client);
  jack_client_close(client);
  *xruns_out = session.xruns.load();
  return result;
}

int Inconclusive(int verdict, int xruns) {
  if (verdict == 0 || xruns == 0) return verdict;
  std::printf("live: %d xruns while playing: the recording proves nothing\n", xruns);
  return kInconclusive;
}

int Play(const std::string& signal_path, const std::string& expected_path, const char* to_port,
         const char* from_port) {
  std::vector<float> signal, expected, recorded;
  if (!ReadFloats(signal_path, &signal) || !ReadFloats(expected_path, &expected) ||
      signal.empty() || expected.size() != signal.size()) {
    std::fprintf(stderr, "player: cannot read %s and %s of equal length\n", signal_path.c_str(),
                 expected_path.c_str());
    return 1;
  }
  jack_nframes_t period = 0, rate = 0;
  int xruns = 0;
  const int result = PlayAndRecord(signal, to_port, from_port, &recorded, &period, &rate, &xruns);
  if (result != 0) return result;
  WriteFloats(expected_path + ".recorded", recorded);
  return Inconclusive(Compare(recorded, expected, period, rate), xruns);
}

// The note line at the server's rate, asked of it first.
int PlayNotes(const char* to_port, const char* from_port) {
  jack_status_t status;
  jack_client_t* probe = jack_client_open("tonevolt_probe", JackNoStartServer, &status);
  if (probe == nullptr) {
    std::fprintf(stderr, "player: no JACK server (status 0x%x)\n", static_cast<unsigned>(status));
    return 1;
  }
  const double server_rate = jack_get_sample_rate(probe);
  jack_client_close(probe);
  const std::vector<float> signal = NoteLine(server_rate);
  std::vector<float> recorded;
  jack_nframes_t period = 0, rate = 0;
  int xruns = 0;
  const int result = PlayAndRecord(signal, to_port, from_port, &recorded, &period, &rate, &xruns);
  if (result != 0) return result;
  std::printf("live: rate %u Hz, period %u, %zu samples of notes played and recorded\n", rate,
              period, recorded.size());
  return Inconclusive(CheckNotes(recorded, rate), xruns);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "signal" && argc == 4) return WriteSignal(argv[2], std::atof(argv[3]));
  if (command == "play" && argc == 6) return Play(argv[2], argv[3], argv[4], argv[5]);
  if (command == "notes" && argc == 4) return PlayNotes(argv[2], argv[3]);
  std::fprintf(stderr,
               "usage: tonevolt_jack_player signal OUT.f32 RATE\n"
               "       tonevolt_jack_player play SIGNAL.f32 EXPECTED.f32 TO_PORT FROM_PORT\n"
               "       tonevolt_jack_player notes TO_PORT FROM_PORT\n");
  return 2;
}
