// orv_plan as its users meet it: refused options, refusals of the libraries, the explanations in
// its report, and its JSON document checked against a byte-level model of what each plan covers.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "orv_test/scratch_dir.h"
#include "plan_run.h"

namespace {

using nlohmann::json;
using orv_plan_test::Lines;
using orv_plan_test::PlanRun;
using orv_plan_test::RunPlan;

class OrvPlanTest : public ::testing::Test {
 protected:
  // Runs orv_plan with its log in this test's scratch directory.
  PlanRun Plan(std::vector<std::string> args, const std::vector<std::pair<std::string, std::string>>& env = {}) {
    args.push_back("--log-dir");
    args.push_back(logDir_.dir());
    return RunPlan(args, env);
  }
  // Runs orv_plan --json and parses its standard output (which must be one JSON document).
  json PlanJson(std::vector<std::string> args, int expectedStatus = 0) {
    args.push_back("--json");
    const PlanRun run = Plan(args);
    EXPECT_EQ(run.status, expectedStatus) << run.err;
    return json::parse(run.out);
  }
  static bool HasNote(const json& notes, const std::string& text) {
    return std::any_of(notes.begin(), notes.end(),
                       [&](const json& n) { return n.get<std::string>().find(text) != std::string::npos; });
  }
  orv_test::ScratchDir logDir_;
};

TEST_F(OrvPlanTest, BadOptionsExitTwoWithOneLineNamingOptionAndValue) {
  const std::vector<std::vector<std::string>> cases = {
      {"--unit", "67108864"},           // 64 units would not fit a 32-bit extent length
      {"--mapping", "0,1"},             // too short
      {"--mapping", "0,1,2,3,4,5,6,7"}, // too long
      {"--mapping", "0,0,0,0,0,0"},     // not a permutation
      {"--mapping", "0,1,2,3,4,6"},     // id past k + m - 1
      {"--mapping", "0,,1,2,3,4"},
      {"--align", "0x10"},
      {"--align", "3"},                 // does not divide the chunk
      {"--k", "-1"},
      {"--k", "0"},
      {"--k", "257"},
      {"--m", "1e3"},
      {"--chunk", "4096 "},
      {"--chunk", "18446744073709551616"},
      {"--write", "5000"},
      {"--write", "5000:0"},
      {"--read", "1099511627776:1"},    // ends past 2^40
      {"--device", "1000"},             // not a multiple of the unit
      {"--device", "4096"},             // fewer than 64 units
      {"--words-per-entry", "0"},
      {"--log-dir", ""},
      {"--bogus", "1"},
  };
  for (const auto& args : cases) {
    const PlanRun run = RunPlan(args);
    const std::string shown = args[1].empty() ? "\"\"" : args[1];
    EXPECT_EQ(run.status, 2) << args[0] << " " << args[1];
    EXPECT_EQ(run.out, "") << args[0];
    const auto lines = Lines(run.err);
    ASSERT_EQ(lines.size(), 1u) << run.err;
    EXPECT_EQ(lines[0].rfind("orv_plan: " + args[0] + " " + shown + ": ", 0), 0u) << lines[0];
  }
  const PlanRun missing = RunPlan({"--k"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err, "orv_plan: --k: missing value\n");
}

TEST_F(OrvPlanTest, NumbersAreDecimalEvenWithLeadingZeros) {
  const json doc = PlanJson({"--align", "010", "--chunk", "4000"});
  EXPECT_EQ(doc["geometry"]["align_size"], 10u);
}

TEST_F(OrvPlanTest, VersionAndHelp) {
  const PlanRun version = RunPlan({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("orv_plan ") + ORV_PROJECT_VERSION + "\n");
  const PlanRun help = RunPlan({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--words-per-entry"), std::string::npos);
}

#if !defined(__aarch64__)
// The register is simulated on other hosts only.
TEST_F(OrvPlanTest, UnsupportedProcessorIsOneLineAndExitOne) {
  const PlanRun run = Plan({}, {{"ORV_MIDR", "0x12345678"}});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.find("Can not find moduleName"), std::string::npos) << run.err;
  const auto lines = Lines(run.err);
  ASSERT_EQ(lines.size(), 1u) << run.err;
  EXPECT_NE(lines[0].find("processor not supported"), std::string::npos);
}
#endif

TEST_F(OrvPlanTest, RefusedLogDirectoryIsNamedAndExitOne) {
  const PlanRun run = RunPlan({"--log-dir", "/tmp/orv-plan-refused/"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  const auto lines = Lines(run.err);
  ASSERT_FALSE(lines.empty());
  EXPECT_LE(lines.size(), 3u) << run.err;
  EXPECT_EQ(lines.back(), "orv_plan: log directory refused: /tmp/orv-plan-refused/ (liborv_ec did not start; "
                          "logs go under /var/log/ or /home/)");
}

TEST_F(OrvPlanTest, ShortAllocationExitsOneAfterTheReport) {
  const PlanRun run = Plan({"--device", "262144", "--write", "0:1048576", "--json"});
  EXPECT_EQ(run.status, 1);
  const json doc = json::parse(run.out);
  const auto& requests = doc["allocation"]["requests"];
  EXPECT_TRUE(std::any_of(requests.begin(), requests.end(),
                          [](const json& r) { return r["allocated"] < r["requested"]; }));
  EXPECT_NE(run.err.find("orv_plan: allocation came back short: shard "), std::string::npos) << run.err;
  EXPECT_TRUE(doc["allocation"]["levels_consistent"]);
}

TEST_F(OrvPlanTest, DefaultRunAnswersAndExplains) {
  const json doc = PlanJson({});
  EXPECT_EQ(doc["version"], ORV_PROJECT_VERSION);
  const json& w = doc["write"];
  EXPECT_EQ(w["section"], (json{{"offset", 4096}, {"length", 12288}}));
  EXPECT_EQ(w["chunks"], json::parse(R"([{"position":1,"length":3192},{"position":2,"length":4096},
                                          {"position":3,"length":2712}])"));
  EXPECT_EQ(w["decision"], "overwrite");
  EXPECT_TRUE(w["update"].is_null());
  // The overwrite reads the chunks the write does not cover whole: position 0 and the partly
  // written 1 and 3 (2 is written whole).
  EXPECT_EQ(w["read_ranges"], json::parse(R"([{"shard":0,"ranges":[{"offset":0,"length":4096}]},
      {"shard":1,"ranges":[{"offset":0,"length":4096}]},{"shard":3,"ranges":[{"offset":0,"length":4096}]}])"));
  EXPECT_EQ(w["shards_to_write"], json::parse("[1,2,3,4,5]"));
  EXPECT_EQ(w["zero_ranges"], json::parse(R"([{"shard":3,"offset":3072,"length":1024}])"));
  EXPECT_TRUE(HasNote(w["notes"], "zero ranges assume the object ends where the write ends"));
  const json& p = doc["parity"];
  EXPECT_TRUE(p["formed"]);
  EXPECT_TRUE(p["matches_reference"]);
  EXPECT_EQ(p["shard"], 4);
  EXPECT_EQ(p["coding_chunks_not_formed"], 1);
  EXPECT_TRUE(HasNote(p["notes"], "Galois-field arithmetic"));
  for (const auto& r : doc["allocation"]["requests"]) EXPECT_EQ(r["allocated"], r["requested"]) << r["name"];
  EXPECT_EQ(doc["log_file"], logDir_.dir() + "orv_plan.log");

  // The text report carries the same explanations.
  const PlanRun text = Plan({});
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("note: zero ranges assume"), std::string::npos);
  EXPECT_NE(text.out.find("note: XOR parity is the first coding chunk only"), std::string::npos);
}

TEST_F(OrvPlanTest, UnmappedCodingPositionsAreExplainedAndMapped) {
  const json doc = PlanJson({"--mapping", "5,4,3,2,1,0"});
  const json& w = doc["write"];
  EXPECT_EQ(w["shards_to_write"], json::parse("[2,3,4,5]"));  // coding positions 4, 5 as given back
  EXPECT_EQ(w["shards_to_write_mapped"], json::parse("[0,1,2,3,4]"));
  EXPECT_TRUE(HasNote(w["notes"], "4->1 5->0"));
  std::set<std::string> names;
  for (const auto& r : doc["allocation"]["requests"]) names.insert(r["name"].get<std::string>());
  EXPECT_TRUE(names.count("shard 0") == 1 && names.count("shard 1") == 1 && names.count("shard 5") == 0);
}

TEST_F(OrvPlanTest, WholeChunksAreToldApartFromTouchedChunks) {
  const json w = PlanJson({"--write", "16380:8"})["write"];
  EXPECT_EQ(w["decision"], "update");
  EXPECT_EQ(w["touched_chunks"], 2);
  EXPECT_EQ(w["update"]["whole_chunks"], 0);
  EXPECT_TRUE(HasNote(w["notes"], "the write touches 2 chunk(s)"));
}

TEST_F(OrvPlanTest, ParityFormedOnlyWhereXorSuffices) {
  const json one = PlanJson({"--m", "1"})["parity"];
  EXPECT_TRUE(one["formed"]);
  EXPECT_TRUE(one["notes"].empty());
  const json none = PlanJson({"--m", "0"})["parity"];
  EXPECT_FALSE(none["formed"]);
  EXPECT_TRUE(none["shard"].is_null());
  const json three = PlanJson({"--m", "3", "--chunk", "1000", "--align", "8"})["parity"];
  EXPECT_TRUE(three["matches_reference"]);  // a chunk that is not a whole number of 64-byte blocks
  EXPECT_EQ(three["coding_chunks_not_formed"], 2);
}

// --- The plans against a byte-level model ---------------------------------------------------

struct Interval {
  uint64_t begin;
  uint64_t end;
  bool operator<(const Interval& o) const { return begin < o.begin; }
};

// Object byte intervals of per-shard ranges (shard-local offsets), one per chunk piece.
std::vector<Interval> ObjectIntervals(const json& shardRanges, const json& geometry) {
  const uint64_t k = geometry["k"], cSize = geometry["chunk_size"];
  std::map<int, uint64_t> positionOf;
  for (size_t p = 0; p < geometry["mapping"].size(); ++p) positionOf[geometry["mapping"][p].get<int>()] = p;
  std::vector<Interval> out;
  for (const auto& shard : shardRanges) {
    const uint64_t position = positionOf.at(shard["shard"].get<int>());
    EXPECT_LT(position, k) << "a data range on a coding shard";
    for (const auto& r : shard["ranges"]) {
      uint64_t local = r["offset"], left = r["length"];
      while (left > 0) {
        const uint64_t piece = std::min(left, cSize - local % cSize);
        const uint64_t begin = local / cSize * k * cSize + position * cSize + local % cSize;
        out.push_back({begin, begin + piece});
        local += piece;
        left -= piece;
      }
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The intervals, merged where they touch; fails the test where two overlap.
std::vector<Interval> Merged(const std::vector<Interval>& sorted) {
  std::vector<Interval> out;
  for (const auto& i : sorted) {
    if (!out.empty()) {
      EXPECT_LE(out.back().end, i.begin) << "ranges overlap at byte " << i.begin;
    }
    if (!out.empty() && out.back().end == i.begin) {
      out.back().end = i.end;
    } else {
      out.push_back(i);
    }
  }
  return out;
}

TEST_F(OrvPlanTest, PlansCoverExactlyWhatTheModelSays) {
  uint32_t seed = 2024;
  auto next = [&seed](uint64_t bound) {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<uint64_t>(seed >> 8) % bound;
  };
  for (int round = 0; round < 24; ++round) {
    const uint64_t k = 1 + next(6), m = next(3), align = uint64_t{8} << next(4), cSize = align * (1 + next(8));
    const uint64_t sWidth = k * cSize;
    std::vector<int> mapping(k + m);
    for (size_t i = 0; i < mapping.size(); ++i) mapping[i] = static_cast<int>(i);
    for (size_t i = mapping.size(); i > 1; --i) std::swap(mapping[i - 1], mapping[next(i)]);
    std::string mappingText;
    for (int id : mapping) mappingText += (mappingText.empty() ? "" : ",") + std::to_string(id);
    const uint64_t wOff = next(3 * sWidth), wLen = 1 + next(3 * sWidth);
    const uint64_t rOff = next(3 * sWidth), rLen = 1 + next(3 * sWidth);
    const std::string what = "k " + std::to_string(k) + " m " + std::to_string(m) + " chunk " +
                             std::to_string(cSize) + " write " + std::to_string(wOff) + ":" + std::to_string(wLen) +
                             " read " + std::to_string(rOff) + ":" + std::to_string(rLen) + " mapping " + mappingText;
    SCOPED_TRACE(what);
    const json doc = PlanJson({"--k", std::to_string(k), "--m", std::to_string(m), "--chunk", std::to_string(cSize),
                               "--align", std::to_string(align), "--mapping", mappingText, "--write",
                               std::to_string(wOff) + ":" + std::to_string(wLen), "--read",
                               std::to_string(rOff) + ":" + std::to_string(rLen), "--words-per-entry",
                               std::to_string(1 + next(4))});
    const json& g = doc["geometry"];

    // The read plan covers the read range exactly once.
    const auto read = Merged(ObjectIntervals(doc["read"]["ranges"], g));
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].begin, rOff);
    EXPECT_EQ(read[0].end, rOff + rLen);

    // The write's reads: an update reads its whole chunks; an overwrite reads every chunk of its
    // stripes that it does not write whole.
    const json& w = doc["write"];
    std::vector<Interval> expected;
    const uint64_t wEnd = wOff + wLen;
    // One piece per touched chunk, together exactly the write.
    uint64_t pieceBytes = 0;
    for (const auto& c : w["chunks"]) pieceBytes += c["length"].get<uint64_t>();
    EXPECT_EQ(pieceBytes, wLen);
    EXPECT_EQ(w["touched_chunks"], w["chunks"].size());
    EXPECT_EQ(w["touched_chunks"], (wEnd + cSize - 1) / cSize - wOff / cSize);
    if (w["decision"] == "update") {
      expected.push_back({wOff / cSize * cSize, (wEnd + cSize - 1) / cSize * cSize});
    } else {
      for (uint64_t c = wOff / sWidth * sWidth; c < (wEnd + sWidth - 1) / sWidth * sWidth; c += cSize) {
        if (!(wOff <= c && c + cSize <= wEnd)) expected.push_back({c, c + cSize});
      }
    }
    const auto wantRead = Merged(expected);
    const auto gotRead = Merged(ObjectIntervals(w["read_ranges"], g));
    ASSERT_EQ(gotRead.size(), wantRead.size());
    for (size_t i = 0; i < gotRead.size(); ++i) {
      EXPECT_EQ(gotRead[i].begin, wantRead[i].begin);
      EXPECT_EQ(gotRead[i].end, wantRead[i].end);
    }

    // Shards to write: the data shards of the section's chunks, and every coding shard.
    std::set<int> shards;
    for (uint64_t c = wOff / cSize * cSize; c < wEnd; c += cSize) shards.insert(mapping[c % sWidth / cSize]);
    for (uint64_t p = k; p < k + m; ++p) shards.insert(mapping[p]);
    EXPECT_EQ(w["shards_to_write_mapped"], json(shards));

    // Every request is met with whole units, inside the device, and no unit is handed out twice.
    const json& a = doc["allocation"];
    const uint64_t unit = a["unit_bytes"], device = a["device_bytes"];
    std::vector<Interval> taken;
    for (const auto& r : a["requests"]) {
      uint64_t sum = 0;
      for (const auto& e : r["extents"]) {
        const uint64_t off = e["offset"], len = e["length"];
        EXPECT_TRUE(off % unit == 0 && len % unit == 0 && len > 0 && off + len <= device);
        taken.push_back({off, off + len});
        sum += len;
      }
      EXPECT_EQ(sum, r["allocated"]);
      EXPECT_EQ(r["allocated"], r["requested"]);
    }
    std::sort(taken.begin(), taken.end());
    Merged(taken);
    EXPECT_TRUE(a["levels_consistent"]);
  }
}

}  // namespace
