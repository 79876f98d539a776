// The disc database on a big file: a generated cdplayer.ini of 10,000 discs (about 15 keys each,
// some 2.5 MB). Read_Disc_Info and Write_Disc_Info of a 20-track disc, with the parse cache and
// without it. Targets: read under 2 ms, write under 50 ms.
//
//   BM_ReadDiscInfo            the program's path: one snapshot per read, reused from the cache
//   BM_ReadDiscInfo_NoCache    cache off: the snapshot parses the file once per Read_Disc_Info
//   BM_ReadDiscInfo_ParseEveryRead
//                              cache off and every key read on its own, as profile functions
//                              that read the file on every call would: 25 parses per disc
//   BM_WriteDiscInfo           one update of the whole entry: lock, read, edit, fsync, rename
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "profile/ProfileFile.h"
#include "disc/Ucdobj.h"

namespace {

constexpr int kDiscs = 10000;
const char* kTargetDisc = "4A2F31";  // the 20-track disc, in the middle of the file

struct Database {
  std::string dir, path;
  Database() {
    std::string pattern = "/tmp/zarncd-bench-XXXXXX";
    dir = ::mkdtemp(pattern.data());
    path = dir + "/cdplayer.ini";
    std::string text;
    text.reserve(3 << 20);
    for (int d = 0; d < kDiscs; ++d) {
      char id[16];
      std::snprintf(id, sizeof id, "%06X", 0x100000 + d * 37);
      int tracks = 9 + d % 5;  // 9..13 titles: about 15 keys with the others
      std::string name = id;
      if (d == kDiscs / 2) {
        name = kTargetDisc;
        tracks = 20;
      }
      // "アーティスト <d>" in code page 932, an English title, the counts.
      text.append("[").append(name).append("]\r\nEntryType=1\r\n");
      text.append("artist=\x83\x41\x81\x5B\x83\x65\x83\x42\x83\x58\x83\x67 ");
      text.append(std::to_string(d)).append("\r\ntitle=Album number ").append(std::to_string(d));
      text.append("\r\nnumtracks=").append(std::to_string(tracks)).append("\r\n");
      std::string order;
      for (int t = 0; t < tracks; ++t) {
        text.append(std::to_string(t)).append("=Track title ").append(std::to_string(t + 1));
        text.append(" of disc ").append(std::to_string(d)).append("\r\n");
        order.append(" ").append(std::to_string(t));
      }
      text.append("order=").append(order).append("\r\nnumplay=").append(std::to_string(tracks));
      text.append("\r\n");
    }
    std::ofstream(path, std::ios::binary)
        .write(text.data(), static_cast<std::streamsize>(text.size()));
    ::usleep(100000);  // let the file's time fall clearly into the past, so the cache trusts it
  }
  ~Database() { std::filesystem::remove_all(dir); }
};

Database& Db() {
  static Database db;
  return db;
}

void BM_ReadDiscInfo(benchmark::State& state) {
  ProfileFile::Set_Cache_Enabled(true);
  for (auto _ : state) {
    CD_Object cd(Db().path);
    cd.Read_Disc_Info(kTargetDisc, 20);
    benchmark::DoNotOptimize(cd.Track_Titles.data());
    if (cd.Track_Titles.size() != 20) state.SkipWithError("wrong disc");
  }
}

void BM_ReadDiscInfo_NoCache(benchmark::State& state) {
  ProfileFile::Set_Cache_Enabled(false);
  for (auto _ : state) {
    CD_Object cd(Db().path);
    cd.Read_Disc_Info(kTargetDisc, 20);
    benchmark::DoNotOptimize(cd.Track_Titles.data());
  }
  ProfileFile::Set_Cache_Enabled(true);
}

void BM_ReadDiscInfo_ParseEveryRead(benchmark::State& state) {
  // The steps of Read_Disc_Info with one profile call per key and no cache.
  ProfileFile::Set_Cache_Enabled(false);
  ProfileFile file(Db().path);
  for (auto _ : state) {
    std::int32_t n = file.Profile_Read_Integer(kTargetDisc, "numtracks", 20);
    std::string a = file.Profile_Read_String(kTargetDisc, "artist", "");
    std::string t = file.Profile_Read_String(kTargetDisc, "title", "");
    std::int32_t e = file.Profile_Read_Integer(kTargetDisc, "EntryType", 1);
    std::vector<std::string> titles;
    for (int i = 0; i < n; ++i)
      titles.push_back(file.Profile_Read_String(kTargetDisc, std::to_string(i), ""));
    std::string o = file.Profile_Read_String(kTargetDisc, "order", "");
    std::int32_t p = file.Profile_Read_Integer(kTargetDisc, "numplay", n);
    benchmark::DoNotOptimize(titles.data());
    benchmark::DoNotOptimize(e + p + a.size() + t.size() + o.size());
  }
  ProfileFile::Set_Cache_Enabled(true);
}

void BM_WriteDiscInfo(benchmark::State& state) {
  ProfileFile::Set_Cache_Enabled(true);
  CD_Object cd(Db().path);
  cd.Read_Disc_Info(kTargetDisc, 20);
  int round = 0;
  for (auto _ : state) {
    cd.Title = "Album edited " + std::to_string(++round);  // a real change every time
    cd.Write_Disc_Info();
  }
}

}  // namespace

BENCHMARK(BM_ReadDiscInfo)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_ReadDiscInfo_NoCache)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_ReadDiscInfo_ParseEveryRead)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_WriteDiscInfo)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

BENCHMARK_MAIN();
