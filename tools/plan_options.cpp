// Parsing and checking of orv_plan's options. Every number is decimal (leading zeros do not make
// it octal), every value is checked against its range, and a bad value ends the run with a message
// that names the option and the value.
#include "plan_options.h"

#include <cstring>
#include <set>

namespace orv_plan {
namespace {

bool ParseDecimal(const std::string& text, uint64_t& value) {
  if (text.empty()) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const auto digit = static_cast<uint64_t>(c - '0');
    if (v > (UINT64_MAX - digit) / 10u) return false;
    v = v * 10u + digit;
  }
  value = v;
  return true;
}

// "OFF:LEN"
bool ParseRange(const std::string& text, Range& range) {
  const size_t colon = text.find(':');
  return colon != std::string::npos && ParseDecimal(text.substr(0, colon), range.first) &&
         ParseDecimal(text.substr(colon + 1), range.second);
}

// "a,b,c": decimal numbers separated by single commas.
bool ParseList(const std::string& text, std::vector<uint64_t>& values) {
  values.clear();
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    uint64_t v = 0;
    if (!ParseDecimal(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start), v)) {
      return false;
    }
    values.push_back(v);
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

class Parser {
 public:
  Parser(PlanOptions& o, std::string& error) : o_(o), error_(error) {}

  // Applies one option with its value; false (with the message set) when the value is refused.
  bool Apply(const std::string& name, const std::string& value) {
    name_ = name;
    value_ = value;
    if (name == "--k") return Number(1, 256, o_.k);
    if (name == "--m") return Number(0, 256, o_.codingChunks);
    if (name == "--chunk") return Number(1, uint64_t{1} << 20, o_.chunkSize);
    if (name == "--align") return Number(1, uint64_t{1} << 20, o_.alignSize);
    if (name == "--device") return Number(1, UINT64_MAX, o_.deviceBytes);
    if (name == "--unit") return Number(1, kMaxUnit, o_.unitBytes);
    if (name == "--words-per-entry") {
      uint64_t w = 0;
      if (!Number(1, 64, w)) return false;
      o_.wordsPerEntry = static_cast<uint32_t>(w);
      return true;
    }
    if (name == "--write") return RangeValue(o_.write);
    if (name == "--read") return RangeValue(o_.read);
    if (name == "--mapping") return MappingValue();
    if (name == "--log-dir") {
      if (value.empty()) return Fail("must not be empty (an empty directory would log to the default place)");
      o_.logDir = value;
      return true;
    }
    return Fail("unknown option");
  }

  // Checks between options, after all are read.
  bool CheckTogether() {
    if (o_.chunkSize % o_.alignSize != 0) {
      name_ = "--align";
      value_ = std::to_string(o_.alignSize);
      return Fail("must divide the chunk size " + std::to_string(o_.chunkSize));
    }
    if (mappingGiven_) {
      name_ = "--mapping";
      value_ = mappingText_;
      const uint64_t n = o_.k + o_.codingChunks;
      if (mapping_.size() != n) {
        return Fail("needs " + std::to_string(n) + " shard ids (k + m), got " + std::to_string(mapping_.size()));
      }
      std::set<uint64_t> seen;
      for (uint64_t id : mapping_) {
        if (id >= n) return Fail("shard id " + std::to_string(id) + " is not below k + m = " + std::to_string(n));
        if (!seen.insert(id).second) return Fail("shard id " + std::to_string(id) + " appears twice");
      }
      o_.mapping.assign(mapping_.begin(), mapping_.end());
    }
    if (o_.deviceBytes % o_.unitBytes != 0) {
      name_ = "--device";
      value_ = std::to_string(o_.deviceBytes);
      return Fail("must be a multiple of the unit " + std::to_string(o_.unitBytes));
    }
    const uint64_t units = o_.deviceBytes / o_.unitBytes;
    if (units < 64 || units > (uint64_t{1} << 28)) {
      name_ = "--device";
      value_ = std::to_string(o_.deviceBytes);
      return Fail("must hold 64 to 2^28 units of " + std::to_string(o_.unitBytes) + " bytes, holds " +
                  std::to_string(units));
    }
    return true;
  }

 private:
  bool Fail(const std::string& why) {
    error_ = "orv_plan: " + name_ + " " + (value_.empty() ? "\"\"" : value_) + ": " + why;
    return false;
  }

  bool Number(uint64_t lo, uint64_t hi, uint64_t& out) {
    uint64_t v = 0;
    if (!ParseDecimal(value_, v)) {
      const bool digits = !value_.empty() && value_.find_first_not_of("0123456789") == std::string::npos;
      return Fail(digits ? "too large" : "not a decimal number");
    }
    if (v < lo || v > hi) return Fail("out of range " + std::to_string(lo) + ".." + std::to_string(hi));
    out = v;
    return true;
  }

  bool RangeValue(Range& out) {
    Range r{0, 0};
    if (!ParseRange(value_, r)) return Fail("not OFFSET:LENGTH in decimal bytes");
    if (r.second == 0) return Fail("the length must be at least 1");
    if (r.first > kOffsetCap || r.second > kOffsetCap - r.first) return Fail("the range must end at or below 2^40");
    out = r;
    return true;
  }

  bool MappingValue() {
    if (!ParseList(value_, mapping_)) return Fail("not a comma-separated list of decimal shard ids");
    mappingGiven_ = true;
    mappingText_ = value_;
    return true;
  }

  PlanOptions& o_;
  std::string& error_;
  std::string name_;
  std::string value_;
  std::vector<uint64_t> mapping_;
  bool mappingGiven_ = false;
  std::string mappingText_;
};

}  // namespace

ParseOutcome ParsePlanOptions(int argc, const char* const* argv, PlanOptions& options, std::string& error) {
  Parser parser(options, error);
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    if (name == "--help" || name == "-h") return ParseOutcome::kHelp;
    if (name == "--version") return ParseOutcome::kVersion;
    if (name == "--json") {
      options.json = true;
      continue;
    }
    std::string value;
    const size_t eq = name.find('=');
    if (name.compare(0, 2, "--") == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      error = "orv_plan: " + name + ": missing value";
      return ParseOutcome::kError;
    }
    if (!parser.Apply(name, value)) return ParseOutcome::kError;
  }
  return parser.CheckTogether() ? ParseOutcome::kRun : ParseOutcome::kError;
}

const char* UsageText() {
  return "usage: orv_plan [options]\n"
         "Plans a partial write and a read of an erasure-coded object, forms its XOR parity and\n"
         "allocates space for the written shards on a fragmented device. All numbers are decimal.\n"
         "  --k N                 data chunks per stripe, 1..256 (default 4)\n"
         "  --m N                 coding chunks per stripe, 0..256 (default 2)\n"
         "  --chunk BYTES         chunk size, 1..1048576 (default 4096)\n"
         "  --align BYTES         alignment unit, dividing the chunk size (default 512)\n"
         "  --mapping a,b,..      shard id of each chunk position: a permutation of 0..k+m-1\n"
         "                        (default: shard id = position)\n"
         "  --write OFF:LEN       byte range written, ending at or below 2^40 (default 5000:10000)\n"
         "  --read OFF:LEN        byte range read, ending at or below 2^40 (default 1000:30000)\n"
         "  --log-dir DIR         log directory under /var/log/ or /home/ (default /var/log/orv_plan/)\n"
         "  --device BYTES        device size, 64..2^28 units (default 1073741824)\n"
         "  --unit BYTES          allocation unit, 1..67108863 (default 4096)\n"
         "  --words-per-entry W   level-0 words per level-1 slot, 1..64 (default 1)\n"
         "  --json                print one JSON document instead of the text report\n"
         "  --version             print the version and exit\n"
         "  --help                print this text and exit\n"
         "Exit status: 0 done; 1 the libraries refused to start or an allocation came back short;\n"
         "2 a bad option.\n";
}

}  // namespace orv_plan
