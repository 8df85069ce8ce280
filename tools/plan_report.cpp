// Text and JSON renderings of one orv_plan run. Byte offsets and lengths are JSON integers.
#include "plan_report.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace orv_plan {
namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char buf[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  return buf;
}

std::string RangeText(const Range& r) { return Format("[%" PRIu64 ", +%" PRIu64 ")", r.first, r.second); }

std::string ShardSetLine(const char* title, const std::set<int>& shards) {
  std::string line = Format("  %-22s", title);
  if (shards.empty()) line += " (none)";
  for (int s : shards) line += Format(" %d", s);
  return line + "\n";
}

std::string ShardRangesText(const char* title, const ShardRanges& ranges) {
  std::string text = Format("  %s\n", title);
  if (ranges.empty()) text += "    (none)\n";
  for (const auto& shard : ranges) {
    text += Format("    shard %d:", shard.first);
    for (const auto& r : shard.second) text += " " + RangeText(r);
    text += "\n";
  }
  return text;
}

std::string NotesText(const std::vector<std::string>& notes) {
  std::string text;
  for (const auto& note : notes) text += "  note: " + note + "\n";
  return text;
}

// A small JSON writer: values are appended in order, commas and quoting are its business.
class Json {
 public:
  Json& Open(char bracket) {
    Separate();
    out_ += bracket;
    first_.push_back(true);
    return *this;
  }
  Json& Close(char bracket) {
    out_ += bracket;
    first_.pop_back();
    return *this;
  }
  Json& Key(const char* key) {
    Separate();
    Quote(key);
    out_ += ':';
    afterKey_ = true;
    return *this;
  }
  Json& Number(uint64_t v) { return Raw(std::to_string(v)); }
  Json& Int(int v) { return Raw(std::to_string(v)); }
  Json& Bool(bool v) { return Raw(v ? "true" : "false"); }
  Json& Null() { return Raw("null"); }
  Json& String(const std::string& s) {
    Separate();
    Quote(s);
    return *this;
  }
  Json& Range(const char* key, const orv_plan::Range& r) {
    Key(key).Open('{').Key("offset").Number(r.first).Key("length").Number(r.second).Close('}');
    return *this;
  }
  Json& Ints(const char* key, const std::set<int>& values) {
    Key(key).Open('[');
    for (int v : values) Int(v);
    return Close(']');
  }
  Json& Strings(const char* key, const std::vector<std::string>& values) {
    Key(key).Open('[');
    for (const auto& v : values) String(v);
    return Close(']');
  }
  Json& ShardRangeList(const char* key, const ShardRanges& ranges) {
    Key(key).Open('[');
    for (const auto& shard : ranges) {
      Open('{').Key("shard").Int(shard.first).Key("ranges").Open('[');
      for (const auto& r : shard.second) Open('{').Key("offset").Number(r.first).Key("length").Number(r.second).Close('}');
      Close(']').Close('}');
    }
    return Close(']');
  }
  std::string Text() const { return out_ + "\n"; }

 private:
  void Quote(const std::string& s) {
    out_ += '"';
    for (const char ch : s) {
      const auto c = static_cast<unsigned char>(ch);
      if (c == '"' || c == '\\') {
        out_ += '\\';
        out_ += static_cast<char>(c);
      } else if (c < 0x20) {
        out_ += Format("\\u%04x", c);
      } else {
        out_ += static_cast<char>(c);
      }
    }
    out_ += '"';
  }
  Json& Raw(const std::string& text) {
    Separate();
    out_ += text;
    return *this;
  }
  void Separate() {
    if (afterKey_) {
      afterKey_ = false;
      return;
    }
    if (!first_.empty()) {
      if (!first_.back()) out_ += ',';
      first_.back() = false;
    }
  }
  std::string out_;
  std::vector<bool> first_;
  bool afterKey_ = false;
};

std::string WriteText(const PlanRun& run) {
  const WritePlan& w = run.write;
  std::string text = "Partial write " + RangeText(w.range) + "\n";
  text += "  chunk-aligned section  " + RangeText(w.section) + "\n";
  text += Format("  touched chunks         %" PRIu64 " (position:bytes)", w.touchedChunks);
  for (const auto& c : w.chunks) text += Format(" %" PRIu64 ":%" PRIu64, c.first, c.second);
  text += "\n";
  if (w.update) {
    text += Format("  decision               update (from chunk position %" PRIu64 ", %" PRIu64
                   " whole chunk(s) of data, %" PRIu64 " bytes per chunk)\n",
                   w.updateChunks.index, w.updateChunks.count, w.updateChunks.chunkLen);
  } else {
    text += "  decision               overwrite\n";
  }
  text += ShardRangesText("shard ranges to read first:", w.readFirst);
  text += ShardSetLine("shards to write", w.shardsToWrite);
  if (w.shardsToWrite != w.shardsToWriteMapped) text += ShardSetLine("shards to write, mapped", w.shardsToWriteMapped);
  text += "  zero ranges\n";
  if (w.zeroRanges.empty()) text += "    (none)\n";
  for (const auto& z : w.zeroRanges) text += Format("    shard %d: %s\n", z.first, RangeText(z.second).c_str());
  return text + NotesText(w.notes);
}

std::string ParityText(const PlanRun& run) {
  const ParityResult& p = run.parity;
  std::string text = Format("Parity of one stripe (%" PRIu64 " data chunks, %" PRIu64 " bytes each)\n",
                            run.options.k, p.bytes);
  if (p.formed) {
    text += Format("  XOR parity checksum    %016" PRIx64 " (%s the byte-wise reference), for shard %d\n",
                   p.checksum, p.matchesReference ? "matches" : "DIFFERS FROM", p.shard);
  }
  return text + NotesText(p.notes);
}

std::string AllocationText(const PlanRun& run) {
  const AllocationResult& a = run.allocation;
  std::string text = Format("Allocation on a %" PRIu64 "-byte device of %" PRIu64 "-byte units (%" PRIu32
                            " level-0 word(s) per slot)\n",
                            run.options.deviceBytes, run.options.unitBytes, run.options.wordsPerEntry);
  text += Format("  before                 partial slots %" PRIu64 ", free slots %" PRIu64 ", free units %" PRIu64 "\n",
                 a.partialBefore, a.freeBefore, a.freeUnitsBefore);
  for (const auto& r : a.requests) {
    text += Format("  %-22s %" PRIu64 " of %" PRIu64 " bytes in %zu extent(s):", r.name.c_str(), r.allocated,
                   r.requested, r.extents.size());
    size_t shown = 0;
    for (const auto& e : r.extents) {
      if (shown++ == 6) {
        text += " ...";
        break;
      }
      text += Format(" %" PRIu64 "+%" PRIu32, e.offset, e.length);
    }
    text += "\n";
  }
  text += Format("  after                  partial slots %" PRIu64 ", free slots %" PRIu64 "; levels %s\n",
                 a.partialAfter, a.freeAfter, a.levelsConsistent ? "consistent with level 0" : "OUT OF STEP");
  return text;
}

}  // namespace

std::string TextReport(const PlanRun& run) {
  const ZoEcInfo& info = run.info;
  std::string text = Format("Geometry: k %" PRIu64 ", %" PRIu64 " coding chunks, chunk %" PRIu64 " bytes, stripe %" PRIu64
                            " bytes, alignment %" PRIu64 " bytes\n",
                            info.k, run.options.codingChunks, info.cSize, info.sWidth, info.alignSize);
  if (!run.options.mapping.empty()) {
    text += "  mapping (position->shard)";
    for (size_t p = 0; p < run.options.mapping.size(); ++p) text += Format(" %zu->%d", p, run.options.mapping[p]);
    text += "\n";
  }
  text += "\n" + WriteText(run) + "\n";
  text += "Read " + RangeText(run.read.range) + "\n";
  text += ShardSetLine("data shards touched", run.read.dataShards);
  text += ShardRangesText("shard ranges to read:", run.read.ranges) + "\n";
  text += ParityText(run) + "\n" + AllocationText(run) + "\n";
  return text + "Log: " + run.logFile + "\n";
}

std::string JsonReport(const PlanRun& run, const std::string& version) {
  const PlanOptions& o = run.options;
  const WritePlan& w = run.write;
  Json j;
  j.Open('{').Key("version").String(version);
  j.Key("geometry").Open('{').Key("k").Number(o.k).Key("m").Number(o.codingChunks);
  j.Key("chunk_count").Number(run.info.chunkCount).Key("chunk_size").Number(o.chunkSize);
  j.Key("stripe_width").Number(run.info.sWidth).Key("align_size").Number(o.alignSize);
  j.Key("mapping").Open('[');
  for (uint64_t p = 0; p < run.info.chunkCount; ++p) j.Int(ShardOf(o.mapping, p));
  j.Close(']').Close('}');

  j.Key("write").Open('{').Key("offset").Number(w.range.first).Key("length").Number(w.range.second);
  j.Range("section", w.section);
  j.Key("chunks").Open('[');
  for (const auto& c : w.chunks) j.Open('{').Key("position").Number(c.first).Key("length").Number(c.second).Close('}');
  j.Close(']').Key("touched_chunks").Number(w.touchedChunks);
  j.Key("decision").String(w.update ? "update" : "overwrite").Key("update");
  if (w.update) {
    j.Open('{').Key("index").Number(w.updateChunks.index).Key("whole_chunks").Number(w.updateChunks.count);
    j.Key("chunk_length").Number(w.updateChunks.chunkLen).Close('}');
  } else {
    j.Null();
  }
  j.ShardRangeList("read_ranges", w.readFirst);
  j.Ints("shards_to_write", w.shardsToWrite).Ints("shards_to_write_mapped", w.shardsToWriteMapped);
  j.Key("zero_ranges").Open('[');
  for (const auto& z : w.zeroRanges) {
    j.Open('{').Key("shard").Int(z.first).Key("offset").Number(z.second.first);
    j.Key("length").Number(z.second.second).Close('}');
  }
  j.Close(']').Strings("notes", w.notes).Close('}');

  j.Key("read").Open('{').Key("offset").Number(run.read.range.first).Key("length").Number(run.read.range.second);
  j.Ints("data_shards", run.read.dataShards).ShardRangeList("ranges", run.read.ranges).Close('}');

  const ParityResult& p = run.parity;
  j.Key("parity").Open('{').Key("formed").Bool(p.formed).Key("chunk_bytes").Number(p.bytes).Key("shard");
  if (p.formed) {
    j.Int(p.shard).Key("checksum").String(Format("%016" PRIx64, p.checksum));
  } else {
    j.Null().Key("checksum").Null();
  }
  j.Key("matches_reference").Bool(p.matchesReference).Key("coding_chunks_not_formed").Number(p.notFormed);
  j.Strings("notes", p.notes).Close('}');

  const AllocationResult& a = run.allocation;
  j.Key("allocation").Open('{').Key("device_bytes").Number(o.deviceBytes).Key("unit_bytes").Number(o.unitBytes);
  j.Key("words_per_entry").Number(o.wordsPerEntry).Key("units").Number(a.units);
  j.Key("free_units_before").Number(a.freeUnitsBefore);
  j.Key("before").Open('{').Key("partial_slots").Number(a.partialBefore).Key("free_slots").Number(a.freeBefore).Close('}');
  j.Key("after").Open('{').Key("partial_slots").Number(a.partialAfter).Key("free_slots").Number(a.freeAfter).Close('}');
  j.Key("requests").Open('[');
  for (const auto& r : a.requests) {
    j.Open('{').Key("name").String(r.name).Key("requested").Number(r.requested).Key("allocated").Number(r.allocated);
    j.Key("extents").Open('[');
    for (const auto& e : r.extents) j.Open('{').Key("offset").Number(e.offset).Key("length").Number(e.length).Close('}');
    j.Close(']').Close('}');
  }
  j.Close(']').Key("levels_consistent").Bool(a.levelsConsistent).Close('}');
  j.Key("log_file").String(run.logFile).Close('}');
  return j.Text();
}

}  // namespace orv_plan
