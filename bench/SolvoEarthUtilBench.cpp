// Name searches run over whole building models (hundreds of thousands of parts) on the page's
// thread, and every text from the page is decoded: both must stay cheap at that size.
#include <SolvoEarthUtil/loading/Decode.h>
#include <SolvoEarthUtil/scene/NodeSearch.h>

#include <osg/Geode>

#include <benchmark/benchmark.h>

namespace {

// A model of `parts` geodes named like building elements, 100 to a storey group.
osg::ref_ptr<osg::Group> makeModel(int parts)
{
    osg::ref_ptr<osg::Group> root = new osg::Group;
    osg::Group* storey = nullptr;
    for (int i = 0; i < parts; ++i)
    {
        if (i % 100 == 0)
        {
            storey = new osg::Group;
            storey->setName("storey " + std::to_string(i / 100));
            root->addChild(storey);
        }
        osg::ref_ptr<osg::Geode> part = new osg::Geode;
        part->setName("IfcWallStandardCase:Basic Wall:" + std::to_string(i) + "[" + std::to_string(100000 + i) + "]");
        storey->addChild(part.get());
    }
    return root;
}

void BM_findNodesByName(benchmark::State& state)
{
    osg::ref_ptr<osg::Group> model = makeModel(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(SolvoEarthUtil::findNodesByName(model.get(), "[1000", "Geode"));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_findNodesByName)->Arg(10000)->Arg(200000)->Unit(benchmark::kMillisecond);

void BM_findNodeByNameLast(benchmark::State& state)
{
    const int parts = static_cast<int>(state.range(0));
    osg::ref_ptr<osg::Group> model = makeModel(parts);
    const std::string last = "[" + std::to_string(100000 + parts - 1) + "]";
    for (auto _ : state)
        benchmark::DoNotOptimize(SolvoEarthUtil::findNodeByName(model.get(), last, nullptr));
    state.SetItemsProcessed(state.iterations() * parts);
}
BENCHMARK(BM_findNodeByNameLast)->Arg(200000)->Unit(benchmark::kMillisecond);

void BM_decode(benchmark::State& state)
{
    std::string text;
    while (text.size() < static_cast<size_t>(state.range(0)))
        text += "%E9%A1%B9%E7%9B%AE+wall%5B101%5D,";
    for (auto _ : state)
        benchmark::DoNotOptimize(SolvoEarthUtil::decode(text));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_decode)->Arg(64)->Arg(1 << 20);

} // namespace
