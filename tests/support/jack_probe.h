// Whether a JACK server runs for the tests (scripts/jack.sh starts a private
// one), asked once per test program. Header-only: only the programs that open
// real JACK ports include it, and they link libjack themselves.
#pragma once

#include <jack/jack.h>

#include <cstdint>

namespace zandrel::test {

// The server's sample rate; 0 when no server runs.
inline uint32_t JackServerRate() {
  static const uint32_t rate = [] {
    jack_set_error_function([](const char*) {});
    jack_set_info_function([](const char*) {});
    jack_status_t status;
    jack_client_t* client = jack_client_open("zandrel-probe", JackNoStartServer, &status);
    if (!client) return 0u;
    const uint32_t r = jack_get_sample_rate(client);
    jack_client_close(client);
    return r;
  }();
  return rate;
}

inline bool JackServerRuns() { return JackServerRate() != 0; }

}  // namespace zandrel::test
