#include "time/tzif.h"

#include <algorithm>
#include <cstddef>
#include <limits>

namespace quorvale::time {

// TzifReader consumes a TZif image front to back. Nothing is read before
// the bytes it needs are known to be there: each block's whole size is
// computed from its header's counts, in 64 bits so that no count can wrap
// it, and compared with what is left before any of the block is looked at.
class TzifReader {
 public:
  explicit TzifReader(std::string_view image) : in_(image) {}

  Error Read(Zone& z) {
    Header v1;
    if (Error err = ReadHeader(v1)) return err;
    if (v1.version == 0) return ReadBlock(v1, 4, z);

    // Version 2 and later repeat the data with 64-bit times after the
    // 32-bit block, which is only skipped.
    std::string_view skipped;
    if (!Take(BlockSize(v1, 4), skipped)) return Error("tzif: truncated");
    Header v2;
    if (Error err = ReadHeader(v2)) return err;
    if (v2.version != v1.version) return Error("tzif: version mismatch");
    if (Error err = ReadBlock(v2, 8, z)) return err;
    return ReadFooter(z);
  }

 private:
  struct Header {
    char version = 0;
    std::uint32_t isutcnt = 0;
    std::uint32_t isstdcnt = 0;
    std::uint32_t leapcnt = 0;
    std::uint32_t timecnt = 0;
    std::uint32_t typecnt = 0;
    std::uint32_t charcnt = 0;
  };

  static constexpr std::size_t kHeaderSize = 44;
  // A transition's type is one byte, so more types cannot be reached.
  static constexpr std::uint32_t kMaxTypes = 256;

  // Moves the next n bytes into out; false, consuming nothing, when fewer
  // are left.
  bool Take(std::uint64_t n, std::string_view& out) {
    if (n > in_.size()) return false;
    out = in_.substr(0, static_cast<std::size_t>(n));
    in_.remove_prefix(static_cast<std::size_t>(n));
    return true;
  }

  static std::uint32_t Be32(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return std::uint32_t{u[0]} << 24 | std::uint32_t{u[1]} << 16 |
           std::uint32_t{u[2]} << 8 | std::uint32_t{u[3]};
  }
  static std::int64_t Be64(const char* p) {
    const std::uint64_t v = std::uint64_t{Be32(p)} << 32 | Be32(p + 4);
    return static_cast<std::int64_t>(v);
  }

  static std::uint64_t BlockSize(const Header& h, int time_size) {
    return std::uint64_t{h.timecnt} * time_size + h.timecnt +
           std::uint64_t{h.typecnt} * 6 + h.charcnt +
           std::uint64_t{h.leapcnt} * (time_size + 4) + h.isstdcnt + h.isutcnt;
  }

  Error ReadHeader(Header& h) {
    std::string_view b;
    if (!Take(kHeaderSize, b)) return Error("tzif: truncated");
    if (b.substr(0, 4) != "TZif") return Error("tzif: bad magic");
    h.version = b[4];
    if (h.version != 0 && (h.version < '2' || h.version > '4')) {
      return Error("tzif: unknown version");
    }
    const char* c = b.data() + 20;  // after 15 unused bytes
    h.isutcnt = Be32(c);
    h.isstdcnt = Be32(c + 4);
    h.leapcnt = Be32(c + 8);
    h.timecnt = Be32(c + 12);
    h.typecnt = Be32(c + 16);
    h.charcnt = Be32(c + 20);
    return Error();
  }

  // The counts are checked only for the block that is used: a version 1
  // block that a later version makes obsolete need only be skippable.
  Error ReadBlock(const Header& h, int time_size, Zone& z) {
    if (h.typecnt == 0 || h.typecnt > kMaxTypes || h.charcnt == 0 ||
        (h.isutcnt != 0 && h.isutcnt != h.typecnt) ||
        (h.isstdcnt != 0 && h.isstdcnt != h.typecnt)) {
      return Error("tzif: bad counts");
    }
    std::string_view times, indices, types, chars, rest;
    if (BlockSize(h, time_size) > in_.size() ||
        !Take(std::uint64_t{h.timecnt} * time_size, times) ||
        !Take(h.timecnt, indices) ||
        !Take(std::uint64_t{h.typecnt} * 6, types) || !Take(h.charcnt, chars) ||
        // Leap-second records, then the standard/wall and UT/local
        // indicators: none of them bears on the local time of an instant.
        !Take(
            std::uint64_t{h.leapcnt} * (time_size + 4) + h.isstdcnt + h.isutcnt,
            rest)) {
      return Error("tzif: truncated");
    }

    z.transitions_.resize(h.timecnt);
    z.transition_types_.resize(h.timecnt);
    for (std::uint32_t i = 0; i < h.timecnt; ++i) {
      const char* p = times.data() + std::size_t{i} * time_size;
      const std::int64_t t =
          time_size == 8 ? Be64(p) : static_cast<std::int32_t>(Be32(p));
      if (i > 0 && t <= z.transitions_[i - 1]) {
        return Error("tzif: transitions out of order");
      }
      z.transitions_[i] = t;
      const auto type = static_cast<std::uint8_t>(indices[i]);
      if (type >= h.typecnt) return Error("tzif: bad type index");
      z.transition_types_[i] = type;
    }

    z.abbrs_.assign(chars);
    z.types_.resize(h.typecnt);
    for (std::uint32_t i = 0; i < h.typecnt; ++i) {
      const char* p = types.data() + std::size_t{i} * 6;
      const auto utoff = static_cast<std::int32_t>(Be32(p));
      const auto is_dst = static_cast<unsigned char>(p[4]);
      const auto abbr = static_cast<unsigned char>(p[5]);
      // -2^31 is excluded so that every offset can be negated.
      if (utoff == std::numeric_limits<std::int32_t>::min() || is_dst > 1 ||
          abbr >= h.charcnt || z.abbrs_.find('\0', abbr) == std::string::npos) {
        return Error("tzif: bad local time type");
      }
      z.types_[i] = {utoff, is_dst == 1, abbr};
    }
    return Error();
  }

  // The footer: a line feed, a TZ rule (perhaps empty), a line feed.
  Error ReadFooter(Zone& z) {
    std::string_view nl;
    if (!Take(1, nl) || nl[0] != '\n') return Error("tzif: no footer");
    const std::size_t end = in_.find('\n');
    if (end == std::string_view::npos) return Error("tzif: no footer");
    const std::string_view tz = in_.substr(0, end);
    if (tz.empty()) return Error();
    PosixRule::Result r = PosixRule::Parse(tz);
    if (r.err) return Error("tzif: bad footer");
    z.rule_ = std::move(r.rule);
    return Error();
  }

  std::string_view in_;
};

Zone::Result Zone::Parse(std::string_view image) {
  Result r;
  if (Error err = TzifReader(image).Read(r.zone)) {
    r.zone = Zone();
    r.err = std::move(err);
  }
  return r;
}

ZoneOffset Zone::Offset(const Type& type) const {
  std::string_view abbr(abbrs_);
  abbr.remove_prefix(type.abbr);
  return {type.utoff, type.is_dst, abbr.substr(0, abbr.find('\0'))};
}

ZoneOffset Zone::Lookup(std::int64_t unix_seconds) const {
  if (types_.empty()) return ZoneOffset{};
  if (transitions_.empty()) {
    return rule_ ? rule_->Lookup(unix_seconds) : Offset(types_[0]);
  }
  const auto after =
      std::upper_bound(transitions_.begin(), transitions_.end(), unix_seconds);
  if (after == transitions_.begin()) return Offset(types_[0]);
  if (after == transitions_.end() && rule_ &&
      unix_seconds > transitions_.back()) {
    return rule_->Lookup(unix_seconds);
  }
  const auto i = static_cast<std::size_t>(after - transitions_.begin()) - 1;
  return Offset(types_[transition_types_[i]]);
}

}  // namespace quorvale::time
