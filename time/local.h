#ifndef QUORVALE_TIME_LOCAL_H_
#define QUORVALE_TIME_LOCAL_H_

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "time/tzif.h"

namespace quorvale::time {

// Where a system keeps its zone files.
struct ZoneSources {
  // Searched in order for a zone given by name; each ends in '/'.
  std::span<const std::string_view> dirs;
  // The zone used when TZ is not set.
  std::string_view localtime;
};

inline constexpr std::array<std::string_view, 3> kSystemZoneDirs = {
    "/usr/share/zoneinfo/", "/usr/share/lib/zoneinfo/", "/usr/lib/locale/TZ/"};
inline constexpr ZoneSources kSystemZoneSources = {kSystemZoneDirs,
                                                   "/etc/localtime"};

// Zone files larger than this are not read: no real one comes near it, and
// a hostile one cannot make the reader allocate or wait for more.
inline constexpr std::size_t kMaxZoneFileSize = 4 << 20;

// ReadZoneFile loads the zone file at path. Only a regular file of at most
// kMaxZoneFileSize bytes is read; anything else, including a file that
// cannot be opened or parsed, is an error.
Zone::Result ReadZoneFile(const std::string& path);

// The zone that TZ selects, and the file it was read from ("" for UTC).
struct LocalZone {
  Zone zone;
  std::string file;
};

// LoadLocal picks the zone for TZ's value, tz (nullptr when TZ is not set):
//   - unset: the file sources.localtime;
//   - after one leading ':' is dropped, empty or "UTC": UTC, no file opened;
//   - beginning with '/': that file alone;
//   - any other value: a zone name, the first file of that name under
//     sources.dirs that loads; a name with a ".." element is never sought.
// Whatever cannot be loaded gives UTC, silently. A POSIX rule such as
// "EST5EDT,M3.2.0,M11.1.0" is only a name here, found or not.
LocalZone LoadLocal(const char* tz,
                    const ZoneSources& sources = kSystemZoneSources);

// Local is the process's local zone: loaded from TZ and the system's zone
// files on the first call and kept, never freed, for the life of the
// process. Safe to call from any thread.
const Zone& Local();

}  // namespace quorvale::time

#endif  // QUORVALE_TIME_LOCAL_H_
