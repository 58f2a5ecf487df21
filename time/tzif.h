#ifndef QUORVALE_TIME_TZIF_H_
#define QUORVALE_TIME_TZIF_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "errors/errors.h"
#include "time/posix_tz.h"

namespace quorvale::time {

// Zone is a time zone read from a TZif file (RFC 8536): the instants at
// which its local time changed, the local times it has had, and the rule
// for the instants after the last change. A default Zone is UTC.
class Zone {
 public:
  struct Result;

  // Parse reads a TZif image of version 1, 2, 3 or 4 (4 differs from 3
  // only in leap-second records, which are skipped). From version 2 on,
  // the 64-bit data and the footer's TZ rule are used. Every count, index
  // and length is checked against the image before it is used; anything
  // truncated, malformed or out of range is an error and never read past.
  static Result Parse(std::string_view image);

  // Lookup gives the local time in force at `unix_seconds`; it is defined
  // for every int64 instant. Before the first transition the zone's first
  // local time type applies; after the last, the footer's rule when there
  // is one, else the last transition's type. The abbreviation points into
  // this zone.
  ZoneOffset Lookup(std::int64_t unix_seconds) const;

  // The transition instants, strictly ascending, in UTC seconds.
  const std::vector<std::int64_t>& Transitions() const noexcept {
    return transitions_;
  }

  // The footer's rule, when the zone has a non-empty one.
  const std::optional<PosixRule>& Rule() const noexcept { return rule_; }

 private:
  struct Type {
    std::int32_t utoff;
    bool is_dst;
    std::uint32_t abbr;  // offset of its NUL-terminated name in abbrs_
  };

  ZoneOffset Offset(const Type& type) const;

  friend class TzifReader;

  std::vector<std::int64_t> transitions_;
  std::vector<std::uint8_t> transition_types_;  // index into types_
  std::vector<Type> types_;                     // empty only for UTC
  std::string abbrs_;
  std::optional<PosixRule> rule_;
};

struct Zone::Result {
  Zone zone;
  Error err;
};

}  // namespace quorvale::time

#endif  // QUORVALE_TIME_TZIF_H_
