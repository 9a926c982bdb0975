// Whether a JACK server runs for the tests (scripts/jack.sh starts a private
// one), asked once per test program. Header-only: only the programs that open
// real JACK ports include it, and they link libjack themselves.
//
// Without a server the JACK tests skip on a developer's machine, but fail in
// CI (CI=true): there a missing server is a broken set-up, and skipped tests
// would let it pass unnoticed.
#pragma once

#include <gtest/gtest.h>
#include <jack/jack.h>

#include <cstdint>
#include <cstdlib>
#include <string_view>

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

// True when the JACK tests must run rather than skip.
inline bool JackRequired() {
  const char* ci = std::getenv("CI");
  return ci && std::string_view(ci) == "true";
}

// Ends the current test (or its SetUp) when no server runs: a skip, or with
// CI=true a failure.
#define ZANDREL_REQUIRE_JACK_SERVER()                                                                   \
  do {                                                                                                \
    if (!::zandrel::test::JackServerRuns()) {                                                         \
      if (::zandrel::test::JackRequired())                                                            \
        GTEST_FAIL() << "no JACK server runs, and with CI=true the JACK tests must run "              \
                        "(scripts/jack.sh starts one; see its output for why it did not start)";       \
      GTEST_SKIP() << "no JACK server runs (scripts/jack.sh starts one for these tests)";             \
    }                                                                                                 \
  } while (0)

}  // namespace zandrel::test
