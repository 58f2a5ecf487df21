#include "time/tzif.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace quorvale::time {
namespace {

std::string ReadTestFile(const std::string& name) {
  std::ifstream in(QUORVALE_TIME_TESTDATA "/" + name, std::ios::binary);
  EXPECT_TRUE(in) << name;
  return {std::istreambuf_iterator<char>(in), {}};
}

const char* const kTestFiles[] = {"Asia_Tokyo",      "Etc_UTC",
                                  "America_Nuuk",    "Europe_Dublin",
                                  "Pacific_Chatham", "Australia_Lord_Howe"};

// A TZif image assembled field by field, so that a test can break exactly
// one thing.
struct Image {
  struct Type {
    std::int32_t utoff;
    std::uint8_t is_dst;
    std::uint8_t abbr;
  };
  char version = '2';
  std::vector<std::int64_t> times;
  std::vector<std::uint8_t> indices;
  std::vector<Type> types;
  std::string chars;
  std::uint32_t leapcnt = 0;
  bool indicators = true;  // isstd and isut, one per type
  std::string footer;      // without its line feeds
  // The 32-bit block of a version 2+ image; the real data when empty.
  std::vector<Type> v1_types;
  // A version 2+ image whose 32-bit block is all zero counts.
  bool v1_blank = false;
  // Added to the counts of the 64-bit header, in header order.
  std::int64_t count_delta[6] = {};

  static void Be32(std::string& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) {
      out += static_cast<char>(v >> shift & 0xff);
    }
  }

  void Block(std::string& out, bool wide, const std::vector<Type>& ts,
             const std::int64_t* delta) const {
    const std::uint32_t n_ind = indicators ? ts.size() : 0;
    const std::uint32_t counts[6] = {n_ind,
                                     n_ind,
                                     leapcnt,
                                     static_cast<std::uint32_t>(times.size()),
                                     static_cast<std::uint32_t>(ts.size()),
                                     static_cast<std::uint32_t>(chars.size())};
    out += "TZif";
    out += version;
    out.append(15, '\0');
    for (int i = 0; i < 6; ++i) {
      Be32(out, static_cast<std::uint32_t>(counts[i] + (delta ? delta[i] : 0)));
    }
    for (std::int64_t t : times) {
      if (wide) Be32(out, static_cast<std::uint32_t>(t >> 32));
      Be32(out, static_cast<std::uint32_t>(t));
    }
    for (std::uint8_t i : indices) out += static_cast<char>(i);
    for (const Type& t : ts) {
      Be32(out, static_cast<std::uint32_t>(t.utoff));
      out += static_cast<char>(t.is_dst);
      out += static_cast<char>(t.abbr);
    }
    out += chars;
    for (std::uint32_t i = 0; i < leapcnt; ++i) {
      if (wide) Be32(out, 0);
      Be32(out, 78796800 + i * 15000000);
      Be32(out, i + 1);
    }
    out.append(std::size_t{2} * n_ind, '\0');
  }

  std::string Bytes() const {
    std::string out;
    if (v1_blank) {
      out += "TZif";
      out += version;
      out.append(15 + 6 * 4, '\0');
    } else {
      Block(out, false, v1_types.empty() ? types : v1_types, nullptr);
    }
    if (version == 0) return out;
    Block(out, true, types, count_delta);
    out += '\n';
    out += footer;
    out += '\n';
    return out;
  }
};

// Standard at +1h, daylight saving at +2h; two transitions.
Image TwoTransitions() {
  Image im;
  im.times = {1000, 2000};
  im.indices = {1, 0};
  im.types = {{3600, 0, 0}, {7200, 1, 4}};
  im.chars = std::string("STD\0DST\0", 8);
  return im;
}

TEST(ZoneParseTest, ReadsTheRealFiles) {
  for (const char* name : kTestFiles) {
    Zone::Result r = Zone::Parse(ReadTestFile(name));
    EXPECT_FALSE(r.err) << name << ": " << r.err.Text();
  }
  Zone::Result tokyo = Zone::Parse(ReadTestFile("Asia_Tokyo"));
  ASSERT_FALSE(tokyo.err);
  ZoneOffset o = tokyo.zone.Lookup(0);
  EXPECT_EQ(o.utoff, 9 * 3600);
  EXPECT_EQ(o.abbr, "JST");
  // 1950-05-06 15:00 UTC, in the last summer time Japan had.
  o = tokyo.zone.Lookup(-620172000);
  EXPECT_EQ(o.utoff, 10 * 3600);
  EXPECT_TRUE(o.is_dst);
  EXPECT_EQ(o.abbr, "JDT");
  // Before the first transition: local mean time, the first type.
  o = tokyo.zone.Lookup(std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(o.utoff, 9 * 3600 + 18 * 60 + 59);
  EXPECT_EQ(o.abbr, "LMT");
  ASSERT_TRUE(tokyo.zone.Rule().has_value());
  EXPECT_FALSE(tokyo.zone.Rule()->HasDst());
}

// No prefix of a real file is a zone: the cut always lands in a counted
// block or the footer.
TEST(ZoneParseTest, EveryTruncationIsAnError) {
  for (const char* name : kTestFiles) {
    const std::string image = ReadTestFile(name);
    for (std::size_t n = 0; n < image.size(); ++n) {
      ASSERT_TRUE(Zone::Parse(image.substr(0, n)).err)
          << name << " cut to " << n << " bytes";
    }
  }
}

// Each count of either header, off by one or hostile, breaks the file's
// framing or fails its own check.
TEST(ZoneParseTest, CorruptedCountsAreErrors) {
  const std::string image = ReadTestFile("Europe_Dublin");
  const std::size_t second_header = [&image] {
    const std::size_t at = image.find("TZif", 4);
    EXPECT_NE(at, std::string::npos);
    return at;
  }();
  for (std::size_t header : {std::size_t{0}, second_header}) {
    for (int field = 0; field < 6; ++field) {
      const std::size_t at = header + 20 + std::size_t{4} * field;
      for (std::uint32_t v : {0u, 1u, 0x7fffffffu, 0x80000000u, 0xffffffffu}) {
        std::string bad = image;
        for (int i = 0; i < 4; ++i) {
          bad[at + i] = static_cast<char>(v >> (24 - 8 * i) & 0xff);
        }
        if (bad == image) continue;
        EXPECT_TRUE(Zone::Parse(bad).err)
            << "header at " << header << ", count " << field << " = " << v;
      }
    }
  }
}

TEST(ZoneParseTest, MalformedImages) {
  struct Case {
    const char* name;
    void (*breaks)(Image&);
  } cases[] = {
      {"bad magic", [](Image&) {}},  // patched below
      {"unknown version", [](Image& im) { im.version = '5'; }},
      {"version 1 digit", [](Image& im) { im.version = '1'; }},
      {"no types",
       [](Image& im) {
         im.types.clear();
         im.times.clear();
         im.indices.clear();
       }},
      {"type index out of range", [](Image& im) { im.indices[1] = 2; }},
      {"transitions out of order",
       [](Image& im) {
         im.times = {2000, 1000};
       }},
      {"repeated transition",
       [](Image& im) {
         im.times = {1000, 1000};
       }},
      {"is_dst neither 0 nor 1", [](Image& im) { im.types[1].is_dst = 2; }},
      {"abbreviation out of range", [](Image& im) { im.types[1].abbr = 8; }},
      {"abbreviation unterminated",
       [](Image& im) { im.chars = std::string("STD\0DST", 7); }},
      {"offset -2^31",
       [](Image& im) {
         im.types[0].utoff = std::numeric_limits<std::int32_t>::min();
       }},
      {"indicators not one per type",
       [](Image& im) {
         im.count_delta[0] = -1;
         im.count_delta[1] = -1;
       }},
      {"footer does not parse", [](Image& im) { im.footer = "EST5EDT"; }},
      {"footer with a NUL",
       [](Image& im) { im.footer = std::string("EST5\0", 5); }},
  };
  for (const Case& c : cases) {
    Image im = TwoTransitions();
    c.breaks(im);
    std::string bytes = im.Bytes();
    if (c.name == std::string("bad magic")) bytes[3] = 'F';
    Zone::Result r = Zone::Parse(bytes);
    EXPECT_TRUE(r.err) << c.name;
    // A failed parse leaves UTC behind, not half a zone.
    EXPECT_EQ(r.zone.Lookup(1500).utoff, 0) << c.name;
  }

  Image im = TwoTransitions();
  std::string bytes = im.Bytes();
  ASSERT_FALSE(Zone::Parse(bytes).err);
  bytes.pop_back();  // the footer's closing line feed
  EXPECT_TRUE(Zone::Parse(bytes).err);
  bytes.resize(bytes.size() - 1);  // and its opening one (empty footer)
  EXPECT_TRUE(Zone::Parse(bytes).err);
}

TEST(ZoneLookupTest, TransitionsTypesAndFooter) {
  Image im = TwoTransitions();
  im.footer = "ABC-3DEF-4,J1/0,J180/0";
  im.leapcnt = 2;  // skipped: they change no lookup
  Zone::Result r = Zone::Parse(im.Bytes());
  ASSERT_FALSE(r.err) << r.err.Text();
  const Zone& z = r.zone;
  struct Case {
    std::int64_t t;
    std::int32_t utoff;
    bool is_dst;
    const char* abbr;
  } cases[] = {
      {std::numeric_limits<std::int64_t>::min(), 3600, false, "STD"},
      {999, 3600, false, "STD"},
      {1000, 7200, true, "DST"},  // a transition takes effect at its instant
      {1999, 7200, true, "DST"},
      {2000, 3600, false, "STD"},     // the last one too: the data still rules
      {2001, 4 * 3600, true, "DEF"},  // then the footer: 1970-01-01 is DST
      {200L * 86400, 3 * 3600, false, "ABC"},
      {std::numeric_limits<std::int64_t>::max(), 3 * 3600, false, "ABC"},
  };
  for (const Case& c : cases) {
    ZoneOffset o = z.Lookup(c.t);
    EXPECT_EQ(o.utoff, c.utoff) << c.t;
    EXPECT_EQ(o.is_dst, c.is_dst) << c.t;
    EXPECT_EQ(o.abbr, c.abbr) << c.t;
  }
  EXPECT_EQ(z.Transitions(), (std::vector<std::int64_t>{1000, 2000}));
}

TEST(ZoneLookupTest, EmptyFooterKeepsTheLastType) {
  Image im = TwoTransitions();
  im.indices = {0, 1};
  Zone::Result r = Zone::Parse(im.Bytes());
  ASSERT_FALSE(r.err) << r.err.Text();
  EXPECT_FALSE(r.zone.Rule().has_value());
  EXPECT_EQ(r.zone.Lookup(std::numeric_limits<std::int64_t>::max()).abbr,
            "DST");
}

TEST(ZoneLookupTest, NoTransitions) {
  Image im;
  im.types = {{-5 * 3600, 0, 0}};
  im.chars = std::string("EST\0", 4);
  Zone::Result plain = Zone::Parse(im.Bytes());
  ASSERT_FALSE(plain.err) << plain.err.Text();
  EXPECT_EQ(plain.zone.Lookup(0).utoff, -5 * 3600);
  EXPECT_EQ(plain.zone.Lookup(0).abbr, "EST");

  // With a rule, the rule decides at every instant.
  im.footer = "EST5EDT,M3.2.0,M11.1.0";
  Zone::Result ruled = Zone::Parse(im.Bytes());
  ASSERT_FALSE(ruled.err) << ruled.err.Text();
  EXPECT_EQ(ruled.zone.Lookup(1720000000).abbr, "EDT");   // July 2024
  EXPECT_EQ(ruled.zone.Lookup(-1000000000).abbr, "EDT");  // April 1938
  EXPECT_EQ(ruled.zone.Lookup(0).abbr, "EST");
}

TEST(ZoneLookupTest, VersionOneUsesItsOnlyBlock) {
  Image im = TwoTransitions();
  im.version = 0;
  Zone::Result r = Zone::Parse(im.Bytes());
  ASSERT_FALSE(r.err) << r.err.Text();
  EXPECT_EQ(r.zone.Lookup(1500).abbr, "DST");
  EXPECT_EQ(r.zone.Lookup(2500).abbr, "STD");
  EXPECT_FALSE(r.zone.Rule().has_value());
}

// From version 2 on, the 32-bit block is skipped, not merged or preferred.
TEST(ZoneLookupTest, LaterVersionsReadTheWideBlock) {
  for (char version : {'2', '3', '4'}) {
    Image im = TwoTransitions();
    im.version = version;
    im.times = {-(std::int64_t{1} << 40), std::int64_t{1} << 40};
    im.v1_types = {{-3600, 0, 0}, {-7200, 1, 4}};
    Zone::Result r = Zone::Parse(im.Bytes());
    ASSERT_FALSE(r.err) << version << ": " << r.err.Text();
    EXPECT_EQ(r.zone.Lookup(0).utoff, 7200) << version;
    EXPECT_EQ(r.zone.Lookup(std::int64_t{1} << 40).utoff, 3600) << version;
  }
  // Not even checked: a writer may leave it empty.
  Image blank = TwoTransitions();
  blank.v1_blank = true;
  Zone::Result r = Zone::Parse(blank.Bytes());
  ASSERT_FALSE(r.err) << r.err.Text();
  EXPECT_EQ(r.zone.Lookup(1500).abbr, "DST");
}

}  // namespace
}  // namespace quorvale::time
