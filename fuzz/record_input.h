// Fuzzed bytes as a small job and whole records of it, written to files in
// a directory of the harness's own (in memory where the system has
// /dev/shm: a fold syncs its file). libFuzzer keeps its corpus by relative
// paths, so the working directory is left alone but while a merge writes
// its output.csv (in_fuzz_dir).
//
// The first byte picks the job: baseres 1 or 2 (1 or 16 grid points), 1
// to 3 turn counts, a random pass every 0 to 4 samples. The rest is split
// at "\n--\n" into records. A record that begins with '1' or '2' gets a
// header of that format with the job's hash (format 2: its next byte picks
// the split, shard K of N up to 4), so that the fuzzer reaches its lines;
// any other is written as it is, its header its own.
#pragma once
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/job_input.h"
#include "results/record.h"
#include "util/text_util.h"

inline const std::string& fuzz_dir() {
  static std::string dir;
  if (!dir.empty()) return dir;
  std::string name = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/veldspan-fuzz-XXXXXX";
  if (!mkdtemp(&name[0])) std::abort();
  return dir = name;
}

// Runs step with the harness's directory as the working directory.
template <typename Step>
void in_fuzz_dir(Step step) {
  char previous[4096];
  if (!getcwd(previous, sizeof previous) || chdir(fuzz_dir().c_str()) != 0) std::abort();
  step();
  if (chdir(previous) != 0) std::abort();
}

inline std::string fuzzed_job_text(uint8_t pick) {
  std::string turns[] = {"10", "10 100", "1 10 100"};
  return format_text("baseres %d\niterations %s\nrandompasses %d\n", 1 + pick % 2, turns[(pick / 2) % 3].c_str(),
                     (pick / 6) % 5);
}

inline std::string fuzzed_header(const std::string& chunk, uint64_t hash, size_t* body) {
  int32_t split = chunk.size() > 1 ? uint8_t(chunk[1]) : 0, shards = 1 + split % 4, shard = split / 4 % shards;
  *body = chunk[0] == '2' ? 2 : 1;
  RecordHeader h{chunk[0] - '0', hash, shard, chunk[0] == '2' ? shards : 0, "cpu", "1.1.0", "CPU", "single"};
  if (chunk[0] == '2') return record_header_text(&h);
  return format_text("veldspan-record 1 job %016llx engine cpu version 1.1.0 renderer CPU\n",
                     static_cast<unsigned long long>(hash));
}

// Writes the records, rec0.rec, rec1.rec, ... in the harness's directory;
// their paths.
inline std::vector<std::string> write_fuzzed_records(const std::string& bytes, uint64_t hash) {
  std::vector<std::string> paths;
  for (size_t start = 0; start <= bytes.size() && paths.size() < 8;) {
    size_t end = bytes.find("\n--\n", start), body = 0;
    std::string chunk = bytes.substr(start, end == std::string::npos ? std::string::npos : end - start), text = chunk;
    if (!chunk.empty() && (chunk[0] == '1' || chunk[0] == '2'))
      text = fuzzed_header(chunk, hash, &body) + chunk.substr(std::min(body, chunk.size()));
    paths.push_back(fuzz_dir() + format_text("/rec%d.rec", int(paths.size())));
    FILE* file = std::fopen(paths.back().c_str(), "wb");
    if (!file || std::fwrite(text.data(), 1, text.size(), file) != text.size() || std::fclose(file) != 0) std::abort();
    if (end == std::string::npos) break;
    start = end + 4;
  }
  return paths;
}
