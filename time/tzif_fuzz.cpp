// libFuzzer target: any bytes as a zone file. Parsing must never read out
// of bounds or crash, and a zone that parses must answer a lookup at any
// instant, the extremes included.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>

#include "time/time.h"
#include "time/tzif.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace quorvale::time;
  const Zone::Result r =
      Zone::Parse({reinterpret_cast<const char*>(data), size});
  if (r.err) return 0;
  const Zone& z = r.zone;
  auto probe = [&z](std::int64_t t) {
    const ZoneOffset o = z.Lookup(t);
    const Civil c = CivilFromSeconds(t, o.utoff);
    // Touch every byte of the abbreviation, so that a bad view is caught.
    volatile char sink = 0;
    for (char ch : o.abbr) sink = static_cast<char>(sink ^ ch);
    (void)sink;
    (void)c;
  };
  for (std::int64_t t :
       {std::numeric_limits<std::int64_t>::min(), std::int64_t{-1} << 40,
        std::int64_t{0}, std::int64_t{1700000000}, std::int64_t{1} << 40,
        std::numeric_limits<std::int64_t>::max()}) {
    probe(t);
  }
  const auto& times = z.Transitions();
  for (std::size_t i = 0; i < times.size() && i < 64; ++i) {
    probe(times[i]);
    // A transition may stand at the very first instant, with none before.
    if (times[i] > std::numeric_limits<std::int64_t>::min()) {
      probe(times[i] - 1);
    }
  }
  if (!times.empty()) {
    // Past the last transition: the footer's rule, over several years.
    const std::int64_t last = times.back();
    for (std::int64_t d = 1; d < 800; d += 37) {
      if (last <= std::numeric_limits<std::int64_t>::max() - d * 86400) {
        probe(last + d * 86400);
      }
    }
  }
  return 0;
}
