// Identifier filtering: the library's matcher side by side with the plain
// recursive matcher of the tests, on a pattern with many stars and on an
// ordinary list.
#include <benchmark/benchmark.h>

#include <string>

#include "../tests/filter/reference_matcher.h"
#include "filter/filter.h"
#include "goals.h"

namespace trovex {

namespace {

const char ManyStars[] = "*a*a*a*a*a*a*a*a*a*a*b";  // 10 stars before "a", one before "b"

template <bool (*match)(const char*, const char*)>
void manyStars(benchmark::State& state) {
  const std::string name(static_cast<size_t>(state.range(0)), 'a');
  for (auto _ : state) benchmark::DoNotOptimize(match(ManyStars, name.c_str()));
}

// The recursive matcher tries on the order of C(n, 10) splits: about 2e5 at 20
// characters, 3e7 at 30 and 1.7e13 at 100, so it runs only on short names; the
// library runs on those too, for the side-by-side ratio, and on 100, 1000 and
// 2000 characters.
BENCHMARK(manyStars<matchPatternList>)->Name("ManyStars/library")
    ->Arg(16)->Arg(20)->Arg(24)->Arg(100)->Arg(1000)->Arg(2000);
BENCHMARK(manyStars<reference::matchPatternList>)->Name("ManyStars/reference")
    ->Arg(16)->Arg(20)->Arg(24);

// Ten patterns of the kinds a host writes, and identifiers that match one of
// them early, late, or none.
const char OrdinaryList[] =
    "NET*;DISK?;*debug*;MOD[0-9]*;init;SERIAL\\;COM*;[!a-c]*log;Print?r;COM[1-4];*trace*";
const char* const OrdinaryIds[] = {
    "NETWORK",  "disk1",  "MyDebugOutput", "MOD7core",      "Init",         "serial;com2",
    "eventlog", "Printer", "COM3",          "PROTOCOL_TRACE", "ReadConfigFile", "SystemInfoReport",
};

template <bool (*match)(const char*, const char*)>
void ordinaryList(benchmark::State& state) {
  for (auto _ : state)
    for (const char* id : OrdinaryIds) benchmark::DoNotOptimize(match(OrdinaryList, id));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(sizeof OrdinaryIds / sizeof OrdinaryIds[0]));
}

BENCHMARK(ordinaryList<matchPatternList>)->Name("OrdinaryList/library");
BENCHMARK(ordinaryList<reference::matchPatternList>)->Name("OrdinaryList/reference");

const bool registered =
    addGoal({"matcher: ten stars, 24 characters / recursive matcher", "ManyStars/library/24", "ManyStars/reference/24",
             RatioKind::Time, 0}) &&
    addGoal({"matcher: ordinary list / recursive matcher", "OrdinaryList/library", "OrdinaryList/reference", RatioKind::Time, 0});

}  // namespace


}  // namespace trovex
